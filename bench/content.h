/*
 * content.h - the receipts the benchmark prints: 576-dot rows of text-like
 * glyphs in lines with blank leading, blank bands between sections, a few
 * barcodes, and a blank tail at the bottom of every page, the way a till's
 * receipt looks once ripped. Every row is a pure function of its page and row
 * number, so a page of any height is written row by row.
 */
#ifndef OVIK_BENCH_CONTENT_H
#define OVIK_BENCH_CONTENT_H

#include <array>
#include <cstdint>
#include <cstring>

namespace bench {

constexpr unsigned dots = 576;
constexpr unsigned row_bytes = dots / 8;
constexpr unsigned glyph_width = 12, glyph_height = 24, line_pitch = 32;
constexpr unsigned chars_per_line = dots / glyph_width;
constexpr unsigned tail_rows = 320;

/* A well-mixed hash of three numbers. */
constexpr uint32_t mix(uint32_t a, uint32_t b, uint32_t c)
{
  uint64_t x = (uint64_t{a} << 42) ^ (uint64_t{b} << 21) ^ c ^ 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>(x ^ (x >> 31));
}

/* One glyph: 24 rows of 12 dots, bit 11 the leftmost. */
using glyph = std::array<uint16_t, glyph_height>;

/* Ninety-six glyphs of two to four strokes each; glyph 0 is the space. */
inline std::array<glyph, 96> make_font()
{
  std::array<glyph, 96> font{};
  for (uint32_t g = 1; g < font.size(); g++) {
    uint32_t strokes = 2 + mix(g, 0, 0) % 3;
    for (uint32_t s = 0; s < strokes; s++) {
      uint32_t h = mix(g, s + 1, 0);
      uint32_t a = h % 9, b = (h >> 8) % 9, c = (h >> 16) % 6;
      for (unsigned y = 4; y < 21; y++) {
        uint16_t bits = 0;
        switch (h >> 28 & 3) {
        case 0: // a vertical stem, two dots wide
          bits = static_cast<uint16_t>(0xC00 >> (1 + a));
          break;
        case 1: // a horizontal bar, two rows high
          if (y == 5 + c * 3 || y == 6 + c * 3)
            bits = static_cast<uint16_t>((0xFFF >> (1 + a / 3)) & (0xFFF << (1 + b / 3)));
          break;
        default: // a diagonal
          bits = static_cast<uint16_t>(0xC00 >> (1 + (a + (y - 4) * 8 / 16) % 10));
          break;
        }
        font[g][y] |= bits;
      }
    }
  }
  return font;
}

/* Fills row (72 bytes) with row y of page number page of height rows. */
inline void render_row(uint32_t page, uint32_t y, uint32_t height, uint8_t *row)
{
  static const std::array<glyph, 96> font = make_font();
  std::memset(row, 0, row_bytes);
  if (y + tail_rows >= height)
    return;
  uint32_t line = y / line_pitch, r = y % line_pitch;
  if (r >= glyph_height)
    return;
  uint32_t h = mix(page, line, 0);
  uint32_t kind = h % 100;
  if (kind < 12) // the gap between two sections of the receipt
    return;
  if (kind < 15) { // a barcode: the same bars on every row of its line
    for (unsigned x = 48; x < dots - 48; x++)
      if (mix(page, line, 1000 + x / 3) & 1)
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return;
  }
  uint32_t n = 6 + (h >> 8) % (chars_per_line - 5);
  uint32_t free_dots = (chars_per_line - n) * glyph_width;
  uint32_t x0 = (h >> 16) % 3 == 0 ? 0 : (h >> 16) % 3 == 1 ? free_dots : free_dots / 2;
  for (uint32_t c = 0; c < n; c++) {
    uint32_t g = mix(page, line, c + 1) % 96;
    uint16_t bits = g % 7 == 0 ? 0 : font[g][r];
    for (unsigned b = 0; b < glyph_width; b++)
      if (bits & (0x800 >> b)) {
        unsigned x = x0 + c * glyph_width + b;
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
  }
}

} // namespace bench

#endif
