/*
 * status.cpp - the printer's condition through the PAPPL device: the
 * engine's status query (ovik_status.h) over the device, the conditions it
 * finds as printer-state-reasons, and the pace of the queries when the
 * printer stays silent.
 */
#include <algorithm>
#include <cstring>

#include "ovik_app.h"

namespace {

/* Seconds between queries to a printer that answers, and at most between
 * queries to one that does not. */
constexpr int answered_interval = 2;
constexpr int longest_interval = 60;

/* The reply wait asked of the port; a PAPPL device read waits as long as
 * the device's own timeout instead. */
constexpr int reply_timeout_ms = 2000;

/* Each condition's printer-state-reasons keyword as PAPPL's bit. */
constexpr struct {
  const char *reason;
  pappl_preason_t bit;
} reason_bits[] = {
    {"media-empty", PAPPL_PREASON_MEDIA_EMPTY},
    {"media-low", PAPPL_PREASON_MEDIA_LOW},
    {"cover-open", PAPPL_PREASON_COVER_OPEN},
    {"offline", PAPPL_PREASON_OFFLINE},
};

/* Port: the request onto the device. */
int port_send(void *context, const uint8_t *data, size_t length)
{
  auto *device = static_cast<pappl_device_t *>(context);
  if (papplDeviceWrite(device, data, length) < 0)
    return 1;
  papplDeviceFlush(device);
  return 0;
}

/* Port: one reply byte from the device, or none (silence and a broken way
 * back look alike through papplDeviceRead). */
int port_read_byte(void *context, int, uint8_t *byte)
{
  return papplDeviceRead(static_cast<pappl_device_t *>(context), byte, 1) == 1 ? 1 : 0;
}

} // namespace

/* Asks the printer for its condition through device; false for a model
 * without status requests. */
bool ovik_app_status_query(pappl_device_t *device, uint32_t printer_class, ovik_condition *out)
{
  *out = ovik_condition{};
  ovik_status_port port{port_send, port_read_byte, nullptr, device};
  int waited_ms = 0;
  int result = ovik_status_query(printer_class, &port, reply_timeout_ms, &out->found, &waited_ms);
  if (result == OVIK_STATUS_UNSUPPORTED)
    return false;
  out->answered = result == OVIK_STATUS_ANSWERED;
  return true;
}

/* The printer-state-reasons of a condition; a printer that does not answer is offline. */
pappl_preason_t ovik_app_status_reasons(const ovik_condition *c)
{
  if (!c->answered)
    return PAPPL_PREASON_OFFLINE;
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  size_t count = 0;
  const ovik_status_condition *conditions = ovik_status_conditions(&count);
  for (size_t i = 0; i < count; i++)
    if (c->found & conditions[i].bit)
      for (const auto &r : reason_bits)
        if (std::strcmp(r.reason, conditions[i].reason) == 0)
          reasons |= r.bit;
  return reasons;
}

/* True when the next query is due. */
bool ovik_app_status_due(const ovik_status_pacing *pacing, time_t now)
{
  return now >= pacing->next;
}

/* After a query: soon again when answered, else 4, 8 ... 60 seconds. */
void ovik_app_status_record(ovik_status_pacing *pacing, bool answered, time_t now)
{
  if (answered) {
    pacing->silences = 0;
    pacing->next = now + answered_interval;
    return;
  }
  pacing->silences = std::min(pacing->silences + 1, 6);
  pacing->next = now + std::min(longest_interval, answered_interval << pacing->silences);
}
