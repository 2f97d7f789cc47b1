/*
 * status.cpp - the printer's condition: three real-time status requests
 * (DLE EOT 1, 2 and 4) through the device, their replies read back with the
 * library's parsers, the printer-state-reasons they stand for, and the pace
 * of the requests when the printer stays silent.
 */
#include <algorithm>

#include "ovik_app.h"
#include "ovik_printer_helper_cmd.h"

namespace {

/* Status flag positions of the reply parsers. */
enum status_flag { flag_offline = 4, flag_cover_open = 5, flag_paper_low = 6, flag_paper_out = 7 };

/* Seconds between requests to a printer that answers, and at most between
 * requests to one that does not. */
constexpr int answered_interval = 2;
constexpr int longest_interval = 60;

/* Sends DLE EOT n and reads its one-byte reply into flags: false when the
 * request cannot be sent or no valid reply comes. */
bool ask(pappl_device_t *device, uint32_t printer_class, int n, uint8_t *flags)
{
  uint8_t request[8];
  uint32_t length = 0;
  if (ovik_cmd_transmit_real_time_status(printer_class, n, request, sizeof request, &length) != 0)
    return false;
  if (papplDeviceWrite(device, request, length) < 0)
    return false;
  papplDeviceFlush(device);
  uint8_t reply = 0;
  if (papplDeviceRead(device, &reply, 1) != 1)
    return false;
  return ovik_cmd_parse_real_time_status(printer_class, n, reply, flags) == 0;
}

} // namespace

/* Asks the printer for its condition: printer, offline cause and paper sensor. */
bool ovik_status_query(pappl_device_t *device, uint32_t printer_class, ovik_condition *out)
{
  *out = ovik_condition{};
  if (!(printer_class & 1)) // no ESC/POS family: no status requests
    return false;
  uint8_t flags[8] = {};
  out->answered = ask(device, printer_class, 1, flags) && ask(device, printer_class, 2, flags) &&
                  ask(device, printer_class, 4, flags);
  if (out->answered) {
    out->offline = flags[flag_offline] != 0;
    out->cover_open = flags[flag_cover_open] != 0;
    out->paper_low = flags[flag_paper_low] != 0;
    out->paper_out = flags[flag_paper_out] != 0;
  }
  return true;
}

/* The printer-state-reasons of a condition; a silent printer is offline. */
pappl_preason_t ovik_status_reasons(const ovik_condition *c)
{
  if (!c->answered)
    return PAPPL_PREASON_OFFLINE;
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  if (c->offline)
    reasons |= PAPPL_PREASON_OFFLINE;
  if (c->cover_open)
    reasons |= PAPPL_PREASON_COVER_OPEN;
  if (c->paper_out)
    reasons |= PAPPL_PREASON_MEDIA_EMPTY;
  else if (c->paper_low)
    reasons |= PAPPL_PREASON_MEDIA_LOW;
  return reasons;
}

/* True when the next request is due. */
bool ovik_status_due(const ovik_status_pacing *pacing, time_t now)
{
  return now >= pacing->next;
}

/* After a request: soon again when answered, else 2, 4, 8 ... 60 seconds. */
void ovik_status_record(ovik_status_pacing *pacing, bool answered, time_t now)
{
  if (answered) {
    pacing->silences = 0;
    pacing->next = now + answered_interval;
    return;
  }
  pacing->silences = std::min(pacing->silences + 1, 6);
  pacing->next = now + std::min(longest_interval, answered_interval << pacing->silences);
}
