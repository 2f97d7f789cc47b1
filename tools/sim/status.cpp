/*
 * status.cpp - the simulated printer's conditions and the bit layouts of its
 * status replies, as an ESC/POS printer of this family sends them.
 *
 * Every status byte is its fixed bits plus one bit group per state that the
 * condition has; the layouts are a table, and one routine builds a byte from
 * a row of it. Bits a condition never sets stay 0: the drawer kick-out
 * connector (pin 3 reads low: no drawer is attached), the paper feed button
 * (never pressed), "waiting for online recovery" and the mechanical,
 * autocutter and unrecoverable errors.
 */
#include "status.h"

namespace {

/* One status byte: its fixed bits, and the bits each state sets. */
struct status_layout {
  uint8_t fixed;
  uint8_t offline, cover_open, near_end, paper_end, error;
};

// Real-time status, DLE EOT 1-4: bit 1 and bit 4 always set, bits 0 and 7 clear.
constexpr status_layout real_time_layouts[] = {
    // 1 printer status: bit 3 offline.
    {0x12, 0x08, 0, 0, 0, 0},
    // 2 offline cause: bit 2 cover open, bit 5 printing stopped by the paper end, bit 6 an error occurred.
    {0x12, 0, 0x04, 0, 0x20, 0x40},
    // 3 error cause: bit 6 an automatically recoverable error.
    {0x12, 0, 0, 0, 0, 0x40},
    // 4 roll paper sensors: bits 2-3 near end, bits 5-6 paper end.
    {0x12, 0, 0, 0x0C, 0x60, 0},
};

// Transmitted status, GS r 1-2: bits 4 and 7 clear.
constexpr status_layout transmit_layouts[] = {
    // 1 paper sensors: bits 0-1 near end, bits 2-3 paper end.
    {0x00, 0, 0, 0x03, 0x0C, 0},
    // 2 drawer kick-out connector: bit 0 is pin 3, which no condition drives (no drawer): always 00.
    {0x00, 0, 0, 0, 0, 0},
};

// Automatic status back, four bytes: byte 1 has bit 4 set and bits 0, 1 and 7
// clear; bytes 2-4 have bits 4 and 7 clear.
constexpr status_layout asb_layouts[] = {
    // 1 bit 3 offline, bit 5 cover open.
    {0x10, 0x08, 0x20, 0, 0, 0},
    // 2 bit 6 an automatically recoverable error.
    {0x00, 0, 0, 0, 0, 0x40},
    // 3 bits 0-1 near end, bits 2-3 paper end.
    {0x00, 0, 0, 0x03, 0x0C, 0},
    // 4 nothing defined.
    {0x00, 0, 0, 0, 0, 0},
};

/* Builds one status byte of a layout for a condition. */
uint8_t status_byte(const status_layout &layout, const condition_row &c)
{
  return uint8_t(layout.fixed | (c.offline ? layout.offline : 0) | (c.cover_open ? layout.cover_open : 0) |
                 (c.near_end ? layout.near_end : 0) | (c.paper_end ? layout.paper_end : 0) |
                 (c.error ? layout.error : 0));
}

} // namespace

// Paper out: the near-end sensor sees no paper either, and the printer goes
// offline. Offline for another reason: an error that recovers by itself.
const std::array<condition_row, 6> condition_rows = {{
    {condition::ready, "ready", false, false, false, false, false, false},
    {condition::near_end, "near-end", false, false, true, false, false, false},
    {condition::paper_out, "paper-out", true, false, true, true, false, false},
    {condition::cover_open, "cover-open", true, true, false, false, false, false},
    {condition::offline, "offline", true, false, false, false, true, false},
    {condition::silent, "silent", false, false, false, false, false, true},
}};

/* Looks a condition's row up. */
const condition_row &condition_info(condition c)
{
  return condition_rows[size_t(c)];
}

/* Finds the condition of a state file word. */
bool condition_by_name(const std::string &word, condition &c)
{
  for (const condition_row &row : condition_rows)
    if (word == row.name) {
      c = row.id;
      return true;
    }
  return false;
}

/* DLE EOT n; other n (DLE EOT 7 is for ink printers) get no answer, as on the printer. */
std::vector<uint8_t> real_time_status_reply(condition c, uint32_t n)
{
  const condition_row &row = condition_info(c);
  if (row.silent || n < 1 || n > 4)
    return {};
  return {status_byte(real_time_layouts[n - 1], row)};
}

/* GS r n, with n as a number (1, 2) or a digit (0x31, 0x32). */
std::vector<uint8_t> transmit_status_reply(condition c, uint32_t n)
{
  const condition_row &row = condition_info(c);
  if (n == 0x31 || n == 0x32)
    n -= 0x30;
  if (row.silent || n < 1 || n > 2)
    return {};
  return {status_byte(transmit_layouts[n - 1], row)};
}

/* GS I A: the firmware version as a header byte, the text and a NUL. */
std::vector<uint8_t> printer_version_reply(condition c, const std::string &version)
{
  if (condition_info(c).silent)
    return {};
  std::string text = "_" + version + " ";
  std::vector<uint8_t> reply(text.begin(), text.end());
  reply.push_back(0);
  return reply;
}

/* The four ASB bytes. */
std::vector<uint8_t> automatic_status_back(condition c)
{
  const condition_row &row = condition_info(c);
  if (row.silent)
    return {};
  std::vector<uint8_t> message;
  for (const status_layout &layout : asb_layouts)
    message.push_back(status_byte(layout, row));
  return message;
}
