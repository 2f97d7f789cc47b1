/*
 * status.cpp - a status query of the printer and what its replies mean.
 */
#include <chrono>
#include <cstring>

#include "ovik_printer_helper_cmd.h"
#include "ovik_status.h"

namespace {

/* The conditions, most urgent first: paper out and cover open stop the
 * printer, offline stops it for a reason it does not tell, paper near its
 * end only warns. */
const ovik_status_condition conditions[] = {
    {OVIK_STATUS_MEDIA_EMPTY, "media-empty", "media-empty-error", "Printer is out of paper"},
    {OVIK_STATUS_COVER_OPEN, "cover-open", "cover-open-error", "Printer cover is open"},
    {OVIK_STATUS_OFFLINE, "offline", "offline-report", "Printer is offline"},
    {OVIK_STATUS_MEDIA_LOW, "media-low", "media-low-warning", "Printer is nearly out of paper"},
};

/* The real-time status requests of a query, in the order they are asked:
 * printer status (offline), offline cause (cover), paper roll sensor. */
constexpr int requests[] = {1, 2, 4};

/* Status flag positions the parsers fill. */
enum flag { flag_offline = 4, flag_cover_open = 5, flag_paper_near_end = 6, flag_paper_end = 7 };

} // namespace

/* The conditions table. */
const ovik_status_condition *ovik_status_conditions(size_t *count)
{
  if (count)
    *count = sizeof conditions / sizeof conditions[0];
  return conditions;
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

/* One query: every request, one reply byte each, decoded with the parsers. */
int ovik_status_query(uint32_t printer_class, const ovik_status_port *port, int reply_timeout_ms, unsigned *found,
                      int *waited_ms)
{
  using clock = std::chrono::steady_clock;
  *waited_ms = 0;
  uint8_t flags[8] = {};
  for (int n : requests) {
    uint8_t request[8];
    uint32_t length = 0;
    if (ovik_cmd_transmit_real_time_status(printer_class, n, request, sizeof request, &length) != 0)
      return OVIK_STATUS_UNSUPPORTED;
    if (port->discard)
      port->discard(port->context);
    if (port->send(port->context, request, length) != 0)
      return OVIK_STATUS_BROKEN;
    uint8_t reply = 0;
    auto asked = clock::now();
    int got = port->read_byte(port->context, reply_timeout_ms, &reply);
    if (got < 0)
      return OVIK_STATUS_BROKEN;
    if (got == 0) {
      *waited_ms =
          static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - asked).count());
      return OVIK_STATUS_SILENT;
    }
    if (ovik_cmd_parse_real_time_status(printer_class, n, reply, flags) != 0)
      return OVIK_STATUS_BAD_REPLY;
  }
  *found = ovik_status_from_flags(flags);
  return OVIK_STATUS_ANSWERED;
}
