/*
 * icon.cpp - the application's icon: a receipt printer with a receipt
 * coming out of it, drawn as shapes and written as PNG in the three sizes
 * PAPPL shows (the header and the browser tab, the printer's state on its
 * page, and the large one clients fetch). Each pixel is the mean of 4 x 4
 * samples, so that edges are smooth at every size; what lies outside the
 * printer is transparent, so that the state colour PAPPL puts behind a
 * printer's icon shows around it.
 */
#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "ovik_app.h"

namespace {

/* A colour with its opacity, 0 to 1 each. */
struct colour {
  float r, g, b, a;
};

/* One shape in a unit square (0 to 1 across and down), filled with a colour:
 * a rounded rectangle; the receipt's top edge is torn. */
struct shape {
  float x0, y0, x1, y1, radius;
  colour fill;
  bool torn_top;
};

constexpr colour body{0.17f, 0.19f, 0.22f, 1}, slot{0.05f, 0.05f, 0.06f, 1}, paper{1, 1, 1, 1},
    ink{0.55f, 0.58f, 0.62f, 1}, mark{0.0f, 0.62f, 0.60f, 1};

/* Back to front. */
constexpr shape shapes[] = {
    {0.08f, 0.40f, 0.92f, 0.90f, 0.09f, body, false}, // the printer
    {0.18f, 0.40f, 0.82f, 0.47f, 0.03f, slot, false}, // the paper exit
    {0.27f, 0.06f, 0.73f, 0.44f, 0.0f, paper, true},  // the receipt
    {0.33f, 0.16f, 0.67f, 0.19f, 0.015f, ink, false}, // its lines of print
    {0.33f, 0.23f, 0.60f, 0.26f, 0.015f, ink, false}, //
    {0.33f, 0.30f, 0.64f, 0.33f, 0.015f, ink, false}, //
    {0.70f, 0.70f, 0.82f, 0.82f, 0.06f, mark, false}, // the state light
};

/* True when a point lies in a shape. */
bool inside(const shape &s, float x, float y)
{
  if (x < s.x0 || x > s.x1 || y < s.y0 || y > s.y1)
    return false;
  if (s.torn_top) {
    // A zigzag of six teeth along the top edge.
    float period = (s.x1 - s.x0) / 6, phase = std::fmod(x - s.x0, period) / period;
    float depth = 0.035f * (phase < 0.5f ? phase * 2 : 2 - phase * 2);
    return y >= s.y0 + depth;
  }
  float cx = std::clamp(x, s.x0 + s.radius, s.x1 - s.radius), cy = std::clamp(y, s.y0 + s.radius, s.y1 - s.radius);
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= s.radius * s.radius;
}

/* The icon at size x size pixels as 8-bit RGBA rows. */
std::vector<unsigned char> draw(int size)
{
  constexpr int samples = 4;
  std::vector<unsigned char> pixels(static_cast<size_t>(size) * size * 4);
  for (int py = 0; py < size; py++)
    for (int px = 0; px < size; px++) {
      float r = 0, g = 0, b = 0, a = 0; // premultiplied sums
      for (int sy = 0; sy < samples; sy++)
        for (int sx = 0; sx < samples; sx++) {
          float x = (px + (sx + 0.5f) / samples) / size, y = (py + (sy + 0.5f) / samples) / size;
          const colour *c = nullptr;
          for (const shape &s : shapes)
            if (inside(s, x, y))
              c = &s.fill;
          if (c) {
            r += c->r * c->a;
            g += c->g * c->a;
            b += c->b * c->a;
            a += c->a;
          }
        }
      unsigned char *p = &pixels[(static_cast<size_t>(py) * size + px) * 4];
      float n = samples * samples;
      p[3] = static_cast<unsigned char>(std::lround(a / n * 255));
      if (a > 0) {
        p[0] = static_cast<unsigned char>(std::lround(r / a * 255));
        p[1] = static_cast<unsigned char>(std::lround(g / a * 255));
        p[2] = static_cast<unsigned char>(std::lround(b / a * 255));
      }
    }
  return pixels;
}

/* The icon at size pixels as a PNG file in memory (empty when libpng fails). */
std::vector<unsigned char> png_of(int size)
{
  std::vector<unsigned char> pixels = draw(size), out;
  auto side = static_cast<uint32_t>(size);
  if (!ovik_app_write_png(out, side, side, 8, true, false,
                          [&](uint32_t y) { return &pixels[static_cast<size_t>(y) * side * 4]; }))
    out.clear();
  return out;
}

} // namespace

/* The icon in PAPPL's three sizes, made on first use. */
const std::vector<unsigned char> &ovik_app_icon(int size_index)
{
  static std::once_flag made;
  static std::vector<unsigned char> icons[3];
  std::call_once(made, [] {
    const int sizes[] = {48, 128, 512};
    for (int i = 0; i < 3; i++)
      icons[i] = png_of(sizes[i]);
  });
  return icons[std::clamp(size_index, 0, 2)];
}
