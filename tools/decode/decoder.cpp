/*
 * decoder.cpp - printer stream decoder: packets, commands, PackBits rows,
 * and the paper the stream would produce.
 *
 * The stream is read in place. Each position is tried as a packet, then as
 * each command pattern whose first byte matches; bytes that fit neither form
 * an unknown run, and only a packet or a command of two bytes or more ends
 * such a run (a lone control byte in garbage proves nothing).
 */
#include "decoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

namespace {

using fx = paper_effect;

/* How a command's data after its fixed part is measured. */
enum class tail {
  none,      /* the pattern is the whole command */
  count,     /* the "len" field counts every byte after it */
  product,   /* factor x param a x param b bytes */
  nul,       /* bytes up to and including a 00, at most factor before it */
  bit_image, /* ESC *: n or 3n bytes by mode */
  raster,    /* GS v 0: x*y bytes, or y PackBits rows of x bytes */
  bar_code,  /* GS k: NUL-terminated (m 0-6) or k-counted (m 65-73) */
  nv_images, /* FS q: n images, each xL xH yL yH and x*y*8 bytes */
};

/*
 * One command of the printer's command set. Pattern tokens: two upper-case
 * hex digits are a literal byte; a lower-case name is a one-byte parameter;
 * name:2 and name:4 are little-endian, name:2b big-endian; "len" is the
 * count of a tail::count command.
 */
struct command_row {
  const char *pattern;
  const char *name;
  const char *what;
  paper_effect effect = fx::none;
  tail data = tail::none;
  const char *factor_a = nullptr;
  const char *factor_b = nullptr;
  uint32_t factor = 1;
};

/* The command set, specific patterns before the general ones they share a prefix with. */
constexpr command_row command_table[] = {
    // Print and paper movement.
    {"0A", "LF", "print and line feed", fx::line_feed},
    {"0D", "CR", "print and carriage return"},
    {"0C", "FF", "form feed (print, next ticket)", fx::form_feed},
    {"1B 0C", "ESC FF", "print data in page mode"},
    {"18", "CAN", "cancel print data in page mode"},
    {"1D 0C", "GS FF", "position to the next label", fx::form_feed},
    {"1B 4A n", "ESC J", "print and feed n dot rows", fx::feed_rows},
    {"1B 4B n", "ESC K", "print and reverse feed n dot rows"},
    {"1B 64 n", "ESC d", "print and feed n lines", fx::feed_lines},
    {"1B 65 n", "ESC e", "print and reverse feed n lines"},
    {"1C 28 4C len:2 41 n", "FS ( L", "feed to the label peeling position"},
    {"1C 28 4C len:2 42 n", "FS ( L", "feed to the cutting position"},
    {"1C 28 4C len:2 43 n", "FS ( L", "feed to the print starting position"},
    {"1C 28 4C len:2 fn", "FS ( L", "label and paper function", fx::none, tail::count},
    {"1B 69", "ESC i", "partial cut, one point left uncut", fx::cut_partial},
    {"1B 6D", "ESC m", "partial cut, three points left uncut", fx::cut_partial},
    {"1D 56 00", "GS V", "full cut", fx::cut_full},
    {"1D 56 30", "GS V", "full cut", fx::cut_full},
    {"1D 56 01", "GS V", "partial cut", fx::cut_partial},
    {"1D 56 31", "GS V", "partial cut", fx::cut_partial},
    {"1D 56 41 n", "GS V", "feed n rows, full cut", fx::cut_full},
    {"1D 56 42 n", "GS V", "feed n rows, partial cut", fx::cut_partial},
    {"1B 3C", "ESC <", "return home"},
    {"1B 55 n", "ESC U", "unidirectional print mode"},
    {"09", "HT", "horizontal tab"},
    // Line spacing and characters.
    {"1B 32", "ESC 2", "default line spacing", fx::default_spacing},
    {"1B 33 n", "ESC 3", "line spacing n dots", fx::line_spacing},
    {"1B 20 n", "ESC SP", "right-side character spacing"},
    {"1B 21 n", "ESC !", "print modes"},
    {"1B 25 n", "ESC %", "select or cancel the user-defined character set"},
    {"1B 26 03 c1 c2 x", "ESC &", "define user-defined characters", fx::none, tail::product, "x", nullptr, 3},
    {"1B 3F n", "ESC ?", "cancel a user-defined character"},
    {"1B 2D n", "ESC -", "underline mode"},
    {"1B 45 n", "ESC E", "emphasized mode"},
    {"1B 47 n", "ESC G", "double-strike mode"},
    {"1B 4D 43", "ESC M C", "card reader: track 1"},
    {"1B 4D 44", "ESC M D", "card reader: track 2"},
    {"1B 4D 45", "ESC M E", "card reader: tracks 1 and 2"},
    {"1B 4D 46", "ESC M F", "card reader: tracks 1, 2 and 3"},
    {"1B 4D 47", "ESC M G", "card reader: track 3"},
    {"1B 4D 53 len:2b 02 op", "ESC M S", "encrypting magnetic head frame", fx::none, tail::count},
    {"1B 4D n", "ESC M", "character font"},
    {"1B 52 n", "ESC R", "international character set"},
    {"1B 56 n", "ESC V", "90 degree rotation"},
    {"1B 74 n", "ESC t", "character code table"},
    {"1B 7B n", "ESC {", "upside-down mode"},
    {"1D 21 n", "GS !", "character size"},
    {"1D 42 n", "GS B", "white/black reverse mode"},
    {"1D 62 n", "GS b", "smoothing mode"},
    {"1C 26", "FS &", "kanji character mode"},
    {"1C 2E", "FS .", "cancel kanji character mode"},
    // Print position and page mode.
    {"1B 24 n:2", "ESC $", "absolute print position"},
    {"1B 44", "ESC D", "horizontal tab positions", fx::none, tail::nul, nullptr, nullptr, 32},
    {"1B 4C", "ESC L", "page mode"},
    {"1B 53", "ESC S", "standard mode"},
    {"1B 54 n", "ESC T", "print direction in page mode"},
    {"1B 57 x:2 y:2 dx:2 dy:2", "ESC W", "print area in page mode"},
    {"1B 5C n:2", "ESC \\", "relative print position"},
    {"1B 61 n", "ESC a", "justification (0 left, 1 centre, 2 right)", fx::justify},
    {"1D 24 n:2", "GS $", "absolute vertical position in page mode"},
    {"1D 4C n:2", "GS L", "left margin n dots", fx::left_margin},
    {"1D 54 n", "GS T", "print position to the beginning of the line"},
    {"1D 57 n:2", "GS W", "print area width"},
    {"1D 5C n:2", "GS \\", "relative vertical position in page mode"},
    {"1D 50 x y", "GS P", "horizontal and vertical motion units"},
    // Bit images, raster images and graphics.
    {"1B 2A m n:2", "ESC *", "bit image", fx::none, tail::bit_image},
    {"1C 70 n m", "FS p", "print NV bit image", fx::stored_image},
    {"1C 71 n", "FS q", "define NV bit images", fx::none, tail::nv_images},
    {"1D 2A x y", "GS *", "define downloaded bit image", fx::none, tail::product, "x", "y", 8},
    {"1D 2F m", "GS /", "print downloaded bit image", fx::stored_image},
    {"1D 76 30 m x:2 y:2", "GS v 0", "raster image", fx::raster, tail::raster},
    {"1D 28 4C len:2 30 30", "GS ( L", "transmit the NV graphics memory capacity"},
    {"1D 28 4C len:2 30 31 dx dy", "GS ( L", "reference dot density for graphics"},
    {"1D 28 4C len:2 30 32", "GS ( L", "print the graphics in the print buffer", fx::stored_image},
    {"1D 28 4C len:2 30 33", "GS ( L", "transmit the remaining NV graphics capacity"},
    {"1D 28 4C len:2 30 34", "GS ( L", "transmit the remaining download graphics capacity"},
    {"1D 28 4C len:2 30 40 4B 43", "GS ( L", "transmit the NV graphics key codes"},
    {"1D 28 4C len:2 30 41 43 4C 52", "GS ( L", "delete all NV graphics"},
    {"1D 28 4C len:2 30 42 k1 k2", "GS ( L", "delete NV graphics"},
    {"1D 28 4C len:2 30 43 30 k1 k2 b x:2 y:2 c", "GS ( L", "define NV graphics (raster)", fx::define_graphic,
     tail::count},
    {"1D 28 4C len:2 30 44 30 k1 k2 b x:2 y:2 c", "GS ( L", "define NV graphics (column)", fx::define_graphic,
     tail::count},
    {"1D 28 4C len:2 30 45 k1 k2 sx sy", "GS ( L", "print NV graphics", fx::stored_image},
    {"1D 28 4C len:2 30 50 4B 43", "GS ( L", "transmit the download graphics key codes"},
    {"1D 28 4C len:2 30 51 43 4C 52", "GS ( L", "delete all download graphics"},
    {"1D 28 4C len:2 30 52 k1 k2", "GS ( L", "delete download graphics"},
    {"1D 28 4C len:2 30 53 30 k1 k2 b x:2 y:2 c", "GS ( L", "define download graphics (raster)", fx::define_graphic,
     tail::count},
    {"1D 28 4C len:2 30 54 30 k1 k2 b x:2 y:2 c", "GS ( L", "define download graphics (column)", fx::define_graphic,
     tail::count},
    {"1D 28 4C len:2 30 55 k1 k2 sx sy", "GS ( L", "print download graphics", fx::stored_image},
    {"1D 28 4C len:2 30 70 30 bx by c x:2 y:2", "GS ( L", "store graphics in the print buffer (raster)", fx::none,
     tail::count},
    {"1D 28 4C len:2 30 71 30 bx by c x:2 y:2", "GS ( L", "store graphics in the print buffer (column)", fx::none,
     tail::count},
    {"1D 28 4C len:2", "GS ( L", "graphics function", fx::none, tail::count},
    // Status, real-time and device control.
    {"1D 49 41", "GS I", "transmit printer version"},
    {"1B 23 2A 0A 00", "ESC # *", "transmit printer version"},
    {"5A 5A 5A 47 45 54 56 45 52 53 49 4F 4E", "ZZZGETVERSION", "transmit printer version"},
    {"1D 49 n", "GS I", "transmit printer ID"},
    {"10 04 n", "DLE EOT", "transmit real-time status"},
    {"10 05 n", "DLE ENQ", "real-time request"},
    {"10 14 01 m t", "DLE DC4", "pulse in real time (drawer m)", fx::pulse},
    {"10 14 02 01 08", "DLE DC4", "power-off sequence"},
    {"10 14 07 n", "DLE DC4", "transmit specified status in real time"},
    {"10 14 08 01 03 14 01 06 02 08", "DLE DC4", "clear buffer"},
    {"1B 75", "ESC u", "transmit peripheral device status"},
    {"1B 76", "ESC v", "transmit paper sensor status"},
    {"1D 61 n", "GS a", "automatic status back"},
    {"1D 72 n", "GS r", "transmit status"},
    {"1B 40", "ESC @", "initialize printer", fx::initialize},
    {"06", "ACK", "handshake: the next block, or done"},
    {"15", "NAK", "handshake: the last block again"},
    {"1B 3D n", "ESC =", "select peripheral device"},
    {"1D 28 41 len:2 p n", "GS ( A", "execute test print"},
    {"1D 28 44 len:2 14", "GS ( D", "enable/disable real-time commands", fx::none, tail::count},
    {"1E 1E 1E", "USB", "USB control request 1"},
    {"1E 10 04", "USB", "USB control request 2"},
    {"12 27 77 10 n 0D 0A", "buzzer", "set buzzer"},
    {"1B 28 41 len:2 61 64 r d i", "ESC ( A", "beeper: r times, duration d, interval i", fx::beep},
    {"1B 70 m t1 t2", "ESC p", "pulse on pin m (drawer or buzzer), t1/t2 x 2 ms", fx::pulse},
    {"1D 28 4B len:2 30 n", "GS ( K", "print control mode"},
    {"1D 28 4B len:2 31 n", "GS ( K", "print density"},
    {"1D 28 4B len:2 61 n", "GS ( K", "thermal head energizing parts"},
    {"1D 28 4B len:2", "GS ( K", "print control function", fx::none, tail::count},
    {"1D 45 n", "GS E", "print speed"},
    {"1D 28 51 len:2 30", "GS ( Q", "draw line", fx::none, tail::count},
    {"1D 28 51 len:2 31", "GS ( Q", "draw rectangle", fx::none, tail::count},
    {"1D 28 51 len:2", "GS ( Q", "drawing function", fx::none, tail::count},
    {"1C 67 31 00 a:4 n:2", "FS g 1", "write to NV user memory", fx::none, tail::product, "n"},
    {"1C 67 32 00 a:4 n:2", "FS g 2", "read from NV user memory"},
    {"1D 3A", "GS :", "start or end macro definition"},
    {"1D 5E r t m", "GS ^", "execute macro"},
    {"1D 28 45 02 00 06 08 01 49 4E", "GS ( E", "user setting: code table"},
    {"1D 28 45 len:2 01 49 4E", "GS ( E", "enter user setting mode"},
    {"1D 28 45 len:2 02 4F 55 54", "GS ( E", "end user setting mode"},
    {"1D 28 45 len:2 05 a n", "GS ( E", "user setting", fx::none, tail::count},
    {"1D 28 45 len:2 fn", "GS ( E", "user setting function", fx::none, tail::count},
    // Bar codes and two-dimensional symbols.
    {"1D 48 n", "GS H", "HRI character position"},
    {"1D 66 n", "GS f", "HRI character font"},
    {"1D 68 n", "GS h", "bar code height"},
    {"1D 77 n", "GS w", "bar code width"},
    {"1D 6B m", "GS k", "print bar code", fx::none, tail::bar_code},
    {"1D 28 6B len:2 30 41 n", "GS ( k", "PDF417: columns"},
    {"1D 28 6B len:2 30 42 n", "GS ( k", "PDF417: rows"},
    {"1D 28 6B len:2 30 43 n", "GS ( k", "PDF417: module width"},
    {"1D 28 6B len:2 30 44 n", "GS ( k", "PDF417: row height"},
    {"1D 28 6B len:2 30 45 m n", "GS ( k", "PDF417: error correction level"},
    {"1D 28 6B len:2 30 46 n", "GS ( k", "PDF417: options"},
    {"1D 28 6B len:2 30 50 30", "GS ( k", "PDF417: store data", fx::none, tail::count},
    {"1D 28 6B len:2 30 51 30", "GS ( k", "PDF417: print symbol"},
    {"1D 28 6B len:2 30 52 30", "GS ( k", "PDF417: transmit size"},
    {"1D 28 6B len:2 31 41 n n2", "GS ( k", "QR: model"},
    {"1D 28 6B len:2 31 43 n", "GS ( k", "QR: module size"},
    {"1D 28 6B len:2 31 45 n", "GS ( k", "QR: error correction level"},
    {"1D 28 6B len:2 31 50 30", "GS ( k", "QR: store data", fx::none, tail::count},
    {"1D 28 6B len:2 31 51 30", "GS ( k", "QR: print symbol"},
    {"1D 28 6B len:2 31 52 30", "GS ( k", "QR: transmit size"},
    {"1D 28 6B len:2", "GS ( k", "symbol function", fx::none, tail::count},
    // Card readers.
    {"04", "EOT", "cancel track card reader mode"},
    {"1B 4E 13 00 00 len", "ESC N", "smart card: get random data", fx::none, tail::count},
    {"1B 4E 15 00 00 len 00 ins p1 p2", "ESC N", "smart card command", fx::none, tail::count},
    {"1B 4E n", "ESC N", "operate smart card"},
    {"7E 04 7E", "~ EOT ~", "cancel smart card reading mode"},
};

/* One token of a compiled pattern. */
struct token {
  int literal = -1; /* the byte, or -1 for a parameter */
  std::string name; /* records point at it: the compiled table never changes */
  unsigned width = 1;
  bool big_endian = false;
};

/* A command row ready for matching. */
struct compiled_row {
  const command_row *row;
  const char *name;
  std::vector<token> tokens;
};

/* Splits a pattern into its tokens. */
std::vector<token> compile_pattern(std::string_view pattern)
{
  std::vector<token> tokens;
  while (!pattern.empty()) {
    size_t space = pattern.find(' ');
    std::string_view word = pattern.substr(0, space);
    pattern = space == std::string_view::npos ? std::string_view() : pattern.substr(space + 1);
    token t;
    if (word.size() == 2 && std::isxdigit(uint8_t(word[0])) && !std::islower(uint8_t(word[0])) &&
        std::isxdigit(uint8_t(word[1])) && !std::islower(uint8_t(word[1]))) {
      t.literal = int(std::strtoul(std::string(word).c_str(), nullptr, 16));
    } else {
      size_t colon = word.find(':');
      t.name = std::string(word.substr(0, colon));
      if (colon != std::string_view::npos) {
        t.width = unsigned(word[colon + 1] - '0');
        t.big_endian = word.size() > colon + 2 && word[colon + 2] == 'b';
      }
    }
    tokens.push_back(t);
  }
  return tokens;
}

/* The compiled table indexed by first byte; GS ( L rows also serve GS 8 L (4-byte count). */
const std::array<std::vector<compiled_row>, 256> &command_index()
{
  static const std::array<std::vector<compiled_row>, 256> index = [] {
    std::array<std::vector<compiled_row>, 256> built;
    for (const command_row &row : command_table) {
      std::vector<token> tokens = compile_pattern(row.pattern);
      built[size_t(tokens[0].literal)].push_back({&row, row.name, tokens});
      if (std::string_view(row.pattern).starts_with("1D 28 4C len:2")) {
        tokens[1].literal = 0x38;
        tokens[3].width = 4;
        built[0x1D].push_back({&row, "GS 8 L", tokens});
      }
    }
    return built;
  }();
  return index;
}

/* Reads an unsigned field of width bytes. */
uint32_t read_field(const uint8_t *p, unsigned width, bool big_endian)
{
  uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i)
    value |= uint32_t(p[big_endian ? width - 1 - i : i]) << (8 * i);
  return value;
}

/* Outcome of trying one reading at a position. */
enum class fit { none, partial, full };

struct attempt {
  fit result = fit::none;
  size_t matched = 0; /* partial: bytes that agreed before the input ended */
  size_t needed = 0;  /* partial: bytes the candidate needs at least */
};

/* What the decoder carries from one record to the next. */
struct decode_context {
  std::span<const uint8_t> bytes;
  bool in_sync = true;
  size_t guess_budget = 0; /* bytes still to spend on candidates that fail out of sync */
  bool have_page_header = false;
  uint32_t page_bytes_per_line = 0;
  uint32_t page_rows = 0;
  uint32_t page_seq = 0;
  size_t unsettled_need = SIZE_MAX; /* bytes from pos a reading that more input could change needs */
};

/* Notes that more input could change the reading at pos once it holds need bytes from there. */
void note_unsettled(decode_context &ctx, size_t need)
{
  ctx.unsettled_need = std::min(ctx.unsettled_need, need);
}

/* A partial attempt needing `needed` bytes from pos of which `matched` agreed. */
attempt partial_at(size_t matched, uint64_t needed)
{
  return {fit::partial, matched, size_t(std::min<uint64_t>(needed, SIZE_MAX))};
}

/* Whether an out-of-sync guess may still spend cost bytes. */
bool may_guess(decode_context &ctx, size_t cost)
{
  return ctx.in_sync || cost <= ctx.guess_budget;
}
/* Spends the cost of an out-of-sync guess that came to nothing. */
void charge_guess(decode_context &ctx, size_t cost)
{
  if (!ctx.in_sync)
    ctx.guess_budget -= std::min(cost, ctx.guess_budget);
}

/* Measures the GS v 0 rows after the header at i; sets end. */
attempt measure_raster(decode_context &ctx, size_t pos, size_t i, decode_record &rec, uint64_t &end)
{
  const auto bytes = ctx.bytes;
  uint32_t m = record_param(rec, "m", 0);
  rec.row_bytes = record_param(rec, "x", 0);
  rec.rows = record_param(rec, "y", 0);
  bool known_mode = m <= 3 || (m >= 0x20 && m <= 0x23) || (m >= 0x30 && m <= 0x33);
  rec.compressed = m >= 0x20 && m <= 0x23;
  rec.scale_x = known_mode && (m & 1) ? 2 : 1;
  rec.scale_y = known_mode && (m & 2) ? 2 : 1;
  if (!known_mode)
    rec.problem = "unknown mode " + std::to_string(m) + ", read as plain rows";
  if (!rec.compressed) {
    end = i + uint64_t(rec.row_bytes) * rec.rows;
    return {fit::full};
  }
  // Every coded row of at least one byte takes two bytes or more.
  size_t left = bytes.size() - i;
  if (rec.row_bytes > 0 && uint64_t(rec.rows) * 2 > left)
    return partial_at(i - pos, i - pos + uint64_t(rec.rows) * 2);
  if (!may_guess(ctx, left))
    return {};
  size_t j = i;
  bool ink = false;
  for (uint32_t r = 0; r < rec.rows; ++r) {
    packbits_row row = packbits_decode_row(bytes.data() + j, bytes.size() - j, nullptr, rec.row_bytes);
    if (!row.complete) {
      charge_guess(ctx, j + row.consumed - i);
      return partial_at(bytes.size() - pos, bytes.size() - pos + 1);
    }
    if (row.overrun && rec.problem.empty())
      rec.problem = "row " + std::to_string(r) + ": a run passes the row end";
    ink |= row.nonzero;
    j += row.consumed;
  }
  rec.blank = !ink;
  end = j;
  return {fit::full};
}

/* Measures a command's data after its fixed part at i; sets end (may pass the input). */
attempt measure_tail(decode_context &ctx, const command_row &row, size_t pos, size_t i, uint64_t count_end,
                     decode_record &rec, uint64_t &end)
{
  const auto bytes = ctx.bytes;
  switch (row.data) {
  case tail::none: // a counted command may carry more than its pattern names
    end = count_end == UINT64_MAX ? i : count_end;
    return {fit::full};
  case tail::count:
    end = count_end;
    return {fit::full};
  case tail::product: {
    uint64_t length = row.factor;
    for (const char *name : {row.factor_a, row.factor_b})
      if (name)
        length *= record_param(rec, name, 0);
    end = i + length;
    return {fit::full};
  }
  case tail::bit_image: {
    uint32_t m = record_param(rec, "m", 0), n = record_param(rec, "n", 0);
    if (m > 0x21 || (m > 1 && m < 0x20))
      return {};
    end = i + uint64_t(n) * (m >= 0x20 ? 3 : 1);
    return {fit::full};
  }
  case tail::raster:
    return measure_raster(ctx, pos, i, rec, end);
  case tail::bar_code: {
    uint32_t m = record_param(rec, "m", 0);
    if (m >= 0x41 && m <= 0x49) {
      if (i >= bytes.size())
        return partial_at(i - pos, i - pos + 1);
      rec.params.push_back({"k", bytes[i]});
      end = i + 1 + bytes[i];
      return {fit::full};
    }
    if (m > 6)
      return {};
    [[fallthrough]];
  }
  case tail::nul: {
    size_t longest = row.data == tail::nul ? row.factor : 255;
    size_t stop = std::min(bytes.size(), i + longest + 1);
    const uint8_t *zero = std::find(bytes.data() + i, bytes.data() + stop, 0);
    if (zero != bytes.data() + stop) {
      end = size_t(zero - bytes.data()) + 1;
      return {fit::full};
    }
    if (stop == bytes.size() && stop < i + longest + 1)
      return partial_at(stop - pos, stop - pos + 1);
    return {};
  }
  case tail::nv_images: {
    uint64_t j = i;
    for (uint32_t image = record_param(rec, "n", 0); image > 0; --image) {
      if (j + 4 > bytes.size())
        return partial_at(bytes.size() - pos, j + 4 - pos);
      j += 4 + uint64_t(read_field(&bytes[j], 2, false)) * read_field(&bytes[j + 2], 2, false) * 8;
    }
    end = j;
    return {fit::full};
  }
  }
  return {};
}

/* The function byte of a GS ( L or GS 8 L record, or -1. */
int graphics_function(const decode_record &rec, std::span<const uint8_t> bytes)
{
  std::string_view name = rec.name;
  if (rec.type != record_type::command || (name != "GS ( L" && name != "GS 8 L"))
    return -1;
  size_t at = rec.offset + (name == "GS 8 L" ? 8 : 6);
  return at < rec.offset + rec.length && at < bytes.size() ? bytes[at] : -1;
}

/* Define functions and their form: the raster or the column layout. */
bool is_define(int fn)
{
  return fn == 0x43 || fn == 0x44 || fn == 0x53 || fn == 0x54;
}
bool is_column_form(int fn)
{
  return fn == 0x44 || fn == 0x54;
}

/* A define's image geometry, and what does not fit it. */
void check_define(decode_record &rec, std::span<const uint8_t> bytes)
{
  uint32_t x = record_param(rec, "x", 0), y = record_param(rec, "y", 0);
  bool column = is_column_form(graphics_function(rec, bytes));
  rec.row_bytes = (x + 7) / 8;
  rec.rows = y;
  uint64_t expected = column ? uint64_t(x) * ((y + 7) / 8) : uint64_t(rec.row_bytes) * y;
  if (x < 1 || x > 8192 || y < 1 || y > 2304)
    rec.problem = std::to_string(x) + " x " + std::to_string(y) + " dots: a graphic is 1-8192 x 1-2304 dots";
  else if (record_param(rec, "b", 0) != 1)
    rec.problem = "only one colour is drawn";
  else if (rec.data_length != expected)
    rec.problem = std::to_string(rec.data_length) + " data bytes for " + std::to_string(x) + " x " + std::to_string(y) +
                  " dots, " + std::to_string(expected) + " expected";
}

/* Tries one command pattern at pos; on a full match fills rec. */
attempt match_command(decode_context &ctx, const compiled_row &row, size_t pos, decode_record &rec)
{
  const auto bytes = ctx.bytes;
  rec = decode_record{};
  size_t i = pos;
  uint64_t count_end = UINT64_MAX;
  for (const token &t : row.tokens) {
    if (i + t.width > count_end)
      return {}; // the count leaves no room for this part
    if (bytes.size() - i < t.width)
      return partial_at(i - pos, i - pos + t.width);
    uint32_t value = read_field(&bytes[i], t.width, t.big_endian);
    if (t.literal >= 0 && value != uint32_t(t.literal))
      return {};
    i += t.width;
    if (t.name == "len")
      count_end = i + uint64_t(value);
    else if (t.literal < 0)
      rec.params.push_back({t.name.c_str(), value});
  }
  uint64_t end = i;
  attempt tail_fit = measure_tail(ctx, *row.row, pos, i, count_end, rec, end);
  if (tail_fit.result != fit::full)
    return tail_fit;
  if (end > bytes.size())
    return partial_at(bytes.size() - pos, end - pos);
  rec.type = record_type::command;
  rec.offset = pos;
  rec.length = size_t(end) - pos;
  rec.name = row.name;
  rec.what = row.row->what;
  rec.effect = row.row->effect;
  rec.data_offset = i;
  rec.data_length = size_t(end) - rec.data_offset;
  if (rec.effect == fx::raster && !rec.compressed)
    rec.blank =
        std::all_of(bytes.begin() + rec.data_offset, bytes.begin() + size_t(end), [](uint8_t b) { return b == 0; });
  if (rec.effect == fx::define_graphic)
    check_define(rec, bytes);
  return {fit::full};
}

/* A packet kind: its fixed header bytes 4-9, body length and body template (-1: a value). */
struct packet_kind_row {
  const char *name;
  std::array<uint8_t, 6> header;
  int body_length; /* -1: data length + 12 */
  std::array<int16_t, 14> body;
  size_t template_length;
  struct field {
    const char *name;
    uint8_t offset, width;
  };
  std::array<field, 4> fields;
};

constexpr packet_kind_row packet_kinds[] = {
    {"density", {1, 0, 0, 0, 0, 0}, 7, {2, 0, 1, 0xCB, 0, 1, -1}, 7, {{{"density", 6, 1}}}},
    {"paper type", {1, 1, 1, 0, 0, 0}, 7, {2, 0, 1, 0xCE, 0, 1, -1}, 7, {{{"paper_code", 6, 1}}}},
    {"document start", {1, 0, 0, 0, 0, 0}, 4, {0x0A, 0, 1, 0}, 4, {}},
    {"page header",
     {1, 0, 0, 0, 0, 0},
     14,
     {5, 0, 1, 1, -1, -1, -1, -1, -1, 1, -1, 0, 0, 0},
     14,
     {{{"bytes_per_line", 4, 2}, {"rows", 6, 2}, {"flags", 8, 1}, {"seq", 10, 1}}}},
    {"bitmap",
     {2, 0, 0, 0, 0, 0},
     -1,
     {5, 0, -1, 0, 0, 0, 0, 0, -1, -1, -1, -1},
     12,
     {{{"seq", 2, 1}, {"data_bytes", 8, 4}}}},
};

/* Appends a note to a record's problem text. */
void add_problem(decode_record &rec, const std::string &note)
{
  rec.problem += (rec.problem.empty() ? "" : "; ") + note;
}

/* Formats one byte as two hex digits. */
std::string hex_byte(uint8_t b)
{
  char text[4];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

/* Checks the fixed bytes of a known packet against its kind; notes each difference. */
void check_packet_bytes(const packet_kind_row &kind, const uint8_t *p, size_t body_length, decode_record &rec)
{
  auto expect = [&](size_t offset, int wanted) {
    if (wanted >= 0 && p[offset] != wanted)
      add_problem(rec, "byte +" + std::to_string(offset) + " is " + hex_byte(p[offset]) + ", expected " +
                           hex_byte(uint8_t(wanted)));
  };
  for (size_t j = 0; j < kind.header.size(); ++j)
    expect(4 + j, kind.header[j]);
  for (size_t j = 0; j < std::min(kind.template_length, body_length); ++j)
    expect(14 + j, kind.body[j]);
  if (kind.body_length >= 0 && body_length != size_t(kind.body_length))
    add_problem(rec, "body length " + std::to_string(body_length) + ", expected " + std::to_string(kind.body_length));
}

/* Checks a bitmap packet against its page header and works out its rows. */
void check_bitmap(decode_context &ctx, size_t body_length, decode_record &rec)
{
  if (body_length < 12) {
    add_problem(rec, "body too short for a bitmap");
    return;
  }
  rec.data_offset = rec.offset + 26;
  rec.data_length = body_length - 12;
  if (record_param(rec, "data_bytes", 0) != rec.data_length)
    add_problem(rec, "data length field " + std::to_string(record_param(rec, "data_bytes", 0)) + ", body carries " +
                         std::to_string(rec.data_length));
  auto data = ctx.bytes.subspan(rec.data_offset, rec.data_length);
  rec.blank = std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; });
  if (!ctx.have_page_header) {
    add_problem(rec, "no page header before this bitmap");
    return;
  }
  ctx.have_page_header = false;
  rec.row_bytes = ctx.page_bytes_per_line;
  rec.rows = rec.row_bytes ? uint32_t(rec.data_length / rec.row_bytes) : 0;
  rec.params.push_back({"rows", rec.rows});
  rec.params.push_back({"row_bytes", rec.row_bytes});
  if (rec.row_bytes && rec.data_length % rec.row_bytes)
    add_problem(rec, "data is not a whole number of rows");
  if ((rec.rows & 0xFFFF) != ctx.page_rows)
    add_problem(rec, "page header said " + std::to_string(ctx.page_rows) + " rows");
  if (record_param(rec, "seq", 0) != ctx.page_seq)
    add_problem(rec, "page header had sequence " + std::to_string(ctx.page_seq));
}

/* Tries a packet at pos; on success fills rec. */
attempt match_packet(decode_context &ctx, size_t pos, decode_record &rec)
{
  const auto bytes = ctx.bytes;
  size_t left = bytes.size() - pos;
  if (left < 2 && bytes[pos] == 0x1B)
    note_unsettled(ctx, 2);
  if (left < 2 || bytes[pos] != 0x1B || bytes[pos + 1] != 0x1A)
    return {};
  const uint8_t *p = &bytes[pos];
  bool known = (left < 3 || p[2] == 1) && (left < 4 || p[3] <= 4);
  // Short of its length, even a packet of an unknown kind may still arrive whole.
  if (left < 14) {
    note_unsettled(ctx, 14);
    return known && ctx.in_sync ? partial_at(left, 14) : attempt{};
  }
  uint64_t body_length = read_field(p + 10, 4, false);
  if (18 + body_length > left) {
    note_unsettled(ctx, size_t(std::min<uint64_t>(18 + body_length, SIZE_MAX)));
    return known && ctx.in_sync ? partial_at(left, 18 + body_length) : attempt{};
  }
  const packet_kind_row *kind = known ? &packet_kinds[p[3]] : nullptr;
  bool consistent =
      kind && (kind->body_length >= 0 ? body_length == uint64_t(kind->body_length)
                                      : body_length >= 12 && read_field(p + 22, 4, false) == body_length - 12);
  size_t span = size_t(body_length) + 12;
  if (!consistent && !may_guess(ctx, span))
    return {};
  rec = decode_record{};
  rec.crc_computed = packet_crc(bytes.subspan(pos + 2, span));
  rec.crc_stored = read_field(p + 14 + body_length, 4, false);
  rec.crc_ok = rec.crc_computed == rec.crc_stored;
  if (!rec.crc_ok && !(known && (ctx.in_sync || consistent))) {
    charge_guess(ctx, span);
    return {};
  }
  rec.type = record_type::packet;
  rec.offset = pos;
  rec.length = size_t(body_length) + 18;
  rec.packet_kind = p[3];
  rec.name = kind ? kind->name : "unknown kind";
  rec.what = "packet";
  if (!kind) {
    rec.packet_kind = -1;
    rec.params.push_back({"fixed", p[2]});
    rec.params.push_back({"kind", p[3]});
    return {fit::full};
  }
  check_packet_bytes(*kind, p, size_t(body_length), rec);
  for (const auto &f : kind->fields)
    if (f.name && f.offset + f.width <= body_length)
      rec.params.push_back({f.name, read_field(p + 14 + f.offset, f.width, false)});
  if (p[3] == 3) {
    rec.effect = fx::none;
    ctx.have_page_header = true;
    ctx.page_bytes_per_line = record_param(rec, "bytes_per_line", 0);
    ctx.page_rows = record_param(rec, "rows", 0);
    ctx.page_seq = record_param(rec, "seq", 0);
  } else if (p[3] == 4) {
    rec.effect = fx::bitmap;
    check_bitmap(ctx, size_t(body_length), rec);
  }
  return {fit::full};
}

/* Tries every reading at pos: a packet, then the commands of its first byte. */
attempt match_at(decode_context &ctx, size_t pos, decode_record &rec, const char *&partial_name)
{
  attempt best = match_packet(ctx, pos, rec);
  partial_name = "a packet";
  if (best.result == fit::full)
    return best;
  if (best.result == fit::partial)
    note_unsettled(ctx, best.needed);
  for (const compiled_row &row : command_index()[ctx.bytes[pos]]) {
    attempt a = match_command(ctx, row, pos, rec);
    if (a.result == fit::full)
      return a;
    if (a.result == fit::partial)
      note_unsettled(ctx, a.needed); // an earlier row, once whole, would win over a later one
    if (a.result == fit::partial && (best.result != fit::partial || a.matched > best.matched)) {
      best = a;
      partial_name = row.name;
    }
  }
  return best;
}

/* Formats an offset as 8 hex digits. */
std::string hex_offset(size_t offset)
{
  char text[24];
  std::snprintf(text, sizeof text, "%08zX", offset);
  return text;
}

/* The stop record for an input that ends inside a reading begun at pos. */
decode_record stop_record(std::span<const uint8_t> bytes, size_t pos, const attempt &a, const char *name)
{
  decode_record rec;
  rec.type = record_type::stop;
  rec.offset = pos;
  rec.length = bytes.size() - pos;
  rec.name = "stop";
  size_t present = bytes.size() - pos;
  std::string inside = a.matched > 1 ? std::string(name) : "a command beginning " + hex_byte(bytes[pos]);
  if (std::string_view(name) == "a packet")
    inside = "a packet";
  rec.problem = "input ends inside " + inside + " at 0x" + hex_offset(pos) + ": " + std::to_string(present) +
                (present == 1 ? " byte" : " bytes") + " present, at least " + std::to_string(a.needed) + " needed";
  return rec;
}

/* An unknown run [start, end). */
decode_record unknown_record(size_t start, size_t end)
{
  decode_record rec;
  rec.type = record_type::unknown;
  rec.offset = start;
  rec.length = end - start;
  rec.name = "unknown";
  return rec;
}

/* Paper position state while walking the records. */
struct paper_state {
  uint32_t left_margin = 0;
  uint32_t justify = 0;
  uint32_t line_spacing = 30; /* dots; the printer's default line spacing */
};

/* What one record does to the paper outside images. */
struct paper_step {
  uint64_t feed = 0; /* blank dot rows */
  uint8_t mark = 0;  /* px_cut_full ... px_stored, or 0 */
};

/* Applies a record to the paper state; returns its feed and mark. */
paper_step apply_record(const decode_record &rec, paper_state &state)
{
  paper_step step;
  uint32_t n = record_param(rec, "n", 0);
  switch (rec.effect) {
  case fx::feed_rows:
    step.feed = n;
    break;
  case fx::feed_lines:
    step.feed = uint64_t(n) * state.line_spacing;
    break;
  case fx::line_feed:
    step.feed = state.line_spacing;
    break;
  case fx::line_spacing:
    state.line_spacing = n;
    break;
  case fx::default_spacing:
    state.line_spacing = paper_state{}.line_spacing;
    break;
  case fx::cut_full:
    step.feed = n;
    step.mark = px_cut_full;
    break;
  case fx::cut_partial:
    step.feed = n;
    step.mark = px_cut_partial;
    break;
  case fx::left_margin:
    state.left_margin = n;
    break;
  case fx::justify:
    if (n <= 2 || (n >= 0x30 && n <= 0x32))
      state.justify = n & 3;
    break;
  case fx::form_feed:
    step.mark = px_form_feed;
    break;
  case fx::stored_image:
    step.mark = px_stored;
    break;
  case fx::initialize:
    state = paper_state{};
    break;
  case fx::raster:
    if (rec.blank)
      step.feed = uint64_t(rec.rows) * rec.scale_y;
    break;
  default:
    break;
  }
  return step;
}

/* Counts the records of a stream into its summary. */
decode_summary summarize(const std::vector<decode_record> &records, size_t size)
{
  decode_summary s;
  s.bytes = size;
  paper_state state;
  for (const decode_record &rec : records) {
    s.problems += !rec.problem.empty() && rec.type != record_type::stop;
    if (rec.type == record_type::packet) {
      ++s.packets;
      s.crc_errors += !rec.crc_ok;
      s.page_headers += rec.packet_kind == 3;
      s.bitmaps += rec.packet_kind == 4;
      if (rec.packet_kind == 4) {
        s.rows += rec.rows;
        s.paper_rows += rec.rows;
      }
      if (rec.packet_kind == 3)
        s.width_bytes = std::max<size_t>(s.width_bytes, record_param(rec, "bytes_per_line", 0));
      s.width_bytes = std::max<size_t>(s.width_bytes, rec.row_bytes);
    } else if (rec.type == record_type::command) {
      ++s.commands;
      if (rec.effect == fx::raster && !rec.blank) {
        ++s.raster_images;
        s.raster_rows += rec.rows;
        s.paper_rows += size_t{rec.rows} * rec.scale_y;
      }
      s.cuts_full += rec.effect == fx::cut_full;
      s.cuts_partial += rec.effect == fx::cut_partial;
      s.pulses += rec.effect == fx::pulse;
      s.beeps += rec.effect == fx::beep;
      s.logos += rec.effect == fx::stored_image;
      s.form_feeds += rec.effect == fx::form_feed;
      uint64_t feed = apply_record(rec, state).feed;
      s.feed_rows += feed;
      s.paper_rows += feed;
    } else if (rec.type == record_type::unknown) {
      s.unknown_bytes += rec.length;
      ++s.sync_losses;
      if (rec.offset + rec.length == size)
        s.stop_offset = (long long)rec.offset;
    } else {
      s.stop_offset = (long long)rec.offset;
    }
  }
  return s;
}

} // namespace

/* zlib's crc32 from 0xFFFFFFFF, fed in pieces that fit its length type. */
uint32_t packet_crc(std::span<const uint8_t> bytes)
{
  uLong crc = 0xFFFFFFFFul;
  for (size_t done = 0; done < bytes.size();) {
    uInt chunk = uInt(std::min<size_t>(bytes.size() - done, 1u << 30));
    crc = crc32(crc, bytes.data() + done, chunk);
    done += chunk;
  }
  return uint32_t(crc);
}

/* Decodes one PackBits row; a run past the row end is cut there. */
packbits_row packbits_decode_row(const uint8_t *src, size_t src_len, uint8_t *out, size_t width)
{
  packbits_row row;
  size_t produced = 0;
  while (produced < width) {
    if (row.consumed >= src_len)
      return row;
    uint8_t header = src[row.consumed++];
    if (header == 0x80)
      continue; // a no-op in PackBits
    bool literal = header < 0x80;
    size_t count = literal ? size_t(header) + 1 : 257 - size_t(header);
    size_t payload = literal ? count : 1;
    if (src_len - row.consumed < payload) {
      row.consumed = src_len;
      return row;
    }
    const uint8_t *data = src + row.consumed;
    size_t fit = std::min(count, width - produced);
    if (out) {
      if (literal)
        std::memcpy(out + produced, data, fit);
      else
        std::memset(out + produced, data[0], fit);
    }
    row.nonzero |= std::any_of(data, data + (literal ? fit : 1), [](uint8_t b) { return b != 0; });
    row.overrun |= fit < count;
    produced += fit;
    row.consumed += payload;
  }
  row.complete = true;
  return row;
}

/* Looks a parameter up by name. */
uint32_t record_param(const decode_record &record, const char *name, uint32_t fallback)
{
  for (const decode_param &p : record.params)
    if (std::strcmp(p.name, name) == 0)
      return p.value;
  return fallback;
}

/* The raster rows of a define's image, from its raster or column layout. */
bool defined_graphic(const decode_record &record, std::span<const uint8_t> bytes, stored_graphic &graphic)
{
  int fn = graphics_function(record, bytes);
  if (record.effect != fx::define_graphic || !is_define(fn) || !record.problem.empty())
    return false;
  graphic.width = record_param(record, "x", 0);
  graphic.height = record_param(record, "y", 0);
  size_t row_bytes = (graphic.width + 7) / 8;
  const uint8_t *data = bytes.data() + record.data_offset;
  if (!is_column_form(fn)) {
    graphic.rows.assign(data, data + record.data_length);
    return true;
  }
  // Column layout: each column top to bottom, eight dots a byte, the top dot the high bit.
  size_t column_bytes = (graphic.height + 7) / 8;
  graphic.rows.assign(row_bytes * graphic.height, 0);
  for (uint32_t x = 0; x < graphic.width; ++x)
    for (uint32_t y = 0; y < graphic.height; ++y)
      if (data[x * column_bytes + y / 8] & (0x80 >> (y % 8)))
        graphic.rows[y * row_bytes + x / 8] |= uint8_t(0x80 >> (x % 8));
  return true;
}

namespace {

/* The memory a GS ( L function works on: NV for 4x, download for 5x. */
std::map<uint16_t, stored_graphic> &memory_of(int fn, graphics_memory &memory)
{
  return fn >= 0x50 ? memory.download : memory.nv;
}

/* The key codes of a record as one number. */
uint16_t key_of(const decode_record &record)
{
  return uint16_t((record_param(record, "k1", 0) & 0xFF) << 8 | (record_param(record, "k2", 0) & 0xFF));
}

} // namespace

/* Defines replace the graphic of their key codes; deletes remove one or all. */
bool apply_to_memory(const decode_record &record, std::span<const uint8_t> bytes, graphics_memory &memory,
                     memory_change *change)
{
  int fn = graphics_function(record, bytes);
  memory_change where{fn < 0x50, key_of(record)};
  if (fn == 0x41 || fn == 0x51) {
    memory_of(fn, memory).clear();
    where.key = -1;
  } else if (fn == 0x42 || fn == 0x52) {
    memory_of(fn, memory).erase(key_of(record));
  } else if (is_define(fn)) {
    stored_graphic graphic;
    if (defined_graphic(record, bytes, graphic))
      memory_of(fn, memory)[key_of(record)] = std::move(graphic);
  } else {
    return false;
  }
  if (change)
    *change = where;
  return true;
}

/* The graphic a print of NV (45) or download (55) graphics takes from the memory. */
const stored_graphic *printed_graphic(const decode_record &record, std::span<const uint8_t> bytes,
                                      const graphics_memory &memory)
{
  int fn = graphics_function(record, bytes);
  if (fn != 0x45 && fn != 0x55)
    return nullptr;
  const auto &store = fn == 0x55 ? memory.download : memory.nv;
  auto found = store.find(key_of(record));
  return found == store.end() ? nullptr : &found->second;
}

namespace {

/* The file name of an NV graphic: nv-K1K2.pbm. */
std::string graphic_file_name(uint16_t key)
{
  char name[16];
  std::snprintf(name, sizeof name, "nv-%04X.pbm", key);
  return name;
}

/* The key codes of a graphic's file name; false for any other name. */
bool key_of_file_name(const char *name, uint16_t &key)
{
  unsigned value = 0;
  int used = 0;
  if (std::strlen(name) != 11 || std::sscanf(name, "nv-%4X.pbm%n", &value, &used) != 1 || used != 11)
    return false;
  key = uint16_t(value);
  return graphic_file_name(key) == name;
}

/* A PBM of the form the folder holds; false when the file is not one. */
bool read_pbm(const std::string &path, stored_graphic &graphic)
{
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file)
    return false;
  unsigned w = 0, h = 0;
  bool ok = std::fscanf(file, "P4 %u %u", &w, &h) == 2 && std::fgetc(file) == '\n' && w >= 1 && w <= 8192 && h >= 1 &&
            h <= 2304;
  if (ok) {
    graphic = {w, h, std::vector<uint8_t>(size_t(h) * ((w + 7) / 8))};
    ok = std::fread(graphic.rows.data(), 1, graphic.rows.size(), file) == graphic.rows.size();
  }
  std::fclose(file);
  return ok;
}

} // namespace

/* Every NV graphic of the folder. */
std::string read_graphics_folder(const std::string &folder, graphics_memory &memory)
{
  DIR *dir = opendir(folder.c_str());
  if (!dir)
    return errno == ENOENT ? "" : "cannot read " + folder + ": " + std::strerror(errno);
  while (dirent *entry = readdir(dir)) {
    uint16_t key = 0;
    stored_graphic graphic;
    if (key_of_file_name(entry->d_name, key) && read_pbm(folder + "/" + entry->d_name, graphic))
      memory.nv[key] = std::move(graphic);
  }
  closedir(dir);
  return "";
}

namespace {

/* One graphic's file, written whole and renamed into place. */
std::string write_pbm(const std::string &folder, uint16_t key, const stored_graphic &graphic)
{
  std::string path = folder + "/" + graphic_file_name(key), temp = path + ".new";
  FILE *file = std::fopen(temp.c_str(), "wb");
  bool ok = file && std::fprintf(file, "P4\n%u %u\n", graphic.width, graphic.height) > 0 &&
            std::fwrite(graphic.rows.data(), 1, graphic.rows.size(), file) == graphic.rows.size();
  if (file && std::fclose(file) != 0)
    ok = false;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0)
    return "cannot write " + path + ": " + std::strerror(errno);
  return "";
}

std::string make_folder(const std::string &folder)
{
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
    return "cannot make " + folder + ": " + std::strerror(errno);
  return "";
}

} // namespace

std::string write_graphic_file(const std::string &folder, uint16_t key, const graphics_memory &memory)
{
  if (std::string error = make_folder(folder); !error.empty())
    return error;
  auto held = memory.nv.find(key);
  if (held != memory.nv.end())
    return write_pbm(folder, key, held->second);
  std::string path = folder + "/" + graphic_file_name(key);
  if (std::remove(path.c_str()) != 0 && errno != ENOENT)
    return "cannot remove " + path + ": " + std::strerror(errno);
  return "";
}

/* The folder made to hold exactly the NV memory. */
std::string write_graphics_folder(const std::string &folder, const graphics_memory &memory)
{
  if (std::string error = make_folder(folder); !error.empty())
    return error;
  for (const auto &[key, graphic] : memory.nv)
    if (std::string error = write_pbm(folder, key, graphic); !error.empty())
      return error;
  DIR *dir = opendir(folder.c_str());
  if (!dir)
    return "cannot read " + folder + ": " + std::strerror(errno);
  std::vector<std::string> gone;
  while (dirent *entry = readdir(dir)) {
    uint16_t key = 0;
    if (key_of_file_name(entry->d_name, key) && !memory.nv.count(key))
      gone.push_back(folder + "/" + entry->d_name);
  }
  closedir(dir);
  for (const std::string &path : gone)
    if (std::remove(path.c_str()) != 0)
      return "cannot remove " + path + ": " + std::strerror(errno);
  return "";
}

/* Walks the stream: records while in sync, unknown runs while not, a stop at a cut-off record. */
decode_result decode_stream(std::span<const uint8_t> bytes)
{
  decode_result result;
  decode_progress progress;
  decode_more(progress, bytes, true, result.records);
  result.summary = summarize(result.records, bytes.size());
  return result;
}

/* Goes on from where the last call stopped, up to the first reading more bytes could change. */
size_t decode_more(decode_progress &progress, std::span<const uint8_t> bytes, bool at_end,
                   std::vector<decode_record> &records)
{
  size_t appended = records.size();
  if (progress.done || bytes.size() < progress.pos)
    return 0;
  decode_context ctx;
  ctx.bytes = bytes;
  ctx.in_sync = progress.in_sync;
  ctx.have_page_header = progress.have_page_header;
  ctx.page_bytes_per_line = progress.page_bytes_per_line;
  ctx.page_rows = progress.page_rows;
  ctx.page_seq = progress.page_seq;
  // Guessing in garbage may cost some passes over the input, never more.
  size_t allowance = 16 * bytes.size() + (size_t(1) << 20);
  ctx.guess_budget = allowance - std::min(allowance, progress.guess_spent);
  size_t budget_at_start = ctx.guess_budget;
  size_t unknown_start = progress.unknown_start;
  size_t pos = progress.pos;
  bool paused = false;
  while (pos < bytes.size()) {
    decode_record rec;
    const char *partial_name = "";
    size_t budget_here = ctx.guess_budget;
    ctx.unsettled_need = SIZE_MAX;
    attempt a = match_at(ctx, pos, rec, partial_name);
    if (!at_end && ctx.unsettled_need != SIZE_MAX) {
      // Try this position again with more bytes; this try costs nothing.
      ctx.guess_budget = budget_here;
      progress.settles_at = pos + std::max<size_t>(ctx.unsettled_need, bytes.size() - pos + 1);
      paused = true;
      break;
    }
    if (a.result == fit::full && (ctx.in_sync || rec.length >= 2)) {
      if (unknown_start != SIZE_MAX)
        records.push_back(unknown_record(unknown_start, pos));
      unknown_start = SIZE_MAX;
      ctx.in_sync = true;
      pos += rec.length;
      records.push_back(std::move(rec));
      continue;
    }
    if (a.result == fit::partial && ctx.in_sync) {
      records.push_back(stop_record(bytes, pos, a, partial_name));
      pos = bytes.size();
      break;
    }
    if (unknown_start == SIZE_MAX)
      unknown_start = pos;
    ctx.in_sync = false;
    ++pos;
  }
  if (!paused)
    progress.settles_at = bytes.size() + 1;
  if (at_end) {
    if (unknown_start != SIZE_MAX)
      records.push_back(unknown_record(unknown_start, bytes.size()));
    unknown_start = SIZE_MAX;
    progress.done = true;
  }
  progress.pos = pos;
  progress.in_sync = ctx.in_sync;
  progress.unknown_start = unknown_start;
  progress.guess_spent += budget_at_start - ctx.guess_budget;
  progress.have_page_header = ctx.have_page_header;
  progress.page_bytes_per_line = ctx.page_bytes_per_line;
  progress.page_rows = ctx.page_rows;
  progress.page_seq = ctx.page_seq;
  return records.size() - appended;
}

/* The summary of a stream decoded in pieces. */
decode_summary summarize_records(const std::vector<decode_record> &records, size_t size)
{
  return summarize(records, size);
}

namespace {

/* The picture of a defined graphic under its listing line: one character
 * ('#' a dot in its cell, '.' none) for a cell of n x 2n dots, n as small as
 * keeps it within 64 characters and 32 lines. */
std::string preview_lines(const stored_graphic &g)
{
  uint32_t n = std::max({1u, (g.width + 63) / 64, (g.height + 63) / 64});
  size_t row_bytes = (g.width + 7) / 8;
  std::string text = "\n          image of " + std::to_string(g.width) + " x " + std::to_string(g.height) +
                     " dots, a character " + std::to_string(n) + " x " + std::to_string(2 * n) + " dots:";
  for (uint32_t top = 0; top < g.height; top += 2 * n) {
    text += "\n          |";
    for (uint32_t left = 0; left < g.width; left += n) {
      bool dot = false;
      for (uint32_t y = top; y < std::min(g.height, top + 2 * n) && !dot; ++y)
        for (uint32_t x = left; x < std::min(g.width, left + n) && !dot; ++x)
          dot = g.rows[y * row_bytes + x / 8] & (0x80 >> (x % 8));
      text += dot ? '#' : '.';
    }
    text += '|';
  }
  return text;
}

} // namespace

/* One listing line: offset, what the record is, its values and its problems
 * (a defined graphic's picture on the lines after it). */
std::string format_record(const decode_record &record, std::span<const uint8_t> bytes)
{
  std::string line = hex_offset(record.offset) + "  ";
  auto hex_run = [&](size_t from, size_t count, size_t most) {
    std::string text;
    for (size_t j = 0; j < std::min(count, most); ++j)
      text += (j ? " " : "") + hex_byte(bytes[from + j]);
    if (count > most)
      text += " ...";
    return text;
  };
  auto params = [&] {
    std::string text;
    for (const decode_param &p : record.params)
      text += (text.empty() ? "" : " ") + std::string(p.name) + "=" + std::to_string(p.value);
    return text;
  };
  switch (record.type) {
  case record_type::packet: {
    char crc[64];
    if (record.crc_ok)
      std::snprintf(crc, sizeof crc, "CRC %08X ok", record.crc_stored);
    else
      std::snprintf(crc, sizeof crc, "CRC WRONG: stored %08X, computed %08X", record.crc_stored, record.crc_computed);
    line += "packet   " + std::string(record.name);
    if (record.packet_kind >= 0)
      line += " (kind " + std::to_string(record.packet_kind) + ")";
    line += ", " + std::to_string(record.length) + " bytes";
    std::string values = params();
    if (!values.empty())
      line += ": " + values;
    line += "; " + std::string(crc);
    break;
  }
  case record_type::command: {
    line += "command  " + std::string(record.name) + " " + record.what;
    std::string values = params();
    if (!values.empty())
      line += ": " + values;
    if (record.data_length)
      line += ", " + std::to_string(record.data_length) + " data bytes";
    if (record.compressed)
      line += ", PackBits";
    if (record.effect == fx::raster && record.blank)
      line += ", blank";
    size_t fixed = record.length - record.data_length;
    line += "  [" + hex_run(record.offset, fixed, 12);
    if (record.data_length)
      line += " +" + std::to_string(record.data_length);
    line += "]";
    stored_graphic graphic;
    if (defined_graphic(record, bytes, graphic))
      line += preview_lines(graphic);
    break;
  }
  case record_type::unknown: {
    size_t end = record.offset + record.length;
    line += "unknown  " + std::to_string(record.length) + (record.length == 1 ? " byte: " : " bytes: ") +
            hex_run(record.offset, record.length, 16) + "; sync lost at 0x" + hex_offset(record.offset) +
            (end < bytes.size() ? ", regained at 0x" + hex_offset(end) : ", not regained before the end");
    break;
  }
  case record_type::stop:
    line += "STOP     " + record.problem;
    return line;
  }
  if (!record.problem.empty())
    line += "; problem: " + record.problem;
  return line;
}

/* The summary line; its fields and their order are fixed for scripts, and
 * new ones come at its end. */
std::string format_summary(const decode_summary &s)
{
  static constexpr std::pair<const char *, size_t decode_summary::*> fields[] = {
      {"bytes", &decode_summary::bytes},
      {"packets", &decode_summary::packets},
      {"crc_errors", &decode_summary::crc_errors},
      {"page_headers", &decode_summary::page_headers},
      {"bitmaps", &decode_summary::bitmaps},
      {"rows", &decode_summary::rows},
      {"width_bytes", &decode_summary::width_bytes},
      {"commands", &decode_summary::commands},
      {"raster_images", &decode_summary::raster_images},
      {"raster_rows", &decode_summary::raster_rows},
      {"feed_rows", &decode_summary::feed_rows},
      {"cuts_full", &decode_summary::cuts_full},
      {"cuts_partial", &decode_summary::cuts_partial},
      {"pulses", &decode_summary::pulses},
      {"beeps", &decode_summary::beeps},
      {"logos", &decode_summary::logos},
      {"form_feeds", &decode_summary::form_feeds},
      {"unknown_bytes", &decode_summary::unknown_bytes},
      {"sync_losses", &decode_summary::sync_losses},
      {"problems", &decode_summary::problems},
  };
  std::string line = "summary:";
  for (const auto &[name, member] : fields)
    line += " " + std::string(name) + "=" + std::to_string(s.*member);
  char paper[48];
  std::snprintf(paper, sizeof paper, " paper_fed_mm=%.1f", rows_to_mm(s.paper_rows));
  return line + " stop_offset=" + std::to_string(s.stop_offset) + paper;
}

namespace {

/* The canvas being drawn: rows are appended at the bottom. */
struct canvas {
  render_bitmap &bitmap;
  size_t max_pixels;
  std::vector<uint8_t> blank_line; /* one row of paper, then the area beyond it */

  /* Appends n rows of blank paper; false when the canvas may not grow. */
  bool add_rows(uint64_t n)
  {
    if (bitmap.clipped)
      return false;
    uint64_t room = (max_pixels - bitmap.pixels.size()) / std::max<uint32_t>(bitmap.width, 1);
    if (n > room) {
      n = room;
      bitmap.clipped = true;
    }
    // Grow by doubling, but never past the cap.
    size_t want = bitmap.pixels.size() + size_t(n) * bitmap.width;
    if (want > bitmap.pixels.capacity())
      bitmap.pixels.reserve(std::min(max_pixels, std::max(want, 2 * bitmap.pixels.capacity())));
    for (uint64_t r = 0; r < n; ++r)
      bitmap.pixels.insert(bitmap.pixels.end(), blank_line.begin(), blank_line.end());
    bitmap.height += uint32_t(n);
    return !bitmap.clipped;
  }

  /* Sets the dots of a 1-bit row (MSB first, at most dots of them) on the
   * last row, from x0, sx wide each: ink on the paper, beyond past its edge. */
  void draw_bits(const uint8_t *row, size_t row_bytes, uint64_t x0, unsigned sx, uint8_t ink = px_ink,
                 uint8_t beyond = px_ink_beyond, uint64_t dots = UINT64_MAX)
  {
    uint8_t *line = bitmap.pixels.data() + size_t(bitmap.height - 1) * bitmap.width;
    for (size_t byte = 0; byte < row_bytes; ++byte) {
      for (unsigned bit = 0; row[byte] && bit < 8 && byte * 8 + bit < dots; ++bit) {
        if (!(row[byte] & (0x80 >> bit)))
          continue;
        for (unsigned k = 0; k < sx; ++k) {
          uint64_t x = x0 + (byte * 8 + bit) * sx + k;
          if (x < bitmap.width)
            line[x] = x < bitmap.paper_width ? ink : beyond;
        }
      }
    }
  }

  /* Colours width pixels of the last row from x0. */
  void fill_last(uint64_t x0, uint64_t width, uint8_t colour)
  {
    uint8_t *line = bitmap.pixels.data() + size_t(bitmap.height - 1) * bitmap.width;
    for (uint64_t x = x0; x < std::min<uint64_t>(x0 + width, bitmap.width); ++x)
      line[x] = colour;
  }

  /* Draws a mark band of rows rows in colour, dashed with period dash (0: solid). */
  void draw_mark(uint32_t rows, uint8_t colour, uint32_t dash)
  {
    for (uint32_t r = 0; r < rows && add_rows(1); ++r) {
      uint8_t *line = bitmap.pixels.data() + size_t(bitmap.height - 1) * bitmap.width;
      for (uint32_t x = 0; x < bitmap.width; ++x)
        if (dash == 0 || ((x + r) / dash) % 2 == 0)
          line[x] = colour;
    }
  }
};

/* Mark bands by colour: rows and dash period. */
struct mark_style {
  uint8_t colour;
  uint32_t rows, dash;
};
constexpr mark_style mark_styles[] = {
    {px_cut_full, mark_rows, 0},
    {px_cut_partial, mark_rows, 8},
    {px_form_feed, mark_rows, 4},
    {px_stored, stored_image_rows, 6},
};

/* Row width in dots of an image record as drawn. */
uint64_t image_width(const decode_record &rec)
{
  return uint64_t(rec.row_bytes) * 8 * rec.scale_x;
}

/* Left edge of an image width dots wide from margin and justification. */
uint64_t image_left(uint64_t width, const paper_state &state, uint32_t paper_width)
{
  uint64_t area = paper_width > state.left_margin ? paper_width - state.left_margin : 0;
  if (width >= area || state.justify == 0)
    return state.left_margin;
  return state.left_margin + (state.justify == 1 ? (area - width) / 2 : area - width);
}

/* Left edge of a bitmap packet (the paper's edge) or raster image. */
uint64_t image_left(const decode_record &rec, const paper_state &state, uint32_t paper_width)
{
  return rec.effect == fx::bitmap ? 0 : image_left(image_width(rec), state, paper_width);
}

/* A graphic a record draws: one it defines (at the paper's edge, in the
 * colours of what is stored, not printed), or one it prints from the memory
 * (as the raster images are placed, scaled sx by sy). */
struct graphic_drawing {
  const stored_graphic *graphic = nullptr;
  bool defined = false;
  unsigned sx = 1, sy = 1;
};

/* What a record draws of the memory, and what it does to the memory (kept in held). */
graphic_drawing graphic_of(const decode_record &rec, std::span<const uint8_t> bytes, graphics_memory &memory,
                           stored_graphic &held)
{
  graphic_drawing d;
  if (rec.effect == fx::define_graphic && defined_graphic(rec, bytes, held)) {
    d.graphic = &held;
    d.defined = true;
  } else if (rec.effect == fx::stored_image && (d.graphic = printed_graphic(rec, bytes, memory))) {
    held = *d.graphic;
    d.graphic = &held;
    uint32_t sx = record_param(rec, "sx", 1), sy = record_param(rec, "sy", 1);
    d.sx = sx == 2 ? 2 : 1;
    d.sy = sy == 2 ? 2 : 1;
  }
  apply_to_memory(rec, bytes, memory);
  return d;
}

/* Widest dot extent of any row with dots, of a page or of a graphic, over the stream. */
uint64_t content_width(const decode_result &decoded, std::span<const uint8_t> bytes, graphics_memory memory)
{
  paper_state state;
  uint64_t widest = 0;
  stored_graphic held;
  for (const decode_record &rec : decoded.records) {
    if (rec.effect == fx::bitmap || (rec.effect == fx::raster && !rec.blank))
      widest = std::max(widest, image_left(rec, state, 0) + image_width(rec));
    graphic_drawing d = graphic_of(rec, bytes, memory, held);
    if (d.graphic)
      widest = std::max(widest, (d.defined ? 0 : image_left(uint64_t(d.graphic->width) * d.sx, state, 0)) +
                                    uint64_t(d.graphic->width) * d.sx);
    apply_record(rec, state);
  }
  return widest;
}

/* Draws a graphic's rows from x0. */
void draw_graphic(canvas &c, const graphic_drawing &d, uint64_t x0)
{
  const stored_graphic &g = *d.graphic;
  size_t row_bytes = (g.width + 7) / 8;
  for (uint32_t r = 0; r < g.height; ++r)
    for (unsigned k = 0; k < d.sy; ++k) {
      if (!c.add_rows(1))
        return;
      if (d.defined)
        c.fill_last(x0, g.width, px_defined_back);
      c.draw_bits(g.rows.data() + size_t(r) * row_bytes, row_bytes, x0, d.sx, d.defined ? px_defined : px_ink,
                  d.defined ? px_defined : px_ink_beyond, g.width);
    }
}

/* Draws the rows of a bitmap packet or raster image. */
void draw_image(canvas &c, const decode_record &rec, std::span<const uint8_t> bytes, uint64_t x0)
{
  size_t row_bytes = rec.row_bytes;
  if (row_bytes == 0)
    row_bytes = (c.bitmap.paper_width + 7) / 8; // a bitmap without page header
  size_t rows = rec.effect == fx::bitmap ? (rec.data_length + row_bytes - 1) / row_bytes : rec.rows;
  std::vector<uint8_t> row(row_bytes);
  size_t at = rec.data_offset;
  size_t end = rec.data_offset + rec.data_length;
  for (size_t r = 0; r < rows; ++r) {
    std::fill(row.begin(), row.end(), 0);
    if (rec.compressed) {
      at += packbits_decode_row(bytes.data() + at, end - at, row.data(), row_bytes).consumed;
    } else {
      size_t take = std::min(row_bytes, end - at);
      std::copy_n(bytes.begin() + at, take, row.begin());
      at += take;
    }
    for (unsigned k = 0; k < rec.scale_y; ++k) {
      if (!c.add_rows(1))
        return;
      c.draw_bits(row.data(), row_bytes, x0, rec.scale_x);
    }
  }
}

} // namespace

render_bitmap render_records(const decode_result &decoded, std::span<const uint8_t> bytes,
                             const render_options &options)
{
  render_bitmap bitmap;
  graphics_memory memory = options.memory ? *options.memory : graphics_memory{};
  uint64_t widest = content_width(decoded, bytes, memory);
  bitmap.paper_width = options.paper_width ? options.paper_width
                       : widest            ? uint32_t(std::min<uint64_t>(widest, UINT32_MAX))
                                           : 576;
  bitmap.width = uint32_t(
      std::clamp<uint64_t>(std::max<uint64_t>(widest, bitmap.paper_width), 1, std::max<size_t>(options.max_pixels, 1)));
  canvas c{bitmap, options.max_pixels, std::vector<uint8_t>(bitmap.width, px_beyond)};
  std::fill_n(c.blank_line.begin(), std::min(bitmap.width, bitmap.paper_width), px_paper);
  paper_state state;
  stored_graphic held;
  for (const decode_record &rec : decoded.records) {
    if (bitmap.clipped)
      break;
    if (rec.effect == fx::bitmap || rec.effect == fx::raster) {
      draw_image(c, rec, bytes, image_left(rec, state, bitmap.paper_width));
      continue;
    }
    graphic_drawing d = graphic_of(rec, bytes, memory, held);
    if (d.graphic) {
      draw_graphic(c, d, d.defined ? 0 : image_left(uint64_t(d.graphic->width) * d.sx, state, bitmap.paper_width));
      continue;
    }
    paper_step step = apply_record(rec, state);
    c.add_rows(step.feed);
    for (const mark_style &style : mark_styles)
      if (style.colour == step.mark)
        c.draw_mark(style.rows, style.colour, style.dash);
  }
  return bitmap;
}

/* Writes the canvas as an 8-bit palette PNG. */
std::string write_png(const render_bitmap &bitmap, const char *path)
{
  static const png_color palette[] = {
      {255, 255, 255}, {0, 0, 0},    {215, 215, 215}, {170, 0, 0},   {230, 0, 0},
      {255, 140, 0},   {0, 90, 255}, {150, 180, 230}, {0, 120, 120}, {205, 235, 235},
  };
  bool to_stdout = std::strcmp(path, "-") == 0;
  FILE *file = to_stdout ? stdout : std::fopen(path, "wb");
  if (!file)
    return std::string("cannot open ") + path + ": " + std::strerror(errno);
  // An empty strip still makes a valid image: one row of paper.
  std::vector<uint8_t> blank_row(std::max<uint32_t>(bitmap.width, 1), px_paper);
  uint32_t height = std::max<uint32_t>(bitmap.height, 1);
  std::vector<png_bytep> rows(height);
  for (uint32_t r = 0; r < height; ++r)
    rows[r] = bitmap.height ? const_cast<png_bytep>(bitmap.pixels.data() + size_t(r) * bitmap.width) : blank_row.data();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::string error;
  if (!png || !info) {
    error = "cannot set up the PNG writer";
  } else if (setjmp(png_jmpbuf(png))) {
    error = std::string("cannot write PNG to ") + path;
  } else {
    png_init_io(png, file);
    png_set_IHDR(png, info, uint32_t(blank_row.size()), height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette, int(std::size(palette)));
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
  }
  png_destroy_write_struct(&png, &info);
  if (to_stdout ? std::fflush(file) != 0 : std::fclose(file) != 0)
    if (error.empty())
      error = std::string("cannot write ") + path;
  return error;
}
