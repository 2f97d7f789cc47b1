/*
 * ovik_printer_helper_cmd.cpp - the printer's command set as byte templates,
 * and the parsers of its replies.
 *
 * Each encoder is one call of `emit`: whether its parameters are acceptable,
 * and the pieces of the command (fixed bytes, and the caller's data block where
 * it has one). `emit` runs the class, room and parameter checks in that order
 * and only then writes, so a refused command never touches the buffer.
 */
#include "ovik_printer_helper_cmd.h"
#include "ovik_error.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// Class word bits: the ESC/POS family, the two other version request forms,
// and USB control requests.
constexpr uint32_t ESCPOS = 0x0001;
constexpr uint32_t VERSION_ZZZ = 0x0002;
constexpr uint32_t VERSION_ESC_HASH = 0x0004;
constexpr uint32_t USB_CTL = 0x1000;

// Fixed command bytes; every value is taken as its low byte.
struct Bytes {
  uint8_t b[40];
  uint32_t n;
};

// The command bytes made of the given values' low bytes.
template <typename... T>
constexpr Bytes bytes(T... v)
{
  static_assert(sizeof...(T) <= sizeof(Bytes::b));
  return Bytes{{static_cast<uint8_t>(v)...}, sizeof...(T)};
}

// One stretch of a command: fixed bytes or the caller's data block.
struct Piece {
  const uint8_t *p;
  uint64_t n;
};

// The piece holding a run of fixed bytes.
Piece P(const Bytes &b)
{
  return {b.b, b.n};
}

// The caller's output buffer, its capacity and its length counter.
struct Out {
  uint8_t *buf;
  uint32_t size;
  uint32_t *len;
};

// Class, room and parameter checks in that order: 0 when need bytes may be written.
int check(bool family, uint64_t need, bool ok, Out o)
{
  if (!family)
    return OVIK_ERR_PRINTER_CLASS;
  // A counter past the capacity is treated as a full buffer, never as room.
  if (!o.buf || !o.len || *o.len > o.size || o.size - *o.len < need)
    return OVIK_ERR_BUFFER;
  return ok ? OVIK_SUCCESS : OVIK_ERR_PARAMETER;
}

// Copies the pieces to the end of the buffer and counts them (checks passed).
void put(Out o, std::initializer_list<Piece> pieces)
{
  for (const Piece &x : pieces) {
    if (x.n)
      std::memcpy(o.buf + *o.len, x.p, x.n);
    *o.len += static_cast<uint32_t>(x.n);
  }
}

// Appends a command made of pieces; room is at least `room` bytes. A data
// piece without a pointer is a parameter fault.
int emit(bool family, bool ok, std::initializer_list<Piece> pieces, Out o, uint64_t room = 0)
{
  uint64_t need = 0;
  for (const Piece &x : pieces) {
    need += x.n;
    ok = ok && (x.p || !x.n);
  }
  int rc = check(family, std::max(need, room), ok, o);
  if (rc == OVIK_SUCCESS)
    put(o, pieces);
  return rc;
}

// Appends a command of fixed bytes.
int emit(bool family, bool ok, const Bytes &cmd, Out o, uint64_t room = 0)
{
  return emit(family, ok, {P(cmd)}, o, room);
}

// Bit 0: the printer takes the ESC/POS family.
bool esc(uint32_t cls)
{
  return cls & ESCPOS;
}

// lo <= n <= hi.
bool in(long long n, long long lo, long long hi)
{
  return lo <= n && n <= hi;
}

// n is one of the listed values.
bool one_of(int n, std::initializer_list<int> set)
{
  return std::find(set.begin(), set.end(), n) != set.end();
}

// n lies in lo..hi, as a number or as its ASCII digit (0x30 + value).
bool digit(int n, int lo, int hi)
{
  return in(n, lo, hi) || in(n, 0x30 + lo, 0x30 + hi);
}

// A graphics key code: a printable ASCII character.
bool key(int k)
{
  return in(k, 0x20, 0x7E);
}

// A chain of ESC code n commands moving n units, at most 255 each; n = 0 is
// one command when zero_cmd, else nothing. Negative n is refused when zero_cmd.
int feed_chain(uint32_t cls, uint8_t code, int n, bool zero_cmd, Out o)
{
  uint32_t count = n > 0 ? (static_cast<uint32_t>(n) + 254) / 255 : zero_cmd ? 1 : 0;
  int rc = check(esc(cls), 3ull * count, n >= 0 || !zero_cmd, o);
  for (uint32_t i = 0; rc == OVIK_SUCCESS && i < count; i++) {
    int left = n - static_cast<int>(255 * i);
    put(o, {P(bytes(0x1B, code, std::min(left, 255)))});
  }
  return rc;
}

// GS ( L, or GS 8 L with a four-byte count above 65535: the count covers the
// function bytes and the data.
int graphics(uint32_t cls, bool ok, const Bytes &body, const uint8_t *data, uint32_t len, Out o)
{
  uint64_t p = body.n + uint64_t{len};
  Bytes head = p <= 0xFFFF ? bytes(0x1D, 0x28, 0x4C, p, p >> 8) : bytes(0x1D, 0x38, 0x4C, p, p >> 8, p >> 16, p >> 24);
  return emit(esc(cls), ok, {P(head), P(body), {data, len}}, o);
}

// Bytes of an image x wide and y high, eight dots a byte along the packed axis.
uint64_t packed(int along, int across)
{
  return uint64_t(across) * ((along + 7) / 8);
}

// The four GS ( L define functions: key codes, image size in dots, one colour.
int define_graphics(uint32_t cls, int fn, bool column, int k1, int k2, int x, int y, const uint8_t *data, uint32_t len,
                    Out o)
{
  bool ok = len >= 1 && key(k1) && key(k2) && in(x, 1, 8192) && in(y, 1, 2304) &&
            len == (column ? packed(y, x) : packed(x, y));
  return graphics(cls, ok, bytes(0x30, fn, 0x30, k1, k2, 0x01, x, x >> 8, y, y >> 8, 0x31), data, len, o);
}

// The two GS ( L functions that store graphics in the print buffer, scaled bx by.
int store_graphics(uint32_t cls, int fn, bool column, int bx, int by, int x, int y, const uint8_t *data, uint32_t len,
                   Out o)
{
  bool ok = len >= 1 && one_of(bx, {1, 2}) && one_of(by, {1, 2}) && in(x, 1, 2047) && in(y, 1, by == 1 ? 1662 : 831) &&
            len == (column ? packed(y, x) : packed(x, y));
  return graphics(cls, ok, bytes(0x30, fn, 0x30, bx, by, 0x31, x, x >> 8, y, y >> 8), data, len, o);
}

// GS ( k with a 16-bit count over the function bytes and the data.
int symbol(uint32_t cls, bool ok, const Bytes &body, const uint8_t *data, uint32_t len, Out o)
{
  uint64_t p = body.n + uint64_t{len};
  return emit(esc(cls), ok && p <= 0xFFFF, {P(bytes(0x1D, 0x28, 0x6B, p, p >> 8)), P(body), {data, len}}, o);
}

// Exclusive-or of a run of bytes.
uint8_t xor_of(const uint8_t *p, uint64_t n)
{
  uint8_t x = 0;
  for (uint64_t i = 0; i < n; i++)
    x ^= p[i];
  return x;
}

// An encrypting head frame: ESC M S, frame length (high byte first), then STX,
// body, ETX and the exclusive-or of STX..ETX.
Bytes head_frame(const Bytes &body)
{
  Bytes f = bytes(0x1B, 0x4D, 0x53, (body.n + 3) >> 8, body.n + 3, 0x02);
  std::memcpy(f.b + f.n, body.b, body.n);
  f.n += body.n;
  f.b[f.n++] = 0x03;
  f.b[f.n] = xor_of(f.b + 5, f.n - 5);
  f.n++;
  return f;
}

// Appends an encrypting head frame.
int eh(uint32_t cls, bool ok, const Bytes &body, Out o)
{
  return emit(esc(cls), ok, head_frame(body), o);
}

// ESC N fn 00 00 len and an ISO 7816-4 card command: head, data, tail; its
// length must fit the one-byte count.
int card(uint32_t cls, int fn, const Bytes &head, const uint8_t *data, uint32_t len, const Bytes &tail, Out o)
{
  uint64_t k = head.n + uint64_t{len} + tail.n;
  return emit(esc(cls), k <= 0xFF, {P(bytes(0x1B, 0x4E, fn, 0x00, 0x00, k)), P(head), {data, len}, P(tail)}, o);
}

// atoi's reading of a number in a reply (blanks, sign, digits), but one
// beyond the int range saturates instead of being undefined.
int reply_number(const char *text)
{
  return static_cast<int>(std::clamp<long long>(std::strtoll(text, nullptr, 10), INT_MIN, INT_MAX));
}

} // namespace

extern "C" {

/* ---- Print and paper movement ---- */

// LF: print and feed one line.
int ovik_cmd_print_and_line_feed(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x0A), {buf, size, len});
}

// CR: print and return.
int ovik_cmd_print_and_carriage_return(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x0D), {buf, size, len});
}

// FF: print and return to standard mode (next ticket).
int ovik_cmd_print_and_return_standard_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x0C), {buf, size, len});
}

// ESC FF: print the page mode data.
int ovik_cmd_print_data_in_page_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x0C), {buf, size, len});
}

// CAN: cancel the page mode data.
int ovik_cmd_cancel_print_data_in_page_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x18), {buf, size, len});
}

// GS FF: move to the next label.
int ovik_cmd_position_next_label(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x0C), {buf, size, len});
}

// ESC J: print and feed n motion units, chained past 255.
int ovik_cmd_print_and_feed_paper(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return feed_chain(cls, 0x4A, n, true, {buf, size, len});
}

// ESC K: print and feed n units backwards.
int ovik_cmd_print_and_reverse_feed(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4B, n), {buf, size, len});
}

// ESC d: print and feed n lines.
int ovik_cmd_print_and_feed_n_line(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x64, n), {buf, size, len});
}

// ESC e: print and feed n lines backwards, chained past 255.
int ovik_cmd_print_and_reverse_feed_n_line(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return feed_chain(cls, 0x65, n, false, {buf, size, len});
}

// FS ( L fn 41: feed to the label peeling position.
int ovik_cmd_feed_paper_to_the_label_peeling_position(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0x30, 0x31), bytes(0x1C, 0x28, 0x4C, 0x02, 0x00, 0x41, n), {buf, size, len});
}

// FS ( L fn 42: feed to the cutting position.
int ovik_cmd_feed_paper_to_the_cutting_position(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0x30, 0x31), bytes(0x1C, 0x28, 0x4C, 0x02, 0x00, 0x42, n), {buf, size, len});
}

// FS ( L fn 43: feed to the print starting position.
int ovik_cmd_feed_paper_to_the_print_starting_position(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0x30, 0x32), bytes(0x1C, 0x28, 0x4C, 0x02, 0x00, 0x43, n), {buf, size, len});
}

// ESC i: partial cut, one point left uncut.
int ovik_cmd_partial_cut_one_point_left_uncut(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x69), {buf, size, len});
}

// ESC m: partial cut, three points left uncut.
int ovik_cmd_partial_cut_three_point_left_uncut(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x6D), {buf, size, len});
}

// GS V m: cut (full or partial).
int ovik_cmd_select_cut_mode_and_cut_paper(uint32_t cls, int m, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(m, 0, 1), bytes(0x1D, 0x56, m), {buf, size, len});
}

// GS V m n: feed n units, then cut; m 0 and 1 stand for 0x41 and 0x42.
int ovik_cmd_select_cut_mode_and_feed_paper(uint32_t cls, int m, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  int mode = m == 0 ? 0x41 : m == 1 ? 0x42 : m;
  return emit(esc(cls), in(mode, 0x41, 0x42), bytes(0x1D, 0x56, mode, n), {buf, size, len});
}

// ESC <: return the print head home.
int ovik_cmd_return_home(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x3C), {buf, size, len});
}

// ESC U: unidirectional printing on or off.
int ovik_cmd_select_unidirectional_print_mode(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x55, n), {buf, size, len});
}

// HT: horizontal tab.
int ovik_cmd_horizontal_tab(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x09), {buf, size, len});
}

/* ---- Line spacing and characters ---- */

// ESC 2: default line spacing.
int ovik_cmd_select_default_line_spacing(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x32), {buf, size, len});
}

// ESC 3 n: line spacing of n motion units.
int ovik_cmd_set_line_spacing(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x33, n), {buf, size, len});
}

// ESC SP n: right-side character spacing.
int ovik_cmd_set_right_side_character_spacing(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x20, n), {buf, size, len});
}

// ESC ! n: print modes.
int ovik_cmd_select_print_modes(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x21, n), {buf, size, len});
}

// ESC % n: user-defined character set on or off.
int ovik_cmd_select_or_cancel_defined_charater_set(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x25, n), {buf, size, len});
}

// ESC &: define characters c1..c2 from x columns of 3 bytes; the data length is
// one byte on the wire, so it is at most 255 and x at most 85.
int ovik_cmd_define_user_defined_characters(uint32_t cls, int c1, int c2, int x, const uint8_t *data, uint32_t data_len,
                                            uint8_t *buf, uint32_t size, uint32_t *len)
{
  bool ok = in(x, 0, 85) && data_len == 3ull * x && 0x20 <= c1 && c1 <= c2 && c2 <= 0x7E;
  return emit(esc(cls), ok, {P(bytes(0x1B, 0x26, 0x03, c1, c2, x)), {data, data_len}}, {buf, size, len});
}

// ESC ? n: delete a user-defined character.
int ovik_cmd_cancel_user_defined_characters(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), key(n), bytes(0x1B, 0x3F, n), {buf, size, len});
}

// ESC - n: underline off, one dot, two dots.
int ovik_cmd_turn_underline_mode_on_off(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 2), bytes(0x1B, 0x2D, n), {buf, size, len});
}

// ESC E n: emphasis on or off.
int ovik_cmd_turn_emphasized_mode_on_off(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x45, n), {buf, size, len});
}

// ESC G n: double strike on or off.
int ovik_cmd_turn_double_strike_mode_on_off(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x47, n), {buf, size, len});
}

// ESC M n: character font.
int ovik_cmd_select_character_font(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 2), bytes(0x1B, 0x4D, n), {buf, size, len});
}

// ESC R n: international character set 0-15.
int ovik_cmd_select_an_international_character_set(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0, 15), bytes(0x1B, 0x52, n), {buf, size, len});
}

// ESC V n: 90-degree rotation off, on, on with wider spacing.
int ovik_cmd_turn90_clockwise_rotation_mode_on_off(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 2), bytes(0x1B, 0x56, n), {buf, size, len});
}

// ESC t n, or (variant 1) the code table stored through the user setting mode.
int ovik_cmd_select_character_code_table(uint32_t cls, int n, int variant, uint8_t *buf, uint32_t size, uint32_t *len)
{
  Bytes user_setting =
      bytes(0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E, 0x1D, 0x28, 0x45, 0x04, 0x00, 0x05, 0x08, n, 0x00, 0x1D,
            0x28, 0x45, 0x02, 0x00, 0x06, 0x08, 0x01, 0x49, 0x4E, 0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54);
  return emit(esc(cls), in(variant, 0, 1), variant == 1 ? user_setting : bytes(0x1B, 0x74, n), {buf, size, len});
}

// ESC { n: upside-down printing on or off.
int ovik_cmd_turn_upside_down_print_mode_on_off(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x7B, n), {buf, size, len});
}

// GS ! n: character size, width and height nibbles 0-7.
int ovik_cmd_select_character_size(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), (n & 0x88) == 0, bytes(0x1D, 0x21, n), {buf, size, len});
}

// GS B n: white/black reverse on or off.
int ovik_cmd_turn_white_black_reverse_print_mode_on_off(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x42, n), {buf, size, len});
}

// GS b n: smoothing on or off.
int ovik_cmd_turn_smoothing_mode_on_off(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x62, n), {buf, size, len});
}

// FS &: kanji character mode.
int ovik_cmd_select_kanji_character_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1C, 0x26), {buf, size, len});
}

// FS .: leave kanji character mode.
int ovik_cmd_cancel_kanji_character_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1C, 0x2E), {buf, size, len});
}

/* ---- Print position and page mode ---- */

// ESC $: absolute print position.
int ovik_cmd_set_absolute_print_position(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0, 0xFFFF), bytes(0x1B, 0x24, n, n >> 8), {buf, size, len});
}

// ESC D: horizontal tab positions, at most 32, closed by NUL.
int ovik_cmd_set_horizontal_tab_positions(uint32_t cls, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                          uint32_t size, uint32_t *len)
{
  return emit(esc(cls), data_len <= 32, {P(bytes(0x1B, 0x44)), {data, data_len}, P(bytes(0x00))}, {buf, size, len});
}

// ESC L: page mode.
int ovik_cmd_select_page_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4C), {buf, size, len});
}

// ESC S: standard mode.
int ovik_cmd_select_standard_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x53), {buf, size, len});
}

// ESC T n: print direction in page mode.
int ovik_cmd_select_print_direction_in_page_mode(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 3), bytes(0x1B, 0x54, n), {buf, size, len});
}

// ESC W: page mode print area; models 0x1102 take an extra 00 after ESC W.
int ovik_cmd_set_print_area_in_page_mode(uint32_t cls, int x, int y, int dx, int dy, uint8_t *buf, uint32_t size,
                                         uint32_t *len)
{
  bool ok = in(x, 0, 0xFFFF) && in(y, 0, 0xFFFF) && in(dx, 0, 0xFFFF) && in(dy, 0, 0xFFFF);
  Bytes head = (cls >> 16) == 0x1102 ? bytes(0x1B, 0x57, 0x00) : bytes(0x1B, 0x57);
  Bytes area = bytes(x, x >> 8, y, y >> 8, dx, dx >> 8, dy, dy >> 8);
  return emit(esc(cls), ok, {P(head), P(area)}, {buf, size, len}, 11);
}

// ESC \: relative print position, signed.
int ovik_cmd_set_relative_print_position(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, -0x8000, 0x7FFF), bytes(0x1B, 0x5C, n, n >> 8), {buf, size, len});
}

// ESC a n: left, centred or right.
int ovik_cmd_select_justification(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 2), bytes(0x1B, 0x61, n), {buf, size, len});
}

// GS $: absolute vertical position in page mode.
int ovik_cmd_set_absolute_vertical_print_position_in_page_mode(uint32_t cls, int n, uint8_t *buf, uint32_t size,
                                                               uint32_t *len)
{
  return emit(esc(cls), in(n, 0, 0xFFFF), bytes(0x1D, 0x24, n, n >> 8), {buf, size, len});
}

// GS L: left margin.
int ovik_cmd_set_left_margin(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0, 0xFFFF), bytes(0x1D, 0x4C, n, n >> 8), {buf, size, len});
}

// GS T n: move to the start of the print line.
int ovik_cmd_set_print_position_to_the_beginning_of_print_line(uint32_t cls, int n, uint8_t *buf, uint32_t size,
                                                               uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 1), bytes(0x1D, 0x54, n), {buf, size, len});
}

// GS W: print area width.
int ovik_cmd_set_print_area_width(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0, 0xFFFF), bytes(0x1D, 0x57, n, n >> 8), {buf, size, len});
}

// GS \: relative vertical position in page mode, signed.
int ovik_cmd_set_relative_vertical_print_position_in_page_mode(uint32_t cls, int n, uint8_t *buf, uint32_t size,
                                                               uint32_t *len)
{
  return emit(esc(cls), in(n, -0x8000, 0x7FFF), bytes(0x1D, 0x5C, n, n >> 8), {buf, size, len});
}

// GS P x y: horizontal and vertical motion units.
int ovik_cmd_set_horizontal_and_vertical_motion_units(uint32_t cls, int x, int y, uint8_t *buf, uint32_t size,
                                                      uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x50, x, y), {buf, size, len});
}

/* ---- Bit images, raster images and graphics ---- */

// ESC * m n: bit image of n columns (1 or 3 bytes each); without data the header alone.
int ovik_cmd_select_bit_image_mode(uint32_t cls, int m, int n, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                   uint32_t size, uint32_t *len)
{
  uint32_t k = data ? data_len : 0;
  bool ok = one_of(m, {0, 1, 0x20, 0x21}) && in(n, 1, 2047) && (k == 0 || k == (m >= 0x20 ? 3ull * n : n));
  return emit(esc(cls), ok, {P(bytes(0x1B, 0x2A, m, n, n >> 8)), {data, k}}, {buf, size, len});
}

// FS p n m: print NV bit image n.
int ovik_cmd_print_NV_bit_image(uint32_t cls, int n, int m, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), n >= 1 && digit(m, 0, 3), bytes(0x1C, 0x70, n, m), {buf, size, len});
}

// FS q n: define n NV bit images; the image count is one byte on the wire.
int ovik_cmd_define_nv_bit_image_fmode(uint32_t cls, int n, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                       uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 1, 255), {P(bytes(0x1C, 0x71, n)), {data, data_len}}, {buf, size, len});
}

// GS * x y: downloaded bit image of x by y bytes of eight dots; x and y are one byte each.
int ovik_cmd_define_downloaded_bit_image(uint32_t cls, int x, int y, const uint8_t *data, uint32_t data_len,
                                         uint8_t *buf, uint32_t size, uint32_t *len)
{
  bool ok = in(x, 1, 255) && in(y, 1, 255) && data_len == 8ull * x * y;
  return emit(esc(cls), ok, {P(bytes(0x1D, 0x2A, x, y)), {data, data_len}}, {buf, size, len});
}

// GS / m: print the downloaded bit image.
int ovik_cmd_print_downloaded_bit_image(uint32_t cls, int m, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(m, 0, 3), bytes(0x1D, 0x2F, m), {buf, size, len});
}

// GS v 0 header: x bytes per row, y rows; the rows follow from the caller.
int ovik_cmd_print_raster_img_cmd_header(uint32_t cls, int m, int x, int y, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x76, 0x30, m, x, x >> 8, y, y >> 8), {buf, size, len});
}

// GS W (8 x dots) and ESC * b (y rows): the feed-step models' raster header.
int ovik_cmd_print_raster_img_cmd_header_feed_step(uint32_t cls, int x, int y, uint8_t *buf, uint32_t size,
                                                   uint32_t *len)
{
  bool ok = in(x, 1, 128) && in(y, 1, 2303);
  return emit(esc(cls), ok, bytes(0x1D, 0x57, 8 * x, (8 * x) >> 8, 0x1B, 0x2A, 0x62, y, y >> 8), {buf, size, len});
}

// GS v 0 with its x * y bytes of rows.
int ovik_cmd_print_raster_bit_image(uint32_t cls, int m, int x, int y, const uint8_t *data, uint8_t *buf, uint32_t size,
                                    uint32_t *len)
{
  bool ok = digit(m, 0, 3) && in(x, 1, 128) && in(y, 1, 2303);
  uint64_t k = x > 0 && y > 0 ? uint64_t(x) * y : 0;
  return emit(esc(cls), ok, {P(bytes(0x1D, 0x76, 0x30, m, x, 0x00, y, y >> 8)), {data, k}}, {buf, size, len});
}

// GS ( L fn 30: NV graphics memory capacity.
int ovik_cmd_transmit_the_NV_graphics_memory_capacity_gmode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x30), {buf, size, len});
}

// GS ( L fn 31: reference dot density d in both directions.
int ovik_cmd_set_the_reference_dot_density_for_graphics_gmode(uint32_t cls, int d, uint8_t *buf, uint32_t size,
                                                              uint32_t *len)
{
  return emit(esc(cls), in(d, 0x32, 0x33), bytes(0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x31, d, d), {buf, size, len});
}

// GS ( L fn 32: print the graphics in the print buffer.
int ovik_cmd_print_the_graphics_data_in_the_print_buffer_gmode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x32), {buf, size, len});
}

// GS ( L fn 33: remaining NV graphics memory.
int ovik_cmd_transmit_the_remaining_capacity_of_the_NV_graphics_memory_gmode(uint32_t cls, uint8_t *buf, uint32_t size,
                                                                             uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x33), {buf, size, len});
}

// GS ( L fn 34: remaining download graphics memory.
int ovik_cmd_transmit_the_remaining_capacity_of_the_download_graphics_memory_gmode(uint32_t cls, uint8_t *buf,
                                                                                   uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x34), {buf, size, len});
}

// GS ( L fn 40: key codes of the NV graphics.
int ovik_cmd_transmit_the_key_code_list_for_defined_NV_graphics_gmode(uint32_t cls, uint8_t *buf, uint32_t size,
                                                                      uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x40, 0x4B, 0x43), {buf, size, len});
}

// GS ( L fn 41: delete all NV graphics.
int ovik_cmd_delete_all_NV_graphics_data_gmode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x05, 0x00, 0x30, 0x41, 0x43, 0x4C, 0x52), {buf, size, len});
}

// GS ( L fn 42: delete the NV graphics k1 k2.
int ovik_cmd_delete_the_specified_NV_graphics_data_gmode(uint32_t cls, int k1, int k2, uint8_t *buf, uint32_t size,
                                                         uint32_t *len)
{
  return emit(esc(cls), key(k1) && key(k2), bytes(0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x42, k1, k2), {buf, size, len});
}

// GS ( L fn 43: define NV graphics, raster layout.
int ovik_cmd_define_the_NV_graphics_data_raster_gmode(uint32_t cls, int k1, int k2, int x, int y, const uint8_t *data,
                                                      uint32_t data_len, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return define_graphics(cls, 0x43, false, k1, k2, x, y, data, data_len, {buf, size, len});
}

// GS ( L fn 44: define NV graphics, column layout.
int ovik_cmd_define_the_NV_graphics_data_column_gmode(uint32_t cls, int k1, int k2, int x, int y, const uint8_t *data,
                                                      uint32_t data_len, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return define_graphics(cls, 0x44, true, k1, k2, x, y, data, data_len, {buf, size, len});
}

// GS ( L fn 45: print the NV graphics k1 k2 scaled sx by sy.
int ovik_cmd_print_the_specified_NV_graphics_data_gmode(uint32_t cls, int k1, int k2, int sx, int sy, uint8_t *buf,
                                                        uint32_t size, uint32_t *len)
{
  return emit(esc(cls), key(k1) && key(k2), bytes(0x1D, 0x28, 0x4C, 0x06, 0x00, 0x30, 0x45, k1, k2, sx, sy),
              {buf, size, len});
}

// GS ( L fn 50: key codes of the download graphics.
int ovik_cmd_transmit_the_key_code_list_for_defined_download_graphics_gmode(uint32_t cls, uint8_t *buf, uint32_t size,
                                                                            uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x50, 0x4B, 0x43), {buf, size, len});
}

// GS ( L fn 51: delete all download graphics.
int ovik_cmd_delete_all_memory_graphics_data_gmode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4C, 0x05, 0x00, 0x30, 0x51, 0x43, 0x4C, 0x52), {buf, size, len});
}

// GS ( L fn 52: delete the download graphics k1 k2.
int ovik_cmd_delete_the_specified_download_memory_graphics_data_gmode(uint32_t cls, int k1, int k2, uint8_t *buf,
                                                                      uint32_t size, uint32_t *len)
{
  return emit(esc(cls), key(k1) && key(k2), bytes(0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x52, k1, k2), {buf, size, len});
}

// GS ( L fn 53: define download graphics, raster layout.
int ovik_cmd_define_the_downloaded_graphics_data_raster_gmode(uint32_t cls, int k1, int k2, int x, int y,
                                                              const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                                              uint32_t size, uint32_t *len)
{
  return define_graphics(cls, 0x53, false, k1, k2, x, y, data, data_len, {buf, size, len});
}

// GS ( L fn 54: define download graphics, column layout.
int ovik_cmd_define_the_downloaded_graphics_data_column_gmode(uint32_t cls, int k1, int k2, int x, int y,
                                                              const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                                              uint32_t size, uint32_t *len)
{
  return define_graphics(cls, 0x54, true, k1, k2, x, y, data, data_len, {buf, size, len});
}

// GS ( L fn 55: print the download graphics k1 k2 scaled sx by sy.
int ovik_cmd_print_the_specified_downloaded_graphics_data_gmode(uint32_t cls, int k1, int k2, int sx, int sy,
                                                                uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), key(k1) && key(k2), bytes(0x1D, 0x28, 0x4C, 0x06, 0x00, 0x30, 0x55, k1, k2, sx, sy),
              {buf, size, len});
}

// GS ( L fn 70: graphics into the print buffer, raster layout.
int ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode(uint32_t cls, int bx, int by, int x, int y,
                                                                      const uint8_t *data, uint32_t data_len,
                                                                      uint8_t *buf, uint32_t size, uint32_t *len)
{
  return store_graphics(cls, 0x70, false, bx, by, x, y, data, data_len, {buf, size, len});
}

// GS ( L fn 71: graphics into the print buffer, column layout.
int ovik_cmd_store_the_graphics_data_in_the_print_buffer_column_gmode(uint32_t cls, int bx, int by, int x, int y,
                                                                      const uint8_t *data, uint32_t data_len,
                                                                      uint8_t *buf, uint32_t size, uint32_t *len)
{
  return store_graphics(cls, 0x71, true, bx, by, x, y, data, data_len, {buf, size, len});
}

/* ---- Status, real-time and device control ---- */

// Version request in the form the class word's printer understands.
int ovik_cmd_transmit_printer_version(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  Out o{buf, size, len};
  if (cls & ESCPOS)
    return emit(true, true, bytes(0x1D, 0x49, 0x41), o);
  if (cls & VERSION_ESC_HASH)
    return emit(true, true, bytes(0x1B, 0x23, 0x2A, 0x0A, 0x00), o);
  if (cls & VERSION_ZZZ)
    return emit(true, true, bytes('Z', 'Z', 'Z', 'G', 'E', 'T', 'V', 'E', 'R', 'S', 'I', 'O', 'N'), o);
  return OVIK_ERR_PRINTER_CLASS;
}

// GS I n: printer id.
int ovik_cmd_transmit_printer_id(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 1, 3), bytes(0x1D, 0x49, n), {buf, size, len});
}

// DLE EOT n: real-time status.
int ovik_cmd_transmit_real_time_status(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 1, 4) || n == 7, bytes(0x10, 0x04, n), {buf, size, len});
}

// DLE ENQ n: real-time request.
int ovik_cmd_send_real_time_request_to_printer(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 1, 2), bytes(0x10, 0x05, n), {buf, size, len});
}

// DLE DC4 1: real-time pulse on pin m for t units of 100 ms.
int ovik_cmd_generate_pulse_in_real_time(uint32_t cls, int m, int t, uint8_t *buf, uint32_t size, uint32_t *len)
{
  int units = t > 100 ? t / 100 : t;
  return emit(esc(cls), in(units, 1, 8), bytes(0x10, 0x14, 0x01, m, units), {buf, size, len});
}

// DLE DC4 2: power-off sequence.
int ovik_cmd_execute_power_off_sequence(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x10, 0x14, 0x02, 0x01, 0x08), {buf, size, len});
}

// DLE DC4 7: specified status in real time.
int ovik_cmd_transmit_specified_status_in_real_time(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), one_of(n, {1, 5}), bytes(0x10, 0x14, 0x07, n), {buf, size, len});
}

// DLE DC4 8: clear the receive and print buffers.
int ovik_cmd_clear_buffer(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x10, 0x14, 0x08, 0x01, 0x03, 0x14, 0x01, 0x06, 0x02, 0x08), {buf, size, len});
}

// The same buffer clear under its other name.
int ovik_cmd_clearbuffer(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return ovik_cmd_clear_buffer(cls, buf, size, len);
}

// ESC u: peripheral device status.
int ovik_cmd_transmit_peripheral_device_status(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x75), {buf, size, len});
}

// ESC v: paper sensor status.
int ovik_cmd_transmit_paper_sensor_status(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x76), {buf, size, len});
}

// GS a n: automatic status back.
int ovik_cmd_enable_disable_ASB(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x61, n), {buf, size, len});
}

// GS r n: transmit status.
int ovik_cmd_transmit_status(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 1, 2), bytes(0x1D, 0x72, n), {buf, size, len});
}

// ESC @: initialize the printer.
int ovik_cmd_initialize_printer(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x40), {buf, size, len});
}

// ESC = n: select the peripheral device.
int ovik_cmd_select_peripheral_device(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 1, 3), bytes(0x1B, 0x3D, n), {buf, size, len});
}

// GS ( A: test print of pattern n on paper p.
int ovik_cmd_execute_test_print(uint32_t cls, int p, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(p, 0, 2) && digit(n, 1, 3), bytes(0x1D, 0x28, 0x41, 0x02, 0x00, p, n), {buf, size, len});
}

// GS ( D: real-time commands on or off; the count k covers 14 and the data.
int ovik_cmd_enable_real_time_command(uint32_t cls, int k, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                      uint32_t size, uint32_t *len)
{
  bool ok = one_of(k, {3, 5}) && data_len == uint32_t(k - 1);
  return emit(esc(cls), ok, {P(bytes(0x1D, 0x28, 0x44, k, 0x00, 0x14)), {data, data_len}}, {buf, size, len});
}

// USB control request 1 (1E 1E 1E) or 2 (1E 10 04), for printers with class bit 12.
int ovik_cmd_usb_ctl(uint32_t cls, int request, uint8_t *buf, uint32_t size, uint32_t *len)
{
  if (!(cls & USB_CTL))
    return OVIK_ERR_PRINTER_CLASS;
  Bytes cmd = request == 2 ? bytes(0x1E, 0x10, 0x04) : bytes(0x1E, 0x1E, 0x1E);
  return emit(esc(cls), in(request, 1, 2), cmd, {buf, size, len});
}

// External buzzer on (2) or off (0).
int ovik_cmd_set_buzzer(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), one_of(n, {0, 2}), bytes(0x12, 0x27, 0x77, 0x10, n, 0x0D, 0x0A), {buf, size, len});
}

// ESC ( A: built-in beeper, r times (the count byte at most 63), d long, i apart.
int ovik_cmd_beep_integrated_beeper(uint32_t cls, int r, int d, int i, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), uint8_t(r) <= 63, bytes(0x1B, 0x28, 0x41, 0x05, 0x00, 0x61, 0x64, r, d, i), {buf, size, len});
}

// ESC p: pulse on pin m, t1 on and t2 off; the off time is never shorter than the on time.
int ovik_cmd_generate_pulse(uint32_t cls, int m, int t1, int t2, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(m, 0, 1), bytes(0x1B, 0x70, m, t1, std::max(uint8_t(t1), uint8_t(t2))), {buf, size, len});
}

// GS ( K fn 30: print control mode.
int ovik_cmd_select_the_print_control_mode(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 4), bytes(0x1D, 0x28, 0x4B, 0x02, 0x00, 0x30, n), {buf, size, len});
}

// GS ( K fn 31: print density.
int ovik_cmd_select_the_print_density(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x4B, 0x02, 0x00, 0x31, n), {buf, size, len});
}

// GS E n: print speed.
int ovik_cmd_select_the_print_speed(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x45, n), {buf, size, len});
}

// GS ( K fn 61: thermal head energizing parts.
int ovik_cmd_select_the_number_of_parts_for_the_thermal_head_energizing(uint32_t cls, int n, uint8_t *buf,
                                                                        uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 4) || n == 0x80, bytes(0x1D, 0x28, 0x4B, 0x02, 0x00, 0x61, n), {buf, size, len});
}

// GS ( Q fn 30: draw a line, 12 bytes of data.
int ovik_cmd_draw_line(uint32_t cls, const uint8_t *data, uint32_t data_len, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), data_len == 12, {P(bytes(0x1D, 0x28, 0x51, 0x0C, 0x00, 0x30)), {data, data_len}},
              {buf, size, len});
}

// GS ( Q fn 31: draw a rectangle, 14 bytes of data.
int ovik_cmd_draw_rectangle(uint32_t cls, const uint8_t *data, uint32_t data_len, uint8_t *buf, uint32_t size,
                            uint32_t *len)
{
  return emit(esc(cls), data_len == 14, {P(bytes(0x1D, 0x28, 0x51, 0x0E, 0x00, 0x31)), {data, data_len}},
              {buf, size, len});
}

// FS g 1: write n printable bytes at address a of the NV user memory.
int ovik_cmd_write_to_nv_user_memory(uint32_t cls, int a, int n, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                     uint32_t size, uint32_t *len)
{
  bool ok = in(n, 1, 1024) && data_len == uint32_t(n) && data &&
            std::all_of(data, data + data_len, [](uint8_t c) { return c >= 0x20; });
  return emit(esc(cls), ok,
              {P(bytes(0x1C, 0x67, 0x31, 0x00, a, a >> 8, a >> 16, a >> 24, n, n >> 8)), {data, data_len}},
              {buf, size, len});
}

// FS g 2: read n bytes at address a of the NV user memory.
int ovik_cmd_read_from_nv_user_memory(uint32_t cls, int a, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  bool ok = in(n, 1, 80) && in(a, 0, 1023);
  return emit(esc(cls), ok, bytes(0x1C, 0x67, 0x32, 0x00, a, a >> 8, a >> 16, a >> 24, n, n >> 8), {buf, size, len});
}

// GS :: start or end a macro definition.
int ovik_cmd_start_macro_definition(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x3A), {buf, size, len});
}

// GS ^: run the macro r times, t apart, in mode m.
int ovik_cmd_execute_macro(uint32_t cls, int r, int t, int m, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), r >= 1 && in(m, 0, 1), bytes(0x1D, 0x5E, r, t, m), {buf, size, len});
}

/* ---- Bar codes and two-dimensional symbols ---- */

// GS H n: where the human-readable text goes (signed comparison, as the printer has it).
int ovik_cmd_select_print_position_HRI_characters(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), n <= 3 || in(n, 0x30, 0x33), bytes(0x1D, 0x48, n), {buf, size, len});
}

// GS f n: font of the human-readable text.
int ovik_cmd_select_font_HRI_characters(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), digit(n, 0, 1), bytes(0x1D, 0x66, n), {buf, size, len});
}

// GS h n: bar code height.
int ovik_cmd_set_bar_code_height(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), n >= 1, bytes(0x1D, 0x68, n), {buf, size, len});
}

// GS w n: bar code module width.
int ovik_cmd_set_bar_code_width(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 1, 6), bytes(0x1D, 0x77, n), {buf, size, len});
}

// GS k: bar code; systems 0-6 end at NUL (so the data may hold none), 0x41-0x49
// carry a one-byte count (so at most 255 bytes).
int ovik_cmd_print_bar_code(uint32_t cls, int m, const uint8_t *data, uint32_t data_len, uint8_t *buf, uint32_t size,
                            uint32_t *len)
{
  if (!data || !data_len)
    return OVIK_SUCCESS;
  bool nul_ended = in(m, 0, 6), counted = in(m, 0x41, 0x49);
  bool ok = (nul_ended && !std::memchr(data, 0, data_len)) || (counted && data_len <= 0xFF);
  Bytes head = counted ? bytes(0x1D, 0x6B, m, data_len) : bytes(0x1D, 0x6B, m);
  Bytes tail = counted ? bytes() : bytes(0x00);
  return emit(esc(cls), ok, {P(head), {data, data_len}, P(tail)}, {buf, size, len}, 4ull + data_len);
}

// PDF417 fn 41: data columns, 0 (automatic) to 30.
int ovik_cmd_pdf417_set_the_number_of_columns_in_the_data_region(uint32_t cls, int n, uint8_t *buf, uint32_t size,
                                                                 uint32_t *len)
{
  return emit(esc(cls), in(n, 0, 30), bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x41, n), {buf, size, len});
}

// PDF417 fn 42: rows, 0 (automatic) or 3 to 90.
int ovik_cmd_pdf417_set_the_number_of_rows(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), n == 0 || in(n, 3, 90), bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x42, n), {buf, size, len});
}

// PDF417 fn 43: module width.
int ovik_cmd_pdf417_set_the_width_of_the_module(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 2, 8), bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x43, n), {buf, size, len});
}

// PDF417 fn 44: row height.
int ovik_cmd_pdf417_set_the_row_height(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 2, 8), bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x44, n), {buf, size, len});
}

// PDF417 fn 45: error correction by level (m 0x30) or by ratio (m 0x31).
int ovik_cmd_pdf417_set_the_error_correction_level(uint32_t cls, int m, int n, uint8_t *buf, uint32_t size,
                                                   uint32_t *len)
{
  bool ok = (m == 0x30 && in(n, 0x30, 0x38)) || (m == 0x31 && in(n, 1, 40));
  return emit(esc(cls), ok, bytes(0x1D, 0x28, 0x6B, 0x04, 0x00, 0x30, 0x45, m, n), {buf, size, len});
}

// PDF417 fn 46: standard (0) or truncated (1) symbol.
int ovik_cmd_pdf417_select_the_options(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0, 1), bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x46, n), {buf, size, len});
}

// PDF417 fn 50: store 1-65532 bytes of symbol data.
int ovik_cmd_pdf417_store_the_data_in_the_symbol_storage_area(uint32_t cls, const uint8_t *data, uint32_t data_len,
                                                              uint8_t *buf, uint32_t size, uint32_t *len)
{
  return symbol(cls, data_len >= 1, bytes(0x30, 0x50, 0x30), data, data_len, {buf, size, len});
}

// PDF417 fn 51: print the stored symbol.
int ovik_cmd_pdf417_print_the_symbol_data_in_the_symbol_storage_area(uint32_t cls, uint8_t *buf, uint32_t size,
                                                                     uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x51, 0x30), {buf, size, len});
}

// PDF417 fn 52: size of the stored symbol.
int ovik_cmd_pdf417_transmit_the_size_information_of_the_symbol_data_in_the_symbol_storage_area(uint32_t cls,
                                                                                                uint8_t *buf,
                                                                                                uint32_t size,
                                                                                                uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x52, 0x30), {buf, size, len});
}

// QR fn 41: model 1 or 2.
int ovik_cmd_qr_select_the_model(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0x31, 0x32), bytes(0x1D, 0x28, 0x6B, 0x04, 0x00, 0x31, 0x41, n, 0x00), {buf, size, len});
}

// QR fn 43: module size.
int ovik_cmd_qr_set_the_size_of_module(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 1, 16), bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, n), {buf, size, len});
}

// QR fn 45: error correction level L, M, Q, H.
int ovik_cmd_qr_select_the_error_correction_level(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), in(n, 0x30, 0x33), bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x45, n), {buf, size, len});
}

// QR fn 50: store 0-65532 bytes of symbol data.
int ovik_cmd_qr_store_the_data_in_the_symbol_storage_area(uint32_t cls, const uint8_t *data, uint32_t data_len,
                                                          uint8_t *buf, uint32_t size, uint32_t *len)
{
  return symbol(cls, data != nullptr, bytes(0x31, 0x50, 0x30), data, data_len, {buf, size, len});
}

// QR fn 51: print the stored symbol.
int ovik_cmd_qr_print_the_symbol_data_in_the_symbol_storage_area(uint32_t cls, uint8_t *buf, uint32_t size,
                                                                 uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30), {buf, size, len});
}

// QR fn 52: size of the stored symbol.
int ovik_cmd_qr_transmit_the_size_information_of_the_symbol_data_in_the_symbol_storage_area(uint32_t cls, uint8_t *buf,
                                                                                            uint32_t size,
                                                                                            uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x52, 0x30), {buf, size, len});
}

/* ---- Card readers and encrypting magnetic head ---- */

// ESC M C: read track 1.
int ovik_cmd_set_1track_card_reader_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4D, 0x43), {buf, size, len});
}

// ESC M D: read track 2.
int ovik_cmd_set_2track_card_reader_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4D, 0x44), {buf, size, len});
}

// ESC M E: read tracks 1 and 2.
int ovik_cmd_set_1_2track_card_reader_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4D, 0x45), {buf, size, len});
}

// ESC M F: read tracks 1, 2 and 3.
int ovik_cmd_set_123track_card_reader_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4D, 0x46), {buf, size, len});
}

// ESC M G: read track 3.
int ovik_cmd_set_3track_card_reader_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4D, 0x47), {buf, size, len});
}

// EOT: leave the card reader mode.
int ovik_cmd_cancel_track_card_reader_mode(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x04), {buf, size, len});
}

// ESC N: smart card reading mode.
int ovik_cmd_selecting_mode_of_reading_smart_card(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4E), {buf, size, len});
}

// ESC N n: smart card operation n.
int ovik_cmd_selecting_mode_of_operate_smart_card(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x1B, 0x4E, n), {buf, size, len});
}

// Smart card GET CHALLENGE of 8 bytes.
int ovik_cmd_get_random_data_from_smart_card(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return card(cls, 0x13, bytes(0x00, 0x84, 0x00, 0x00, 0x08), nullptr, 0, bytes(), {buf, size, len});
}

// ~ EOT ~: leave the smart card mode.
int ovik_cmd_cancel_the_mode_of_read_smart_card(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return emit(esc(cls), true, bytes(0x7E, 0x04, 0x7E), {buf, size, len});
}

// Smart card SELECT by name; the name's count is one byte inside a one-byte frame count.
int ovik_cmd_smart_card_select_file(uint32_t cls, const uint8_t *data, uint32_t data_len, uint8_t *buf, uint32_t size,
                                    uint32_t *len)
{
  return card(cls, 0x15, bytes(0x00, 0xA4, 0x04, 0x00, data_len), data, data_len, bytes(0x00), {buf, size, len});
}

// Smart card GET RESPONSE of n bytes.
int ovik_cmd_smart_card_get_response(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return card(cls, 0x15, bytes(0x00, 0xC0, 0x00, 0x00, 0x00, n), nullptr, 0, bytes(), {buf, size, len});
}

// Smart card READ RECORD p1 p2 of n bytes.
int ovik_cmd_smart_card_read_record(uint32_t cls, int p1, int p2, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return card(cls, 0x15, bytes(0x00, 0xB2, p1, p2, 0x00, n), nullptr, 0, bytes(), {buf, size, len});
}

// Encrypting head: reset.
int ovik_cmd_eh_reset(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, true, bytes(0x38), {buf, size, len});
}

// Encrypting head: default configuration.
int ovik_cmd_eh_set_default_configuration(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, true, bytes(0x53, 0x18), {buf, size, len});
}

// Encrypting head: encryption type n.
int ovik_cmd_eh_set_encryption_type(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, in(n, 0x30, 0x31), bytes(0x53, 0x58, 0x01, n), {buf, size, len});
}

// Encrypting head: ask for attestation data.
int ovik_cmd_eh_request_attestation_data(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, true, bytes(0x52, 0x74), {buf, size, len});
}

// Encrypting head: the caller's 8 attestation bytes, the frame sent twice.
int ovik_cmd_eh_send_attestation_data(uint32_t cls, const uint8_t *data, uint32_t data_len, uint8_t *buf, uint32_t size,
                                      uint32_t *len)
{
  bool ok = data && data_len == 8;
  Bytes body = bytes(0x53, 0x74, 0x08);
  if (ok) {
    std::memcpy(body.b + body.n, data, 8);
    body.n += 8;
  }
  Bytes frame = head_frame(body);
  return emit(esc(cls), ok, {P(frame), P(frame)}, {buf, size, len}, 22 + 2ull * data_len);
}

// Encrypting head: on or off.
int ovik_cmd_eh_enable(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, in(n, 0x30, 0x31), bytes(0x53, 0x1A, 0x01, n), {buf, size, len});
}

// Encrypting head: return the data of every track.
int ovik_cmd_eh_return_all_track_data(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, true, bytes(0x53, 0x85, 0x01, 0x31), {buf, size, len});
}

// Encrypting head: encrypt every track.
int ovik_cmd_eh_set_encryption_all_track(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, true, bytes(0x53, 0x84, 0x01, 0x0F), {buf, size, len});
}

// Encrypting head: encryption mode n.
int ovik_cmd_eh_set_encryption_mode(uint32_t cls, int n, uint8_t *buf, uint32_t size, uint32_t *len)
{
  return eh(cls, in(n, 0x30, 0x32), bytes(0x53, 0x4C, 0x01, n), {buf, size, len});
}

/* ---- Reply parsers ---- */

// Version numbers from the reply to the version request of the class word's form.
int ovik_cmd_parse_printer_version(uint32_t cls, char *reply, int *versions, int count)
{
  int fields = std::min(count, 3);
  if (cls & ESCPOS) {
    if (fields > 0 && !versions)
      return OVIK_ERR_PARAMETER;
    // "_" a "." b "." c " ": bounded scan, so an unterminated reply is never overrun.
    if (!reply || reply[0] != '_' || strnlen(reply, 65) > 64)
      return OVIK_ERR_MALFORMED_REPLY;
    char *at = reply + 1;
    for (int i = 0; i < fields; i++) {
      char *sep = std::strchr(at, i < 2 ? '.' : ' ');
      if (!sep)
        continue;
      *sep = '\0';
      int v = reply_number(at);
      if (v > 254)
        return OVIK_SUCCESS;
      versions[i] = v;
      at = sep + 1;
    }
    return OVIK_SUCCESS;
  }
  // This form's reply carries nothing to parse: neither reply nor array is read.
  if (cls & VERSION_ESC_HASH)
    return OVIK_SUCCESS;
  if (cls & VERSION_ZZZ) {
    if (fields > 0 && !versions)
      return OVIK_ERR_PARAMETER;
    if (!reply)
      return OVIK_ERR_MALFORMED_REPLY;
    // Raw bytes, one per entry: version 2.0.5 is the bytes 02 00 05, so a zero
    // byte is a number, not the end; the caller's reply holds min(count, 3) bytes.
    for (int i = 0; i < fields; i++)
      versions[i] = static_cast<signed char>(reply[i]);
    return OVIK_SUCCESS;
  }
  return OVIK_ERR_PRINTER_CLASS;
}

// Offline, cover, near-end and paper-end flags from an automatic status back message.
int ovik_cmd_parse_ASB_status(uint32_t cls, const uint8_t *msg4, uint8_t *flags)
{
  if (!esc(cls) || !msg4 || (msg4[0] & 0x93) != 0x10 || (msg4[1] & 0x90) || (msg4[2] & 0x90) || (msg4[3] & 0x90))
    return OVIK_ERR_PARAMETER;
  if (flags) {
    flags[4] = (msg4[0] >> 3) & 1;
    flags[5] = (msg4[0] >> 5) & 1;
    flags[6] = (msg4[2] & 0x03) == 0x03;
    flags[7] = (msg4[2] & 0x0C) == 0x0C;
  }
  return OVIK_SUCCESS;
}

// Flags from the reply byte to DLE EOT n.
int ovik_cmd_parse_real_time_status(uint32_t cls, int n, uint8_t b, uint8_t *flags)
{
  if (!esc(cls) || !in(n, 1, 4) || (b & 0x93) != 0x12)
    return OVIK_ERR_PARAMETER;
  if (flags && n == 1)
    flags[4] = (b >> 3) & 1;
  if (flags && n == 2)
    flags[5] = (b >> 2) & 1;
  if (flags && n == 4) {
    flags[6] = (b & 0x0C) == 0x0C;
    flags[7] = (b & 0x60) == 0x60;
  }
  return OVIK_SUCCESS;
}

// Flags from the reply byte to GS r n.
int ovik_cmd_parse_transmit_status(uint32_t cls, int n, uint8_t b, uint8_t *flags)
{
  if (!esc(cls) || (b & 0x90) || !flags || !in(n, 1, 2))
    return OVIK_ERR_PARAMETER;
  if (n == 1) {
    flags[6] = (b & 0x03) == 0x03;
    flags[7] = (b & 0x0C) == 0x0C;
  } else {
    flags[5] = flags[7] = b & 0x01;
  }
  return OVIK_SUCCESS;
}

// Flags 0-5 from one status byte; set flags hold the masked bit itself.
int ovik_cmd_parse_status2(uint32_t cls, uint8_t b, uint8_t *flags)
{
  if (!esc(cls) || !flags)
    return OVIK_ERR_PARAMETER;
  flags[0] = !(b & 0x20);
  flags[1] = !(b & 0x02);
  flags[2] = b & 0x04;
  flags[3] = b & 0x01;
  flags[4] = b & 0x08;
  flags[5] = b & 0x10;
  return OVIK_SUCCESS;
}

// Horizontal and vertical symbol size from "76" h 1F v 1F.
int ovik_cmd_parse_qr_code_size(uint32_t cls, char *reply, int *horizontal, int *vertical)
{
  if (!esc(cls))
    return OVIK_ERR_PRINTER_CLASS;
  if (!horizontal || !vertical)
    return OVIK_ERR_PARAMETER;
  if (!reply || reply[0] != '7' || reply[1] != '6' || strnlen(reply, 19) > 18)
    return OVIK_ERR_MALFORMED_REPLY;
  char *at = reply + 2;
  for (int *out : {horizontal, vertical}) {
    char *sep = std::strchr(at, 0x1F);
    if (!sep)
      return OVIK_ERR_MALFORMED_REPLY;
    *sep = '\0';
    *out = reply_number(at);
    at = sep + 1;
  }
  return OVIK_SUCCESS;
}

// Identifier and byte count from "7" id digits: the graphics memory capacity replies.
int ovik_cmd_parse_graphics_capacity(uint32_t cls, const char *reply, int *identifier, int *bytes)
{
  if (!esc(cls))
    return OVIK_ERR_PRINTER_CLASS;
  if (!identifier || !bytes)
    return OVIK_ERR_PARAMETER;
  // "7", the identifier and at most eight digits: a bounded scan.
  size_t length = reply ? strnlen(reply, 11) : 0;
  if (length < 3 || length > 10 || reply[0] != '7' || !in(reply[1], '0', '2'))
    return OVIK_ERR_MALFORMED_REPLY;
  int value = 0;
  for (size_t i = 2; i < length; i++) {
    if (!in(reply[i], '0', '9'))
      return OVIK_ERR_MALFORMED_REPLY;
    value = value * 10 + (reply[i] - '0');
  }
  *identifier = reply[1];
  *bytes = value;
  return OVIK_SUCCESS;
}

// Key code pairs from one block of "7" "r" status pairs: the defined NV graphics.
int ovik_cmd_parse_nv_graphics_key_codes(uint32_t cls, const char *reply, uint8_t *key_codes, int capacity, int *count,
                                         int *more)
{
  if (!esc(cls))
    return OVIK_ERR_PRINTER_CLASS;
  if (!count || !more || (!key_codes && capacity > 0))
    return OVIK_ERR_PARAMETER;
  // Header, identifier, status and at most 40 pairs: a bounded scan.
  constexpr size_t most_pairs = 40;
  size_t length = reply ? strnlen(reply, 4 + 2 * most_pairs) : 0;
  if (length < 3 || length > 3 + 2 * most_pairs || reply[0] != '7' || reply[1] != 'r' ||
      (reply[2] != '@' && reply[2] != 'A'))
    return OVIK_ERR_MALFORMED_REPLY;
  size_t data = length - 3;
  // A block that announces another holds at least one graphic.
  if (data % 2 || (reply[2] == 'A' && data == 0))
    return OVIK_ERR_MALFORMED_REPLY;
  for (size_t i = 3; i < length; i++)
    if (!key(static_cast<uint8_t>(reply[i])))
      return OVIK_ERR_MALFORMED_REPLY;
  int pairs = static_cast<int>(data / 2);
  *count = pairs;
  *more = reply[2] == 'A';
  if (pairs > capacity)
    return OVIK_ERR_BUFFER;
  if (pairs)
    std::memcpy(key_codes, reply + 3, data);
  return OVIK_SUCCESS;
}

// Mode, size, position and length of a GS v 0 command at the first 0x1D byte.
int ovik_cmds_find_raster_imgdata(uint32_t cls, const uint8_t *data, uint32_t n, uint8_t *m, int *x, int *y, int *bpr,
                                  uint32_t *pos, int *len)
{
  for (int *out : {x, y, bpr, len})
    if (out)
      *out = 0;
  if (m)
    *m = 0;
  if (pos)
    *pos = 0;
  if (!esc(cls))
    return OVIK_ERR_PRINTER_CLASS;
  if (!m || !x || !y || !bpr || !pos || !len || (!data && n))
    return OVIK_ERR_PARAMETER;
  const uint8_t *at = n ? static_cast<const uint8_t *>(std::memchr(data, 0x1D, n)) : nullptr;
  if (!at)
    return OVIK_SUCCESS;
  uint64_t i = at - data;
  if (i + 8 >= n || at[1] != 0x76 || at[2] != 0x30)
    return OVIK_SUCCESS;
  int width = at[4] | at[5] << 8, rows = at[6] | at[7] << 8;
  uint64_t total = uint64_t(width) * rows + 8;
  // A command longer than an int can say is left unreported rather than cut short.
  if (total > INT_MAX)
    return OVIK_ERR_PARAMETER;
  *m = at[3];
  *x = *bpr = width;
  *y = rows;
  *pos = static_cast<uint32_t>(i);
  *len = static_cast<int>(total);
  return OVIK_SUCCESS;
}

} // extern "C"
