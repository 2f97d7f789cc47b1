/*
 * usb_printer.cpp - a simulated USB bus for the tests: a stand-in for
 * libusb-1.0, loaded into the real programs (CUPS's usb backend,
 * ovik-printer-app through PAPPL) with LD_PRELOAD. It implements the calls
 * those programs make and nothing more.
 *
 * The bus is a file named by OVIK_USB_BUS, read at every device list:
 *
 *   log FILE                 (optional) one line per event, for a failing test
 *   device                   starts a device; then its lines:
 *   class printer|keyboard   what it is (default printer)
 *   vendor HEX, product HEX  its USB ids
 *   manufacturer TEXT, product-name TEXT, serial TEXT   its string descriptors
 *   id TEXT                  its IEEE 1284 device ID (printers)
 *   port N                   the ovik-sim port on 127.0.0.1 behind it (printers)
 *   state FILE               its plug state file (printers)
 *
 * A printer has one configuration with one interface of two alternate
 * settings: 0 is unidirectional (protocol 1, bulk OUT 0x01), 1 is
 * bidirectional (protocol 2, bulk OUT 0x01 and bulk IN 0x82). It answers the
 * printer class requests GET_DEVICE_ID (two-byte big-endian length, then the
 * ID), GET_PORT_STATUS and SOFT_RESET, and GET_CONFIGURATION; any other
 * request stalls. The kernel's usblp driver is bound to it until detached.
 * Bulk OUT goes to ovik-sim over one loopback connection per open handle,
 * made at the first bulk transfer; bulk IN returns what ovik-sim sends back.
 * A bulk IN with nothing to read waits for data until its timeout, as a
 * printer that NAKs does.
 *
 * The state file holds one word, read again at every call and every 50 ms
 * of a wait, so that a test changes it while a job runs:
 *
 *   plugged (or no file)  the printer is there
 *   unplugged             it is gone: not listed, every call LIBUSB_ERROR_NO_DEVICE
 *   unplug-after N        the cable is pulled once N more bytes have gone out
 *                         (mid-transfer); the file then says unplugged
 *   stall                 its bulk endpoints stall: LIBUSB_ERROR_PIPE
 *   silent                it never answers: transfers time out
 *   slow-reads MS         every bulk IN that gets data returns it MS later
 *
 * After an unplug, the handles and devices of before stay dead when it is
 * plugged back: a program must list and open it again. Test code only;
 * never installed.
 */
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libusb.h>

namespace {

using steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int tick_ms = 50;                  /* longest wait before the state is read again */
constexpr unsigned string_timeout_ms = 1000; /* libusb's own for string descriptors */
constexpr uint8_t out_endpoint = 0x01, in_endpoint = 0x82;
constexpr uint8_t printer_config = 1; /* bConfigurationValue */

/* bmRequestType of the requests a printer answers. */
constexpr uint8_t standard_in = 0x80;         /* device to host, standard, device */
constexpr uint8_t class_in = 0xa1;            /* device to host, class, interface */
constexpr uint8_t class_out_interface = 0x21; /* host to device, class, interface */
constexpr uint8_t class_out_other = 0x23;     /* host to device, class, other */

/* ---------- the bus file ---------- */

/* One device of the bus file. */
struct device_config {
  bool printer = true;
  uint16_t vendor = 0, product = 0;
  std::string manufacturer, product_name, serial, device_id, state_file;
  int port = 0;
};

/* The bus file's devices, and the log file it names. */
struct bus_config {
  std::vector<std::shared_ptr<const device_config>> devices;
  std::string log_file;
};

/* Reads the bus file named by OVIK_USB_BUS; no devices without one. */
bus_config read_bus()
{
  bus_config config;
  const char *path = getenv("OVIK_USB_BUS");
  std::ifstream in(path ? path : "");
  std::shared_ptr<device_config> current;
  std::string line;
  while (std::getline(in, line)) {
    size_t from = line.find_first_not_of(" \t");
    if (from == std::string::npos || line[from] == '#')
      continue;
    size_t space = line.find_first_of(" \t", from);
    std::string key = line.substr(from, space - from);
    std::string value = space == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", space));
    if (key == "device") {
      current = std::make_shared<device_config>();
      config.devices.push_back(current);
    } else if (key == "log") {
      config.log_file = value;
    } else if (current && key == "class") {
      current->printer = value == "printer";
    } else if (current && (key == "vendor" || key == "product")) {
      (key == "vendor" ? current->vendor : current->product) = uint16_t(strtoul(value.c_str(), nullptr, 16));
    } else if (current && key == "manufacturer") {
      current->manufacturer = value;
    } else if (current && key == "product-name") {
      current->product_name = value;
    } else if (current && key == "serial") {
      current->serial = value;
    } else if (current && key == "id") {
      current->device_id = value;
    } else if (current && key == "port") {
      current->port = atoi(value.c_str());
    } else if (current && key == "state") {
      current->state_file = value;
    }
  }
  return config;
}

/* What this process has seen of a device: each time it is plugged back it
 * is a new device (a new generation), with usblp bound again; the bytes
 * left before a planned unplug. */
struct presence {
  unsigned generation = 0;
  bool out = false;
  bool usblp_bound = true;
  long long budget_version = 0, budget = -1;
};

/* What this process knows of the bus, and the log file the bus file names.
 * It is never destroyed: a thread of the program (CUPS's read thread) may
 * still be in a transfer while the program exits. */
struct bus_state {
  std::mutex lock; /* guards presences */
  std::map<std::string, presence> presences;
  std::mutex log_lock; /* guards log_file */
  std::string log_file;
};
bus_state &bus();

/* Appends one line to the bus log, when there is one. */
void log_event(const char *format, ...)
{
  std::string path;
  {
    std::lock_guard<std::mutex> hold(bus().log_lock);
    path = bus().log_file;
  }
  if (path.empty())
    return;
  char text[512];
  int n = snprintf(text, sizeof text, "%d ", int(getpid()));
  va_list args;
  va_start(args, format);
  vsnprintf(text + n, sizeof text - size_t(n) - 1, format, args);
  va_end(args);
  strcat(text, "\n");
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ssize_t ignored = write(fd, text, strlen(text));
    (void)ignored;
    close(fd);
  }
}

/* ---------- plug state ---------- */

enum class plug { plugged, unplugged, unplug_after, stall, silent, slow_reads };

/* What the state file says now. */
struct plug_state {
  plug word = plug::plugged;
  long long number = 0;       /* N of unplug-after, MS of slow-reads */
  long long file_version = 0; /* tells one writing of the file from the next */
};

/* The words of the state file. */
constexpr struct {
  const char *word;
  plug state;
} plug_words[] = {
    {"plugged", plug::plugged}, {"unplugged", plug::unplugged}, {"unplug-after", plug::unplug_after},
    {"stall", plug::stall},     {"silent", plug::silent},       {"slow-reads", plug::slow_reads},
};

/* Reads a device's state file. */
plug_state read_plug(const device_config &c)
{
  plug_state s;
  struct stat st;
  if (c.state_file.empty() || stat(c.state_file.c_str(), &st) != 0)
    return s;
  s.file_version = (long long)st.st_ino * 1000003 + st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  std::ifstream in(c.state_file);
  std::string word;
  in >> word >> s.number;
  for (const auto &w : plug_words)
    if (word == w.word)
      s.word = w.state;
  return s;
}

bus_state &bus()
{
  static bus_state *state = new bus_state;
  return *state;
}

/* The key of a device among the presences. */
std::string key_of(const device_config &c)
{
  char ids[16];
  snprintf(ids, sizeof ids, "%04x:%04x:", c.vendor, c.product);
  return ids + c.serial;
}

/* The device's state now, its presence brought up to date; bus().lock held. */
plug_state look(const device_config &c, presence **p)
{
  plug_state s = read_plug(c);
  presence &mine = bus().presences[key_of(c)];
  if (s.word == plug::unplugged) {
    mine.out = true;
  } else if (mine.out) {
    mine = presence{mine.generation + 1, false, true, 0, -1};
    log_event("plugged in again: %s", c.serial.c_str());
  }
  if (s.word == plug::unplug_after && mine.budget_version != s.file_version) {
    mine.budget_version = s.file_version;
    mine.budget = s.number;
  }
  *p = &mine;
  return s;
}

/* Pulls the cable: the state file says so from now on; bus().lock held. */
void pull_plug(const device_config &c, presence &p)
{
  std::string temp = c.state_file + ".usb";
  FILE *f = fopen(temp.c_str(), "w");
  if (f) {
    fputs("unplugged\n", f);
    fclose(f);
    rename(temp.c_str(), c.state_file.c_str());
  }
  p.out = true;
  p.budget = -1;
  log_event("unplugged mid-transfer: %s", c.serial.c_str());
}

/* ---------- descriptors ---------- */

/* A configuration descriptor with everything it points to, in one block
 * that libusb_free_config_descriptor releases. */
struct config_block {
  libusb_config_descriptor config;
  libusb_interface interface;
  libusb_interface_descriptor altsettings[2];
  libusb_endpoint_descriptor endpoints[3];
};

/* A bulk or interrupt endpoint descriptor. */
libusb_endpoint_descriptor endpoint(uint8_t address, uint8_t type)
{
  libusb_endpoint_descriptor e{};
  e.bLength = LIBUSB_DT_ENDPOINT_SIZE;
  e.bDescriptorType = LIBUSB_DT_ENDPOINT;
  e.bEndpointAddress = address;
  e.bmAttributes = type;
  e.wMaxPacketSize = type == LIBUSB_TRANSFER_TYPE_BULK ? 64 : 8;
  e.bInterval = type == LIBUSB_TRANSFER_TYPE_BULK ? 0 : 10;
  return e;
}

/* An interface descriptor of interface 0. */
libusb_interface_descriptor altsetting(uint8_t alt, uint8_t cls, uint8_t subclass, uint8_t protocol,
                                       const libusb_endpoint_descriptor *endpoints, uint8_t count)
{
  libusb_interface_descriptor a{};
  a.bLength = LIBUSB_DT_INTERFACE_SIZE;
  a.bDescriptorType = LIBUSB_DT_INTERFACE;
  a.bAlternateSetting = alt;
  a.bNumEndpoints = count;
  a.bInterfaceClass = cls;
  a.bInterfaceSubClass = subclass;
  a.bInterfaceProtocol = protocol;
  a.endpoint = endpoints;
  return a;
}

/* The configuration of a printer (two alternate settings) or a keyboard. */
config_block *make_config(const device_config &c)
{
  auto *b = new config_block{};
  if (c.printer) {
    b->endpoints[0] = endpoint(out_endpoint, LIBUSB_TRANSFER_TYPE_BULK);
    b->endpoints[1] = endpoint(out_endpoint, LIBUSB_TRANSFER_TYPE_BULK);
    b->endpoints[2] = endpoint(in_endpoint, LIBUSB_TRANSFER_TYPE_BULK);
    b->altsettings[0] = altsetting(0, LIBUSB_CLASS_PRINTER, 1, 1, &b->endpoints[0], 1);
    b->altsettings[1] = altsetting(1, LIBUSB_CLASS_PRINTER, 1, 2, &b->endpoints[1], 2);
    b->interface.num_altsetting = 2;
  } else {
    b->endpoints[0] = endpoint(0x81, LIBUSB_TRANSFER_TYPE_INTERRUPT);
    b->altsettings[0] = altsetting(0, LIBUSB_CLASS_HID, 1, 1, &b->endpoints[0], 1);
    b->interface.num_altsetting = 1;
  }
  b->interface.altsetting = b->altsettings;
  libusb_config_descriptor &d = b->config;
  d.bLength = LIBUSB_DT_CONFIG_SIZE;
  d.bDescriptorType = LIBUSB_DT_CONFIG;
  d.bNumInterfaces = 1;
  d.bConfigurationValue = printer_config;
  d.bmAttributes = 0xc0;
  d.MaxPower = 50;
  d.interface = &b->interface;
  unsigned total = LIBUSB_DT_CONFIG_SIZE;
  for (int i = 0; i < b->interface.num_altsetting; i++)
    total += LIBUSB_DT_INTERFACE_SIZE + LIBUSB_DT_ENDPOINT_SIZE * b->altsettings[i].bNumEndpoints;
  d.wTotalLength = uint16_t(total);
  return b;
}

} // namespace

/* ---------- devices and handles ---------- */

struct libusb_device {
  std::atomic<int> refs{1};
  std::shared_ptr<const device_config> config;
  unsigned generation = 0; /* the plug-in it was listed in */
};

struct libusb_device_handle {
  libusb_device *device = nullptr;
  std::atomic<int> refs{1}; /* the caller's, and one per call under way */
  std::mutex lock;          /* guards what follows */
  int fd = -1;              /* the connection to ovik-sim, open until the handle goes */
  bool shut = false;        /* the connection's sending side is shut */
  bool gone = false;        /* closed, unplugged, or the printer hung up: dead for good */
  bool claimed = false;
  int alt = 0;
};

namespace {

/* What a call on a handle finds: the state, or that the device is gone. */
struct found {
  plug_state state;
  bool gone = false;
};

/* Shuts the connection to the printer: the simulator sees the end of the
 * stream, reads the rest, and hangs up; its replies are read off meanwhile
 * so that the close sends no reset that could cost it data. */
void hang_up(libusb_device_handle *h)
{
  int fd;
  {
    std::lock_guard<std::mutex> hold(h->lock);
    if (h->fd < 0 || h->shut)
      return;
    h->shut = true;
    fd = h->fd;
  }
  shutdown(fd, SHUT_WR);
  auto end = steady::now() + milliseconds(3000);
  char junk[512];
  while (steady::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, tick_ms) > 0 && recv(fd, junk, sizeof junk, MSG_DONTWAIT) == 0)
      break;
  }
}

/* Drops a reference on a handle; the last one frees it. */
void release(libusb_device_handle *h)
{
  if (--h->refs > 0)
    return;
  if (h->fd >= 0)
    close(h->fd);
  libusb_unref_device(h->device);
  delete h;
}

/* Checks a handle against the device's state; a dead handle hangs up. */
found check(libusb_device_handle *h)
{
  found f;
  const device_config &c = *h->device->config;
  {
    std::lock_guard<std::mutex> hold(bus().lock);
    presence *p = nullptr;
    f.state = look(c, &p);
    f.gone = f.state.word == plug::unplugged || p->generation != h->device->generation;
  }
  {
    std::lock_guard<std::mutex> hold(h->lock);
    h->gone = h->gone || f.gone;
    f.gone = h->gone;
  }
  if (f.gone)
    hang_up(h);
  return f;
}

/* The connection to the printer, made at the first bulk transfer; -1 when
 * the simulator cannot be reached. */
int connection(libusb_device_handle *h)
{
  std::lock_guard<std::mutex> hold(h->lock);
  if (h->gone || h->shut)
    return -1;
  if (h->fd >= 0)
    return h->fd;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // A small send buffer: what the printer has not taken holds up the sender.
  int size = 16384, one = 1;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(h->device->config->port));
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    log_event("cannot reach the printer on 127.0.0.1:%d: %s", h->device->config->port, strerror(errno));
    close(fd);
    return -1;
  }
  h->fd = fd;
  return fd;
}

/* Time left until deadline in ms, at most a tick; a timeout of 0 never ends. */
int wait_ms(unsigned timeout, steady::time_point deadline)
{
  if (timeout == 0)
    return tick_ms;
  auto left = std::chrono::duration_cast<milliseconds>(deadline - steady::now()).count();
  return int(std::clamp<long long>(left, 0, tick_ms));
}

bool expired(unsigned timeout, steady::time_point deadline)
{
  return timeout != 0 && steady::now() >= deadline;
}

/* Not a libusb code: a bulk transfer waits a tick more. */
constexpr int go_on = 1;

/* One turn of a bulk transfer: the device's state, the timeout, and the
 * connection. 0 with fd when bytes may move now, go_on after a tick of a
 * silent printer, else the error to return. */
int bulk_turn(libusb_device_handle *h, unsigned timeout, steady::time_point deadline, found &f, int &fd)
{
  f = check(h);
  if (f.gone)
    return LIBUSB_ERROR_NO_DEVICE;
  if (f.state.word == plug::stall)
    return LIBUSB_ERROR_PIPE;
  if (expired(timeout, deadline))
    return LIBUSB_ERROR_TIMEOUT;
  if (f.state.word == plug::silent) {
    std::this_thread::sleep_for(milliseconds(wait_ms(timeout, deadline)));
    return go_on;
  }
  fd = connection(h);
  return fd < 0 ? LIBUSB_ERROR_IO : 0;
}

/* The simulator closed the connection: the printer is gone for this handle. */
void hung_up(libusb_device_handle *h, const char *why)
{
  log_event("the printer hung up: %s", why);
  std::lock_guard<std::mutex> hold(h->lock);
  h->gone = true;
}

/* Bulk OUT: the bytes onto the connection, as the printer takes them. */
int bulk_out(libusb_device_handle *h, const unsigned char *data, int length, int *actual, unsigned timeout)
{
  auto deadline = steady::now() + milliseconds(timeout);
  int sent = 0;
  for (;;) {
    found f;
    int fd = -1, turn = bulk_turn(h, timeout, deadline, f, fd);
    *actual = sent;
    if (turn == go_on)
      continue;
    if (turn != 0 || sent == length)
      return turn;
    size_t allowed = size_t(length - sent);
    if (f.state.word == plug::unplug_after) {
      std::lock_guard<std::mutex> hold(bus().lock);
      presence &p = bus().presences[key_of(*h->device->config)];
      if (p.budget == 0) {
        pull_plug(*h->device->config, p);
        continue;
      }
      allowed = std::min<size_t>(allowed, size_t(p.budget));
    }
    pollfd pf{fd, POLLOUT, 0};
    if (poll(&pf, 1, wait_ms(timeout, deadline)) <= 0)
      continue;
    ssize_t n = send(fd, data + sent, allowed, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      hung_up(h, strerror(errno));
    if (n > 0)
      sent += int(n);
    if (n > 0 && f.state.word == plug::unplug_after) {
      std::lock_guard<std::mutex> hold(bus().lock);
      presence &p = bus().presences[key_of(*h->device->config)];
      p.budget = std::max(0LL, p.budget - n);
    }
  }
}

/* Bulk IN: what the printer sent back, once there is some or at the timeout. */
int bulk_in(libusb_device_handle *h, unsigned char *data, int length, int *actual, unsigned timeout)
{
  auto deadline = steady::now() + milliseconds(timeout);
  steady::time_point seen{};
  *actual = 0;
  for (;;) {
    found f;
    int fd = -1, turn = bulk_turn(h, timeout, deadline, f, fd);
    if (turn == go_on)
      continue;
    if (turn != 0)
      return turn;
    pollfd pf{fd, POLLIN, 0};
    if (poll(&pf, 1, wait_ms(timeout, deadline)) <= 0)
      continue;
    // A slow printer: what came is handed over only after the delay.
    if (f.state.word == plug::slow_reads) {
      if (seen == steady::time_point{})
        seen = steady::now();
      if (steady::now() < seen + milliseconds(f.state.number)) {
        std::this_thread::sleep_for(milliseconds(tick_ms));
        continue;
      }
    }
    ssize_t n = recv(fd, data, size_t(length), MSG_DONTWAIT);
    if (n > 0) {
      *actual = int(n);
      return LIBUSB_SUCCESS;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR))
      hung_up(h, n == 0 ? "end of stream" : strerror(errno));
  }
}

/* Waits out a control request to a printer that does not answer: the
 * timeout, or until it answers again; false when the wait ran out. */
bool answers(libusb_device_handle *h, unsigned timeout, found &f)
{
  auto deadline = steady::now() + milliseconds(timeout);
  while (!f.gone && f.state.word == plug::silent) {
    if (expired(timeout, deadline))
      return false;
    std::this_thread::sleep_for(milliseconds(wait_ms(timeout, deadline)));
    f = check(h);
  }
  return true;
}

/* A reference on a handle for the length of a call: a close on another
 * thread does not free it under the call. */
struct handle_use {
  libusb_device_handle *h;
  explicit handle_use(libusb_device_handle *handle) : h(handle) { h->refs++; }
  ~handle_use() { release(h); }
};

/* The interface and alternate setting a request names exist on the device. */
bool valid_interface(const libusb_device_handle *h, int interface, int alt = 0)
{
  return interface == 0 && alt >= 0 && alt < (h->device->config->printer ? 2 : 1);
}

/* The start of a call on an interface: 0 to go on, or the error to return. */
int interface_call(libusb_device_handle *h, int interface, int alt = 0)
{
  if (check(h).gone)
    return LIBUSB_ERROR_NO_DEVICE;
  return valid_interface(h, interface, alt) ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

/* Whether usblp is bound to the handle's device; bus().lock held. */
bool &usblp_bound(libusb_device_handle *h)
{
  return bus().presences[key_of(*h->device->config)].usblp_bound;
}

/* Whether the handle has claimed the interface. */
bool claimed(libusb_device_handle *h)
{
  std::lock_guard<std::mutex> hold(h->lock);
  return h->claimed;
}

/* Binds usblp to the interface again, or takes it off: NOT_FOUND when
 * there is none to take off, BUSY when it is bound already or the
 * interface is claimed. */
int bind_usblp(libusb_device_handle *h, int interface, bool bind)
{
  handle_use use(h);
  if (int error = interface_call(h, interface))
    return error;
  bool in_use = claimed(h);
  std::lock_guard<std::mutex> hold(bus().lock);
  bool &bound = usblp_bound(h);
  if (!h->device->config->printer || (!bind && !bound))
    return LIBUSB_ERROR_NOT_FOUND;
  if (bind && (bound || in_use))
    return LIBUSB_ERROR_BUSY;
  bound = bind;
  log_event("usblp %s %s", bind ? "attached to" : "detached from", h->device->config->serial.c_str());
  return LIBUSB_SUCCESS;
}

} // namespace

/* ---------- the calls ---------- */

extern "C" {

int libusb_init(libusb_context **ctx)
{
  if (ctx)
    *ctx = nullptr;
  return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context *) {}

const char *libusb_strerror(int code)
{
  static const struct {
    int code;
    const char *text;
  } texts[] = {
      {LIBUSB_SUCCESS, "Success"},
      {LIBUSB_ERROR_IO, "Input/Output Error"},
      {LIBUSB_ERROR_INVALID_PARAM, "Invalid parameter"},
      {LIBUSB_ERROR_ACCESS, "Access denied (insufficient permissions)"},
      {LIBUSB_ERROR_NO_DEVICE, "No such device (it may have been disconnected)"},
      {LIBUSB_ERROR_NOT_FOUND, "Entity not found"},
      {LIBUSB_ERROR_BUSY, "Resource busy"},
      {LIBUSB_ERROR_TIMEOUT, "Operation timed out"},
      {LIBUSB_ERROR_OVERFLOW, "Overflow"},
      {LIBUSB_ERROR_PIPE, "Pipe error"},
      {LIBUSB_ERROR_INTERRUPTED, "System call interrupted (perhaps due to signal)"},
      {LIBUSB_ERROR_NO_MEM, "Insufficient memory"},
      {LIBUSB_ERROR_NOT_SUPPORTED, "Operation not supported or unimplemented on this platform"},
      {LIBUSB_ERROR_OTHER, "Other error"},
  };
  for (const auto &t : texts)
    if (t.code == code)
      return t.text;
  return "Unknown error";
}

ssize_t libusb_get_device_list(libusb_context *, libusb_device ***list)
{
  bus_config config = read_bus();
  {
    std::lock_guard<std::mutex> hold(bus().log_lock);
    bus().log_file = config.log_file;
  }
  std::vector<libusb_device *> found;
  for (const auto &c : config.devices) {
    unsigned generation;
    {
      std::lock_guard<std::mutex> hold(bus().lock);
      presence *p = nullptr;
      if (look(*c, &p).word == plug::unplugged)
        continue;
      generation = p->generation;
    }
    auto *d = new libusb_device;
    d->config = c;
    d->generation = generation;
    found.push_back(d);
  }
  *list = static_cast<libusb_device **>(calloc(found.size() + 1, sizeof(libusb_device *)));
  std::copy(found.begin(), found.end(), *list);
  return ssize_t(found.size());
}

void libusb_free_device_list(libusb_device **list, int unref)
{
  if (!list)
    return;
  for (libusb_device **d = list; unref && *d; d++)
    libusb_unref_device(*d);
  free(list);
}

libusb_device *libusb_ref_device(libusb_device *dev)
{
  dev->refs++;
  return dev;
}

void libusb_unref_device(libusb_device *dev)
{
  if (dev && --dev->refs == 0)
    delete dev;
}

int libusb_get_device_descriptor(libusb_device *dev, libusb_device_descriptor *desc)
{
  const device_config &c = *dev->config;
  *desc = libusb_device_descriptor{};
  desc->bLength = LIBUSB_DT_DEVICE_SIZE;
  desc->bDescriptorType = LIBUSB_DT_DEVICE;
  desc->bcdUSB = 0x0200;
  desc->bMaxPacketSize0 = 64;
  desc->idVendor = c.vendor;
  desc->idProduct = c.product;
  desc->bcdDevice = 0x0100;
  desc->iManufacturer = 1;
  desc->iProduct = 2;
  desc->iSerialNumber = c.serial.empty() ? 0 : 3;
  desc->bNumConfigurations = 1;
  return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device *dev, uint8_t index, libusb_config_descriptor **config)
{
  if (index != 0)
    return LIBUSB_ERROR_NOT_FOUND;
  *config = &make_config(*dev->config)->config;
  return LIBUSB_SUCCESS;
}

void libusb_free_config_descriptor(libusb_config_descriptor *config)
{
  delete reinterpret_cast<config_block *>(config);
}

int libusb_open(libusb_device *dev, libusb_device_handle **handle)
{
  auto *h = new libusb_device_handle;
  h->device = libusb_ref_device(dev);
  found f = check(h);
  if (f.gone) {
    release(h);
    log_event("open %s: no device", dev->config->serial.c_str());
    return LIBUSB_ERROR_NO_DEVICE;
  }
  *handle = h;
  return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle *h)
{
  if (!h)
    return;
  {
    // A transfer waiting on another thread sees the close within a tick.
    std::lock_guard<std::mutex> hold(h->lock);
    h->gone = true;
  }
  hang_up(h);
  release(h);
}

int libusb_get_string_descriptor_ascii(libusb_device_handle *h, uint8_t index, unsigned char *data, int length)
{
  handle_use use(h);
  found f = check(h);
  if (!f.gone && !answers(h, string_timeout_ms, f))
    return LIBUSB_ERROR_TIMEOUT;
  if (f.gone)
    return LIBUSB_ERROR_NO_DEVICE;
  if (index == 0 || length <= 0)
    return LIBUSB_ERROR_INVALID_PARAM;
  const device_config &c = *h->device->config;
  const std::string *text = index == 1   ? &c.manufacturer
                            : index == 2 ? &c.product_name
                            : index == 3 ? &c.serial
                                         : nullptr;
  if (!text || text->empty())
    return LIBUSB_ERROR_PIPE;
  int n = std::min(int(text->size()), length - 1);
  memcpy(data, text->data(), size_t(n));
  data[n] = 0;
  return n;
}

int libusb_set_configuration(libusb_device_handle *h, int configuration)
{
  handle_use use(h);
  if (check(h).gone)
    return LIBUSB_ERROR_NO_DEVICE;
  std::lock_guard<std::mutex> hold(h->lock);
  if (h->claimed)
    return LIBUSB_ERROR_BUSY;
  return configuration == printer_config || configuration == -1 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_kernel_driver_active(libusb_device_handle *h, int interface)
{
  handle_use use(h);
  if (int error = interface_call(h, interface))
    return error;
  std::lock_guard<std::mutex> hold(bus().lock);
  return h->device->config->printer && usblp_bound(h) ? 1 : 0;
}

int libusb_detach_kernel_driver(libusb_device_handle *h, int interface)
{
  return bind_usblp(h, interface, false);
}

int libusb_attach_kernel_driver(libusb_device_handle *h, int interface)
{
  return bind_usblp(h, interface, true);
}

int libusb_claim_interface(libusb_device_handle *h, int interface)
{
  handle_use use(h);
  if (int error = interface_call(h, interface))
    return error;
  {
    std::lock_guard<std::mutex> hold(bus().lock);
    if (h->device->config->printer && usblp_bound(h)) {
      log_event("claim of %s refused: usblp is bound", h->device->config->serial.c_str());
      return LIBUSB_ERROR_BUSY;
    }
  }
  std::lock_guard<std::mutex> hold(h->lock);
  h->claimed = true;
  return LIBUSB_SUCCESS;
}

int libusb_release_interface(libusb_device_handle *h, int interface)
{
  handle_use use(h);
  if (int error = interface_call(h, interface))
    return error;
  std::lock_guard<std::mutex> hold(h->lock);
  if (!h->claimed)
    return LIBUSB_ERROR_NOT_FOUND;
  h->claimed = false;
  h->alt = 0;
  return LIBUSB_SUCCESS;
}

int libusb_set_interface_alt_setting(libusb_device_handle *h, int interface, int alt)
{
  handle_use use(h);
  if (int error = interface_call(h, interface, alt))
    return error;
  std::lock_guard<std::mutex> hold(h->lock);
  if (!h->claimed)
    return LIBUSB_ERROR_NOT_FOUND;
  h->alt = alt;
  return LIBUSB_SUCCESS;
}

int libusb_reset_device(libusb_device_handle *h)
{
  handle_use use(h);
  return check(h).gone ? LIBUSB_ERROR_NOT_FOUND : LIBUSB_SUCCESS;
}

int libusb_control_transfer(libusb_device_handle *h, uint8_t request_type, uint8_t request, uint16_t value,
                            uint16_t index, unsigned char *data, uint16_t length, unsigned int timeout)
{
  handle_use use(h);
  found f = check(h);
  if (!f.gone && !answers(h, timeout, f))
    return LIBUSB_ERROR_TIMEOUT;
  if (f.gone)
    return LIBUSB_ERROR_NO_DEVICE;
  const device_config &c = *h->device->config;
  if (request_type == standard_in && request == LIBUSB_REQUEST_GET_CONFIGURATION && length >= 1) {
    data[0] = printer_config;
    return 1;
  }
  if (!c.printer)
    return LIBUSB_ERROR_PIPE;
  // GET_DEVICE_ID: wValue the configuration index, wIndex the interface
  // (high byte) and alternate setting (low byte).
  if (request_type == class_in && request == 0 && value == 0 && valid_interface(h, index >> 8, index & 0xff)) {
    size_t total = c.device_id.size() + 2;
    std::vector<unsigned char> reply = {uint8_t(total >> 8), uint8_t(total & 0xff)};
    reply.insert(reply.end(), c.device_id.begin(), c.device_id.end());
    size_t n = std::min<size_t>(length, reply.size());
    memcpy(data, reply.data(), n);
    return int(n);
  }
  // GET_PORT_STATUS: selected, no error.
  if (request_type == class_in && request == 1 && valid_interface(h, index >> 8) && length >= 1) {
    data[0] = 0x18;
    return 1;
  }
  // SOFT_RESET, to the interface or (as older hosts send it) to "other".
  if ((request_type == class_out_interface || request_type == class_out_other) && request == 2)
    return 0;
  log_event("control request %02x %02x %04x %04x stalled", request_type, request, value, index);
  return LIBUSB_ERROR_PIPE;
}

int libusb_bulk_transfer(libusb_device_handle *h, unsigned char endpoint, unsigned char *data, int length, int *actual,
                         unsigned int timeout)
{
  handle_use use(h);
  int ignored = 0;
  if (!actual)
    actual = &ignored;
  *actual = 0;
  bool in = endpoint == in_endpoint;
  {
    std::lock_guard<std::mutex> hold(h->lock);
    // The endpoint must be one of the alternate setting in use; bulk
    // transfers on an interface nobody claimed claim it, as Linux does.
    if (!h->device->config->printer || (endpoint != out_endpoint && !in) || (in && h->alt != 1))
      return LIBUSB_ERROR_IO;
  }
  if (!claimed(h) && libusb_claim_interface(h, 0) != LIBUSB_SUCCESS)
    return LIBUSB_ERROR_BUSY;
  int result = in ? bulk_in(h, data, length, actual, timeout) : bulk_out(h, data, length, actual, timeout);
  if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_TIMEOUT)
    log_event("bulk %s of %d bytes: %s after %d", in ? "in" : "out", length, libusb_strerror(result), *actual);
  return result;
}

} // extern "C"
