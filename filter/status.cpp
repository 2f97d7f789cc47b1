/*
 * status.cpp - the printer's condition through CUPS's side and back
 * channels: ask with the engine's status policy, each query drained so that
 * what was sent has reached the printer before a reply is awaited, report
 * every change as STATE: and INFO: lines. A printer that does not answer
 * costs a bounded time in all, after which the job prints without asking.
 */
#include "status.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cups/sidechannel.h>

#include "ovik_status.h"
#include "spooler.h"

namespace {

/* Time limits beside the engine's status policy: a drain of what was sent
 * may take this long before the query is left out this time, and is
 * answered within drain_prompt_s by a backend that is not writing. The
 * backend answers the side channel once it has reached the printer, which
 * takes a network backend seconds when the printer does not speak SNMP; the
 * job could not print before that anyway. */
constexpr double drain_timeout_s = 2.0;
constexpr double drain_prompt_s = 0.2;
constexpr double side_channel_timeout_s = 10.0;

/* The back channel is descriptor 3. It is read here with poll and read:
 * cupsBackChannelRead goes on to a blocking read when its timeout passes
 * without data, which would hang the job on a printer that does not answer. */
constexpr int back_channel_fd = 3;

/* True when the side channel and the back channel are there, as the
 * spooler sets them up for a filter before a backend. */
bool channels_present()
{
  struct stat side, back;
  return fstat(CUPS_SC_FD, &side) == 0 && S_ISSOCK(side.st_mode) && fstat(back_channel_fd, &back) == 0 &&
         (S_ISFIFO(back.st_mode) || S_ISSOCK(back.st_mode));
}

/* SIGPIPE held back for a side-channel exchange: a backend that has gone
 * away must not take the filter with it. A signal the exchange raised is
 * taken off again. */
struct pipe_signal_held {
  sigset_t pipe_signal, before;
  pipe_signal_held()
  {
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
  }
  ~pipe_signal_held()
  {
    const struct timespec now = {0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
};

/* A side-channel request and its answer. */
cups_sc_status_t side_channel_request(cups_sc_command_t command, double timeout)
{
  pipe_signal_held held;
  char data[2] = {};
  int length = sizeof data;
  cups_sc_status_t status = cupsSideChannelDoRequest(command, data, &length, timeout);
  if (command == CUPS_SC_CMD_GET_BIDI && status == CUPS_SC_STATUS_OK &&
      (length < 1 || data[0] != CUPS_SC_BIDI_SUPPORTED))
    status = CUPS_SC_STATUS_NOT_IMPLEMENTED;
  return status;
}

/* The backend says whether it can read from the printer. A file: device
 * has no backend at all: nothing would answer the side channel. */
bool backend_is_bidirectional()
{
  const char *uri = getenv("DEVICE_URI");
  if (!channels_present() || (uri && strncmp(uri, "file:", 5) == 0))
    return false;
  return side_channel_request(CUPS_SC_CMD_GET_BIDI, side_channel_timeout_s) == CUPS_SC_STATUS_OK;
}

/* Asks the backend to write out what it holds: false when the request could not go. */
bool drain_asked()
{
  pipe_signal_held held;
  return cupsSideChannelWrite(CUPS_SC_CMD_DRAIN_OUTPUT, CUPS_SC_STATUS_NONE, nullptr, 0, drain_timeout_s) == 0;
}

/* The backend's answer to the drain within timeout seconds: 1 drained, 0
 * no answer yet, -1 it could not drain. */
int drain_answer(double timeout)
{
  pipe_signal_held held;
  cups_sc_command_t command;
  cups_sc_status_t status;
  char data[8];
  int length = sizeof data;
  if (cupsSideChannelRead(&command, &status, data, &length, timeout) != 0)
    return status == CUPS_SC_STATUS_TIMEOUT ? 0 : -1;
  return command == CUPS_SC_CMD_DRAIN_OUTPUT && status == CUPS_SC_STATUS_OK ? 1 : -1;
}

/* A query begins: its first request goes with a drain. */
void query_begins(void *context)
{
  static_cast<printer_status *>(context)->query_sent = false;
}

/* The status port's send over the job's printer stream. A query's first
 * request goes with a drain, so that its reply is awaited only once what
 * was sent before has reached the printer. A backend with nothing left to
 * write answers a drain at once, and the request follows; CUPS's usb backend
 * answers one only when print data moves (between two queries none does),
 * so when no answer comes at once the request goes out and the answer is
 * awaited behind it. Not drained in time, the query is left out. */
int send_request(void *context, const uint8_t *data, size_t length)
{
  auto &s = *static_cast<printer_status *>(context);
  if (!s.drain || s.query_sent)
    return ovik_job_send(s.job, data, length) != 0;
  s.query_sent = true;
  int drained = drain_asked() ? drain_answer(drain_prompt_s) : -1;
  if (ovik_job_send(s.job, data, length) != 0)
    return 1;
  if (drained == 0)
    drained = drain_answer(drain_timeout_s - drain_prompt_s);
  return drained == 1 ? 0 : OVIK_STATUS_SEND_LEFT_OUT;
}

/* 1 when a byte can be read within timeout_ms, 0 on time-out, -1 on error. */
int wait_readable(int timeout_ms)
{
  pollfd p = {back_channel_fd, POLLIN, 0};
  int ready;
  do
    ready = poll(&p, 1, timeout_ms);
  while (ready < 0 && errno == EINTR);
  return ready;
}

int read_reply(void *, int timeout_ms, uint8_t *byte)
{
  int ready = wait_readable(timeout_ms);
  if (ready == 0)
    return 0;
  if (ready < 0)
    return -1;
  ssize_t n;
  do
    n = read(back_channel_fd, byte, 1);
  while (n < 0 && errno == EINTR);
  return n == 1 ? 1 : -1;
}

/* Drops what came back unasked: late replies, automatic status. */
void discard_unasked(void *)
{
  char junk[256];
  for (int i = 0; i < 64 && wait_readable(0) > 0 && read(back_channel_fd, junk, sizeof junk) > 0; i++) {
  }
}

/* True when the spooler lists reason among the printer's state reasons. */
bool listed(const char *reason)
{
  const char *reasons = getenv("PRINTER_STATE_REASONS");
  if (!reasons)
    return false;
  std::string list = std::string(",") + reasons + ",";
  return list.find(std::string(",") + reason + ",") != std::string::npos;
}

/* Tells the spooler what changed: a STATE: line for each condition that
 * came or went, and the printer's words for the most urgent one. At the
 * first answer every condition that holds is told, and a reason the spooler
 * still lists from an earlier job goes if it no longer holds. */
void report(void *context, unsigned before, unsigned found, int first)
{
  auto &s = *static_cast<printer_status *>(context);
  size_t count = 0;
  const ovik_status_condition *conditions = ovik_status_conditions(&count);
  for (size_t i = 0; i < count; i++) {
    const ovik_status_condition &c = conditions[i];
    if (!(c.bit & OVIK_STATUS_FROM_REPLIES))
      continue;
    bool holds = found & c.bit;
    bool was = first ? listed(c.cups_reason) : (before & c.bit) != 0;
    if (holds && (first || !was))
      fprintf(stderr, "STATE: +%s\n", c.cups_reason);
    else if (!holds && was)
      fprintf(stderr, "STATE: -%s\n", c.cups_reason);
  }
  if (found != before || first) {
    const ovik_status_condition *c = ovik_status_first(found);
    if (c || (!first && before))
      ovik_message(s.io, MSG_INFO, c ? c->text : "Printer is ready");
  }
}

/* The job stops asking: said once, in the log. */
void gave_up(void *context, const char *why)
{
  ovik_message(static_cast<printer_status *>(context)->io, MSG_DEBUG, why);
}

int cancelled(void *context)
{
  return ovik_job_cancelled(static_cast<printer_status *>(context)->job);
}

/* A waiting job's pause between two queries (SIGTERM ends it early). */
void pause_ms(void *, int ms)
{
  const struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&pause, nullptr);
}

} // namespace

namespace {

/* Sets up the job's status policy over the job's printer stream and the
 * back channel; asking when asked for and the backend can read the printer;
 * each query drained first when drain says so. */
void set_up(printer_status &s, ovik_printer_dev *job, const ovik_job_io *io, bool asking, bool drain)
{
  s.job = job;
  s.io = io;
  s.drain = drain;
  s.port = {send_request, read_reply, discard_unasked, &s, query_begins};
  ovik_status_job_begin(&s.policy, ovik_job_settings(job)->type, asking ? &s.port : nullptr);
  s.policy.report = report;
  s.policy.gave_up = gave_up;
  s.policy.cancelled = cancelled;
  s.policy.pause = pause_ms;
  s.policy.context = &s;
}

} // namespace

/* Live status for this job, when the queue and the backend allow it. */
void status_begin(printer_status &s, ovik_printer_dev *job, const ovik_job_io *io, bool monitor)
{
  set_up(s, job, io, monitor && backend_is_bidirectional(), true);
  if (s.policy.asking)
    status_check(s);
}

/* One query, for a command job, which sends nothing before it (a network
 * backend connects only once the first bytes come, and drains nothing
 * before): answered or not, nothing is waited for. */
bool status_report(printer_status &s, ovik_printer_dev *job, const ovik_job_io *io)
{
  set_up(s, job, io, backend_is_bidirectional(), false);
  if (s.policy.asking)
    ovik_status_job_ask(&s.policy);
  return s.policy.known;
}

/* Asks the printer between pages, each query once what was sent has
 * drained: while the printer holds data it cannot print, the queries are
 * left out and the job waits. */
void status_check(printer_status &s)
{
  if (s.policy.asking)
    ovik_status_job_check(&s.policy);
}
