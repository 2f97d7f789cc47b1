/*
 * status.cpp - a status query of the printer, what its replies mean, and the
 * status policy every front end follows: within a job (a reply awaited
 * OVIK_STATUS_REPLY_MS, a silence budget, waiting while the printer cannot
 * print) and between jobs (the pace of the queries).
 */
#include <algorithm>
#include <chrono>
#include <cstring>

#include "ovik_printer_helper_cmd.h"
#include "ovik_status.h"

namespace {

/* The conditions, most urgent first: paper out and cover open stop the
 * printer, offline stops it for a reason it does not tell, a printer that
 * takes no data or cannot be reached cannot print either; paper near its end
 * only warns, and a printer that does not answer status requests prints on. */
const ovik_status_condition conditions[] = {
    {OVIK_STATUS_MEDIA_EMPTY, "media-empty", "media-empty-error", "Printer is out of paper",
     "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE7\xBC\xBA\xE7\xBA\xB8", 1},
    {OVIK_STATUS_COVER_OPEN, "cover-open", "cover-open-error", "Printer cover is open",
     "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE7\x9B\x96\xE6\x89\x93\xE5\xBC\x80", 1},
    {OVIK_STATUS_OFFLINE, "offline", "offline-report", "Printer is offline",
     "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE8\x84\xB1\xE6\x9C\xBA", 1},
    {OVIK_STATUS_STALLED, "offline", "offline-report", "Printer is not taking data",
     "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE4\xB8\x8D\xE6\x8E\xA5\xE6\x94\xB6\xE6\x95\xB0\xE6\x8D\xAE", 1},
    {OVIK_STATUS_UNREACHABLE, "offline", "offline-report", "Printer cannot be reached",
     "\xE6\x97\xA0\xE6\xB3\x95\xE8\xBF\x9E\xE6\x8E\xA5\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA", 1},
    {OVIK_STATUS_MEDIA_LOW, "media-low", "media-low-warning", "Printer is nearly out of paper",
     "\xE6\x89\x93\xE5\x8D\xB0\xE7\xBA\xB8\xE5\x8D\xB3\xE5\xB0\x86\xE7\x94\xA8\xE5\xAE\x8C", 0},
    {OVIK_STATUS_SILENT, nullptr, nullptr, "Printer does not answer status requests",
     "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE4\xB8\x8D\xE5\x9B\x9E\xE5\xBA\x94\xE7\x8A\xB6\xE6\x80\x81\xE6\x9F\xA5"
     "\xE8\xAF\xA2",
     0},
};

/* The real-time status requests of a query, in the order they are asked:
 * printer status (offline), offline cause (cover), paper roll sensor. */
constexpr int requests[] = {1, 2, 4};

/* Status flag positions the parsers fill. */
enum flag { flag_offline = 4, flag_cover_open = 5, flag_paper_near_end = 6, flag_paper_end = 7 };

using clock_type = std::chrono::steady_clock;

int elapsed_ms(clock_type::time_point since)
{
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - since).count());
}

/* Ends the job's asking, saying why once. */
void give_up(ovik_status_job *job, const char *why)
{
  job->asking = 0;
  if (job->gave_up)
    job->gave_up(job->context, why);
}

} // namespace

/* The conditions table. */
const ovik_status_condition *ovik_status_conditions(size_t *count)
{
  if (count)
    *count = sizeof conditions / sizeof conditions[0];
  return conditions;
}

/* The most urgent condition that holds. */
const ovik_status_condition *ovik_status_first(unsigned found)
{
  for (const ovik_status_condition &c : conditions)
    if (found & c.bit)
      return &c;
  return nullptr;
}

/* The conditions that keep a job waiting. */
unsigned ovik_status_waiting(unsigned found)
{
  unsigned waiting = 0;
  for (const ovik_status_condition &c : conditions)
    if (c.job_waits)
      waiting |= found & c.bit;
  return waiting;
}

/* Conditions from the parsers' flags. A printer out of paper or with its
 * cover open is offline too: offline counts as a condition of its own only
 * when neither explains it, and paper near its end only while there is paper. */
unsigned ovik_status_from_flags(const uint8_t flags[8])
{
  unsigned found = 0;
  if (flags[flag_paper_end])
    found |= OVIK_STATUS_MEDIA_EMPTY;
  else if (flags[flag_paper_near_end])
    found |= OVIK_STATUS_MEDIA_LOW;
  if (flags[flag_cover_open])
    found |= OVIK_STATUS_COVER_OPEN;
  if (flags[flag_offline] && !(found & (OVIK_STATUS_MEDIA_EMPTY | OVIK_STATUS_COVER_OPEN)))
    found |= OVIK_STATUS_OFFLINE;
  return found;
}

namespace {

/* One query: every request, one reply byte each, decoded with the parsers;
 * a late reply awaited again while keep_waiting says so. */
int query(uint32_t printer_class, const ovik_status_port *port, int reply_timeout_ms, int (*keep_waiting)(void *, int),
          void *context, unsigned *found, int *waited_ms)
{
  *waited_ms = 0;
  uint8_t flags[8] = {};
  if (port->begin)
    port->begin(port->context);
  for (int n : requests) {
    uint8_t request[8];
    uint32_t length = 0;
    if (ovik_cmd_transmit_real_time_status(printer_class, n, request, sizeof request, &length) != 0)
      return OVIK_STATUS_UNSUPPORTED;
    if (port->discard)
      port->discard(port->context);
    if (int sent = port->send(port->context, request, length))
      return sent == OVIK_STATUS_SEND_LEFT_OUT ? OVIK_STATUS_LEFT_OUT : OVIK_STATUS_BROKEN;
    uint8_t reply = 0;
    auto asked = clock_type::now();
    int got;
    while ((got = port->read_byte(port->context, reply_timeout_ms, &reply)) == 0 && keep_waiting &&
           keep_waiting(context, elapsed_ms(asked))) {
    }
    if (got < 0)
      return OVIK_STATUS_BROKEN;
    if (got == 0) {
      *waited_ms = elapsed_ms(asked);
      return OVIK_STATUS_NO_REPLY;
    }
    if (ovik_cmd_parse_real_time_status(printer_class, n, reply, flags) != 0)
      return OVIK_STATUS_BAD_REPLY;
  }
  *found = ovik_status_from_flags(flags);
  return OVIK_STATUS_ANSWERED;
}

} // namespace

int ovik_status_query(uint32_t printer_class, const ovik_status_port *port, int reply_timeout_ms, unsigned *found,
                      int *waited_ms)
{
  return query(printer_class, port, reply_timeout_ms, nullptr, nullptr, found, waited_ms);
}

int ovik_status_query_patient(uint32_t printer_class, const ovik_status_port *port, int reply_timeout_ms,
                              int (*keep_waiting)(void *context, int waited_ms), void *context, unsigned *found)
{
  int waited = 0;
  return query(printer_class, port, reply_timeout_ms, keep_waiting, context, found, &waited);
}

/* ---------- one job ---------- */

void ovik_status_job_begin(ovik_status_job *job, uint32_t printer_class, const ovik_status_port *port)
{
  job->printer_class = printer_class;
  job->port = port;
  job->asking = port != nullptr;
  job->budget_ms = OVIK_STATUS_SILENCE_BUDGET_MS;
  job->held = 0;
  job->known = 0;
  job->report = nullptr;
  job->gave_up = nullptr;
  job->cancelled = nullptr;
  job->pause = nullptr;
  job->keep_waiting = nullptr;
  job->context = nullptr;
}

/* One query within the budget. A reply that fails its fixed bits is not
 * believed and changes nothing; silence uses up the budget; a class without
 * status requests or a broken way back ends the asking at once. */
int ovik_status_job_ask(ovik_status_job *job)
{
  if (!job->asking)
    return OVIK_STATUS_UNSUPPORTED;
  unsigned found = 0;
  int waited = 0;
  bool patient = job->keep_waiting && job->known;
  int timeout = patient ? OVIK_STATUS_REPLY_MS : std::min(OVIK_STATUS_REPLY_MS, job->budget_ms);
  int result = patient ? query(job->printer_class, job->port, timeout, job->keep_waiting, job->context, &found, &waited)
                       : query(job->printer_class, job->port, timeout, nullptr, nullptr, &found, &waited);
  switch (result) {
  case OVIK_STATUS_ANSWERED: {
    unsigned before = job->held;
    int first = !job->known;
    job->held = found;
    job->known = 1;
    if (job->report)
      job->report(job->context, before, found, first);
    break;
  }
  case OVIK_STATUS_NO_REPLY:
    if (patient)
      break; // the front end stopped waiting
    job->budget_ms -= waited > 0 ? waited : timeout;
    if (job->budget_ms <= 0)
      give_up(job, "The printer does not answer status requests; printing on without asking");
    break;
  case OVIK_STATUS_BAD_REPLY:
  case OVIK_STATUS_LEFT_OUT:
    break;
  default:
    give_up(job, "The printer's status cannot be asked; printing on without asking");
    break;
  }
  return result;
}

/* Asks; while the printer cannot print, asks again every moment. A printer
 * out of paper or with its cover open does not end the job: it waits, and
 * the front end sees the condition go as soon as it goes. */
unsigned ovik_status_job_check(ovik_status_job *job)
{
  ovik_status_job_ask(job);
  while (job->asking && ovik_status_waiting(job->held) && !(job->cancelled && job->cancelled(job->context))) {
    if (job->pause)
      job->pause(job->context, OVIK_STATUS_RECHECK_MS);
    ovik_status_job_ask(job);
  }
  return job->held;
}

/* ---------- between jobs ---------- */

int ovik_status_due(const ovik_status_pacing *pacing, long long now_ms)
{
  return now_ms >= pacing->next_ms;
}

/* Soon again when answered; else 4, 8 ... 60 seconds. */
void ovik_status_paced(ovik_status_pacing *pacing, int answered, long long now_ms)
{
  if (answered) {
    pacing->silences = 0;
    pacing->next_ms = now_ms + OVIK_STATUS_IDLE_MS;
    return;
  }
  pacing->silences = std::min(pacing->silences + 1, 6);
  pacing->next_ms = now_ms + std::min<long long>(OVIK_STATUS_IDLE_LONGEST_MS,
                                                 static_cast<long long>(OVIK_STATUS_IDLE_MS) << pacing->silences);
}
