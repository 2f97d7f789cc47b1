/*
 * testpage.cpp - the test receipt: the model, its print width and darkness
 * in large letters, and a millimetre ruler across the whole print width,
 * drawn at 203 dpi into a grayscale PNG that PAPPL prints like any image.
 */
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "ovik_app.h"

namespace {

/* A 5 x 7 dot font: one glyph a row, each of its seven lines five bits wide,
 * the leftmost dot in bit 4. */
struct glyph {
  char c;
  unsigned char rows[7];
};

constexpr glyph font[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
};

/* One 8-bit gray page: 255 white, 0 black. */
struct canvas {
  int width, height;
  std::vector<unsigned char> pixels;

  /* Blackens the rectangle x..x+w, y..y+h, clipped to the page. */
  void fill(int x, int y, int w, int h)
  {
    for (int j = std::max(y, 0); j < std::min(y + h, height); j++)
      for (int i = std::max(x, 0); i < std::min(x + w, width); i++)
        pixels[static_cast<size_t>(j) * width + i] = 0;
  }
};

/* Draws text at x, y in dots of scale x scale; returns the x after it. */
int draw_text(canvas &page, int x, int y, const std::string &text, int scale)
{
  for (char ch : text) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const glyph &g : font)
      if (g.c == c)
        for (int row = 0; row < 7; row++)
          for (int col = 0; col < 5; col++)
            if (g.rows[row] & (0x10 >> col))
              page.fill(x + col * scale, y + row * scale, scale, scale);
    x += 6 * scale;
  }
  return x;
}

/* Width in dots of text at a scale. */
int text_width(const std::string &text, int scale)
{
  return static_cast<int>(text.size()) * 6 * scale - scale;
}

/* Writes the page as a grayscale PNG at 203 dpi. */
bool write_png(const char *path, const canvas &page)
{
  std::vector<uint8_t> png;
  if (!ovik_app_write_png(png, static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height), 8, false, true,
                          [&](uint32_t y) { return page.pixels.data() + static_cast<size_t>(y) * page.width; }))
    return false;
  FILE *fp = fopen(path, "wb");
  if (!fp)
    return false;
  bool ok = fwrite(png.data(), 1, png.size(), fp) == png.size();
  return fclose(fp) == 0 && ok;
}

} // namespace

/* The test receipt: a frame at the edges of the print width, the model,
 * width and darkness, and a ruler marked every millimetre and numbered
 * every ten. */
bool ovik_testpage_write(const char *path, const char *model, int width_dots, int length_dots, int darkness)
{
  constexpr double dots_per_mm = 203 / 25.4;
  int scale = width_dots >= 576 ? 3 : 2;
  int line = 10 * scale;
  canvas page{width_dots, std::max(length_dots, 16 * line + 120), {}};
  page.pixels.assign(static_cast<size_t>(page.width) * page.height, 255);

  // A frame at the edges of the print width, around the text and ruler.
  int frame = 16 * line + 120;
  page.fill(0, 0, page.width, 3);
  page.fill(0, 0, 3, frame);
  page.fill(page.width - 3, 0, 3, frame);
  page.fill(0, frame - 3, page.width, 3);

  char text[128];
  int y = line;
  std::string title = "TEST PAGE";
  draw_text(page, (page.width - text_width(title, scale + 1)) / 2, y, title, scale + 1);
  y += 2 * line;
  draw_text(page, 10, y, model, scale);
  y += line + 4;
  snprintf(text, sizeof text, "WIDTH: %d DOTS (%.1f MM)", width_dots, width_dots / dots_per_mm);
  draw_text(page, 10, y, text, scale);
  y += line + 4;
  if (darkness < 0)
    snprintf(text, sizeof text, "DARKNESS: PRINTER SETTING");
  else
    snprintf(text, sizeof text, "DARKNESS: LEVEL %d OF 7", darkness);
  draw_text(page, 10, y, text, scale);
  y += line + 4;
  draw_text(page, 10, y, "RESOLUTION: 203 DPI", scale);
  y += 2 * line;

  // The ruler: a base line, a tick every millimetre, longer every 5 and 10.
  int base = y + 40;
  page.fill(0, base, page.width, 2);
  for (int mm = 0; mm * dots_per_mm < page.width; mm++) {
    int x = static_cast<int>(mm * dots_per_mm);
    int tick = mm % 10 == 0 ? 30 : mm % 5 == 0 ? 20 : 10;
    page.fill(x, base - tick, 2, tick);
    if (mm % 10 == 0 && mm > 0) {
      std::string label = std::to_string(mm);
      draw_text(page, x - text_width(label, 2) / 2, base + 8, label, 2);
    }
  }
  draw_text(page, 10, base + 8 + 2 * line, "MM", 2);
  return write_png(path, page);
}
