/*
 * monitor.cpp - the printer's condition between jobs, shown as its state.
 *
 * Each printer has a thread of its own that asks the printer when no job
 * has it, at the engine's pace (every 2 s while it answers, less and less
 * often while it is silent). What it finds shows as printer-state-reasons
 * and the paper roll's level; while the printer cannot print (out of paper,
 * cover open, offline, not reachable) its queue is stopped, so that
 * printer-state says so and queued jobs wait in the queue, and it is started
 * again as soon as the printer can print. No request and no job waits for
 * the monitor: IPP requests read the state it leaves.
 *
 * PAPPL 1.3.1 opens a device with the printer's write lock held
 * (papplPrinterOpenDevice, and start_job for a job), up to 30 s for a
 * network printer that does not answer; every request for the printer
 * waits meanwhile. Once the printer could not be opened, the monitor
 * therefore tries its address itself, without the lock, and lets PAPPL open
 * it only when it answers.
 */
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ovik_app.h"

namespace {

using steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

/* How long the monitor tries to reach a printer's address. */
constexpr int probe_timeout_ms = 2000;
/* A write that has not returned after this long: the printer is not taking data. */
constexpr long long stalled_write_ms = 2000;

/* PAPPL's printer-state-reasons keywords, in the order of their bits. */
constexpr const char *pappl_reasons[] = {"other",
                                         "cover-open",
                                         "input-tray-missing",
                                         "marker-supply-empty",
                                         "marker-supply-low",
                                         "marker-waste-almost-full",
                                         "marker-waste-full",
                                         "media-empty",
                                         "media-jam",
                                         "media-low",
                                         "media-needed",
                                         "offline",
                                         "spool-area-full",
                                         "toner-empty",
                                         "toner-low",
                                         "door-open",
                                         "identify-printer-requested"};

/* PAPPL's bit of a printer-state-reasons keyword. */
pappl_preason_t reason_bit(const char *keyword)
{
  for (size_t i = 0; keyword && i < sizeof pappl_reasons / sizeof pappl_reasons[0]; i++)
    if (std::strcmp(pappl_reasons[i], keyword) == 0)
      return static_cast<pappl_preason_t>(1u << i);
  return PAPPL_PREASON_NONE;
}

long long now_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(steady::now().time_since_epoch()).count();
}

/* Stops the queue while the printer cannot print, and starts it again when
 * it can, unless someone else stopped it. */
void hold_queue(printer_state &st, bool hold)
{
  std::lock_guard<std::mutex> h(st.lock);
  if (hold && !st.paused_by_us && papplPrinterGetState(st.printer) != IPP_PSTATE_STOPPED) {
    papplPrinterPause(st.printer);
    st.paused_by_us = true;
  } else if (!hold && st.paused_by_us) {
    st.paused_by_us = false;
    papplPrinterResume(st.printer);
  }
}

/* One look at an idle printer: can it be reached, and what does it say. */
void look(printer_state &st)
{
  if (st.unreachable && !ovik_app_reachable(papplPrinterGetDeviceURI(st.printer))) {
    ovik_status_paced(&st.pacing, false, now_ms());
    ovik_app_show_conditions(st, OVIK_STATUS_UNREACHABLE, false);
    hold_queue(st, true);
    return;
  }
  pappl_device_t *device = papplPrinterOpenDevice(st.printer);
  if (!device) {
    // In use (a job or a tool has it), or it cannot be opened.
    if (papplPrinterGetState(st.printer) != IPP_PSTATE_PROCESSING && !st.port_active) {
      st.unreachable = true;
      ovik_status_paced(&st.pacing, false, now_ms());
      ovik_app_show_conditions(st, OVIK_STATUS_UNREACHABLE, false);
      hold_queue(st, true);
    }
    return;
  }
  st.unreachable = false;
  device_port port;
  port_open(port, device, papplPrinterGetDeviceURI(st.printer));
  unsigned found = 0;
  int waited = 0;
  int result = ovik_status_query(st.driver->row->printer_class, &port.port, OVIK_STATUS_REPLY_MS, &found, &waited);
  port_close(port);
  papplPrinterCloseDevice(st.printer);
  if (result == OVIK_STATUS_UNSUPPORTED) {
    st.pacing.next_ms = now_ms() + OVIK_STATUS_IDLE_LONGEST_MS;
    ovik_app_show_conditions(st, 0, false);
    hold_queue(st, false);
    return;
  }
  bool answered = result == OVIK_STATUS_ANSWERED;
  ovik_status_paced(&st.pacing, answered, now_ms());
  if (!answered)
    found = st.shown & OVIK_STATUS_FROM_REPLIES; // nothing new is known
  ovik_app_show_conditions(st, found, answered);
  hold_queue(st, ovik_status_waiting(found) != 0);
}

/* The monitor's thread: a look when due; while a job has the printer, a
 * write that does not return shows the printer as not taking data. */
void monitor_loop(printer_state *st)
{
  bool stall_shown = false;
  std::unique_lock<std::mutex> hold(st->monitor_lock);
  while (!st->monitor_stop) {
    st->monitor_wake.wait_for(hold, 1s, [st] { return st->monitor_stop; });
    if (st->monitor_stop)
      break;
    hold.unlock();
    long long since = st->write_since_ms.load();
    pappl_system_t *system = papplPrinterGetSystem(st->printer);
    if (st->port_active) {
      bool stalled = since && now_ms() - since >= stalled_write_ms;
      if (stalled != stall_shown) {
        stall_shown = stalled;
        unsigned shown;
        {
          std::lock_guard<std::mutex> h(st->lock);
          shown = st->shown;
        }
        ovik_app_show_conditions(*st, stalled ? (shown | OVIK_STATUS_STALLED) : (shown & ~OVIK_STATUS_STALLED), true);
      }
    } else if (papplSystemIsRunning(system) && !papplSystemIsShutdown(system) && !ovik_app_printer_busy(*st) &&
               ovik_status_due(&st->pacing, now_ms())) {
      stall_shown = false;
      look(*st);
    }
    hold.lock();
  }
}

} // namespace

/* True when the host and port of a socket: device URI accept a connection
 * within the probe's time; other devices count as reachable. */
bool ovik_app_reachable(const char *uri)
{
  char scheme[32], user[64], host[256], resource[256];
  int port = 0;
  if (!uri ||
      httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host, &port,
                      resource, sizeof resource) < HTTP_URI_STATUS_OK ||
      std::strcmp(scheme, "socket") != 0)
    return true;
  addrinfo hints{}, *list = nullptr;
  hints.ai_socktype = SOCK_STREAM;
  std::string service = std::to_string(port > 0 ? port : 9100);
  if (getaddrinfo(host, service.c_str(), &hints, &list) != 0)
    return false;
  bool ok = false;
  for (addrinfo *a = list; a && !ok; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0)
      continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      ok = true;
    } else if (errno == EINPROGRESS) {
      pollfd p = {fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      ok = poll(&p, 1, probe_timeout_ms) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
           error == 0;
    }
    close(fd);
  }
  freeaddrinfo(list);
  return ok;
}

/* Shows conditions as printer-state-reasons and the paper roll's level. */
void ovik_app_show_conditions(printer_state &st, unsigned conditions, bool answered)
{
  size_t count = 0;
  const ovik_status_condition *table = ovik_status_conditions(&count);
  pappl_preason_t managed = PAPPL_PREASON_NONE, now = PAPPL_PREASON_NONE;
  for (size_t i = 0; i < count; i++) {
    managed |= reason_bit(table[i].reason);
    if (conditions & table[i].bit)
      now |= reason_bit(table[i].reason);
  }
  {
    std::lock_guard<std::mutex> h(st.lock);
    st.shown = conditions;
  }
  // Out of paper with jobs waiting: they need paper.
  managed |= PAPPL_PREASON_MEDIA_NEEDED;
  if ((conditions & OVIK_STATUS_MEDIA_EMPTY) && papplPrinterGetNumberOfActiveJobs(st.printer) > 0)
    now |= PAPPL_PREASON_MEDIA_NEEDED;
  papplPrinterSetReasons(st.printer, now, managed & ~now);
  pappl_supply_t supply{};
  supply.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  snprintf(supply.description, sizeof supply.description, "%s", paper_roll_name);
  supply.is_consumed = true;
  supply.level = !answered                                ? -1
                 : (conditions & OVIK_STATUS_MEDIA_EMPTY) ? 0
                 : (conditions & OVIK_STATUS_MEDIA_LOW)   ? 10
                                                          : 100;
  supply.type = PAPPL_SUPPLY_TYPE_OTHER;
  papplPrinterSetSupplies(st.printer, 1, &supply);
}

void ovik_app_monitor_start(printer_state &st)
{
  st.monitor = std::thread(monitor_loop, &st);
}

void ovik_app_monitor_stop(printer_state &st)
{
  {
    std::lock_guard<std::mutex> h(st.monitor_lock);
    st.monitor_stop = true;
  }
  st.monitor_wake.notify_all();
  if (st.monitor.joinable() && st.monitor.get_id() != std::this_thread::get_id())
    st.monitor.join();
}
