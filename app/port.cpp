/*
 * port.cpp - the way to the printer over a PAPPL device: writes, and reads
 * of the printer's replies with a deadline of the caller's.
 *
 * papplDeviceRead waits as long as the device likes (10 s for a socket or a
 * USB printer that says nothing). A network printer's replies are read
 * from the device's socket directly, with the caller's deadline. Other
 * devices read on the port's own thread, and the caller waits only as long
 * as it wants; such a read is started only right after a flush, since
 * papplDeviceRead flushes the device's write buffer on entry, which must
 * not meet a write of the job's thread. Once the reader is inside the
 * read, writes may go on beside it.
 */
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "ovik_app.h"

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

/* Reads that fail at once, in a row, after which the way back counts as
 * broken (a USB printer unplugged fails every read at once). */
constexpr int broken_after = 3;

/* Serves one read at a time for the port. */
void reader_loop(device_port *p)
{
  std::unique_lock<std::mutex> hold(p->lock);
  for (;;) {
    p->changed.wait(hold, [p] { return p->read_asked || p->stop; });
    if (p->stop)
      return;
    p->read_asked = false;
    p->reading = true;
    p->changed.notify_all();
    hold.unlock();
    uint8_t buffer[64];
    auto started = steady::now();
    ssize_t n = papplDeviceRead(p->device, buffer, sizeof buffer);
    bool at_once = steady::now() - started < 100ms;
    hold.lock();
    p->reading = false;
    if (n > 0) {
      p->received.insert(p->received.end(), buffer, buffer + n);
      p->failed_reads = 0;
    } else if (n == 0) {
      p->hung_up = true; // a socket's end of file: the printer closed the connection
    } else if (at_once && ++p->failed_reads >= broken_after) {
      p->broken = true;
    }
    p->changed.notify_all();
  }
}

int send_cb(void *context, const uint8_t *data, size_t length)
{
  return port_write(*static_cast<device_port *>(context), data, length) != 0;
}

int read_cb(void *context, int timeout_ms, uint8_t *byte)
{
  return port_read(*static_cast<device_port *>(context), timeout_ms, byte);
}

/* Drops what came back unasked: late replies, automatic status. */
void discard_cb(void *context)
{
  auto *p = static_cast<device_port *>(context);
  std::lock_guard<std::mutex> hold(p->lock);
  p->received.clear();
  pollfd ready = {p->socket, POLLIN, 0};
  uint8_t buffer[64];
  for (int i = 0; p->socket >= 0 && i < 64 && poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN); i++)
    if (recv(p->socket, buffer, sizeof buffer, MSG_DONTWAIT) <= 0)
      break; // an end of file or an error is for the next read to find
}

/* The connected socket of a network device (socket, dnssd and snmp URIs,
 * which PAPPL 1.3.1 opens alike and whose device data starts with the
 * descriptor), or -1: then the device is read through PAPPL. */
int socket_of(pappl_device_t *device, const char *uri)
{
  const char *schemes[] = {"socket:", "dnssd:", "snmp:"};
  bool network = false;
  for (const char *scheme : schemes)
    network = network || (uri && std::strncmp(uri, scheme, std::strlen(scheme)) == 0);
  const int *data = network ? static_cast<const int *>(papplDeviceGetData(device)) : nullptr;
  struct stat info {};
  sockaddr_storage peer{};
  socklen_t peer_length = sizeof peer;
  if (!data || *data < 0 || fstat(*data, &info) != 0 || !S_ISSOCK(info.st_mode) ||
      getpeername(*data, reinterpret_cast<sockaddr *>(&peer), &peer_length) != 0)
    return -1;
  return *data;
}

/* A read from the printer's socket within timeout_ms. */
int socket_read(device_port &p, int timeout_ms, uint8_t *byte)
{
  if (p.received.empty() && !p.hung_up && !p.broken) {
    pollfd ready = {p.socket, POLLIN, 0};
    int n = poll(&ready, 1, timeout_ms);
    if (n < 0 && errno != EINTR)
      p.broken = true;
    if (n > 0) {
      uint8_t buffer[64];
      ssize_t got = read(p.socket, buffer, sizeof buffer);
      if (got > 0)
        p.received.insert(p.received.end(), buffer, buffer + got);
      else if (got == 0 || errno == ECONNRESET)
        p.hung_up = true; // closed, or reset with bytes it had not read
      else if (errno != EINTR && errno != EAGAIN)
        p.broken = true;
    }
  }
  if (!p.received.empty()) {
    *byte = p.received.front();
    p.received.pop_front();
    return 1;
  }
  return p.hung_up || p.broken ? -1 : 0;
}

} // namespace

void port_open(device_port &p, pappl_device_t *device, const char *uri)
{
  p.device = device;
  p.received.clear();
  p.read_asked = p.reading = p.hung_up = p.broken = p.stop = false;
  p.failed_reads = 0;
  p.port = {send_cb, read_cb, discard_cb, &p, nullptr};
  p.socket = socket_of(device, uri);
  if (p.socket < 0)
    p.reader = std::thread(reader_loop, &p);
}

void port_close(device_port &p)
{
  if (!p.reader.joinable()) {
    p.device = nullptr;
    return;
  }
  {
    std::unique_lock<std::mutex> hold(p.lock);
    p.changed.wait(hold, [&] { return !p.reading && !p.read_asked; });
    p.stop = true;
    p.changed.notify_all();
  }
  p.reader.join();
  p.device = nullptr;
}

int port_write(device_port &p, const void *data, size_t length)
{
  if (p.write_since_ms)
    p.write_since_ms->store(
        std::chrono::duration_cast<std::chrono::milliseconds>(steady::now().time_since_epoch()).count());
  // papplDeviceFlush drops the error of the write it makes: the bytes the
  // device counts as written tell whether it went out.
  pappl_devmetrics_t before{}, after{};
  papplDeviceGetMetrics(p.device, &before);
  errno = 0;
  bool failed = length && papplDeviceWrite(p.device, data, length) < 0;
  if (!failed) {
    papplDeviceFlush(p.device);
    papplDeviceGetMetrics(p.device, &after);
    failed = after.write_bytes - before.write_bytes < length;
  }
  int error = failed ? (errno ? errno : EIO) : 0;
  if (p.write_since_ms)
    p.write_since_ms->store(0);
  if (error) {
    // A printer that takes no more bytes has hung up, whoever wrote them:
    // a job's copy or a status request.
    std::lock_guard<std::mutex> hold(p.lock);
    p.hung_up = true;
  }
  return error;
}

/* A byte already read, else a read started (the writes have been flushed)
 * and awaited until the deadline. */
int port_read(device_port &p, int timeout_ms, uint8_t *byte)
{
  if (p.socket >= 0) {
    std::lock_guard<std::mutex> hold(p.lock);
    return socket_read(p, timeout_ms, byte);
  }
  auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> hold(p.lock);
  for (;;) {
    if (!p.received.empty()) {
      *byte = p.received.front();
      p.received.pop_front();
      return 1;
    }
    if (p.hung_up || p.broken)
      return -1;
    if (!p.reading && !p.read_asked) {
      p.read_asked = true;
      p.changed.notify_all();
      // Until the reader is inside its read, the caller must not write.
      p.changed.wait(hold, [&] { return p.reading || !p.read_asked || p.stop; });
      continue;
    }
    if (p.changed.wait_until(hold, deadline) == std::cv_status::timeout && p.received.empty())
      return p.hung_up || p.broken ? -1 : 0;
  }
}
