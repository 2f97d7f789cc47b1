/*
 * media.cpp - a model's driver name and the page sizes of its roll, as its
 * PPD and the printer application offer them.
 */
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "ovik_engine.h"

namespace {

constexpr int resolution = 203;

/* Page lengths of every model, in millimetres: receipts, A4, long rolls. */
constexpr int page_lengths[] = {100, 150, 210, 297, 1000, 3000};
constexpr int default_length = 210;

/* The rolls sold for a print width: 58 and 80 mm paper. */
struct roll {
  int width_dots;
  int mm;
};
constexpr roll rolls[] = {{384, 58}, {576, 80}};

/* The roll of a print width, or NULL for a width sold as no roll. */
const roll *sold_roll(int width_dots)
{
  for (const roll &r : rolls)
    if (r.width_dots == width_dots)
      return &r;
  return nullptr;
}

} // namespace

/* "ovik-" and the model name's letters and digits in lower case, runs of
 * anything else as one hyphen, none at either end. */
void ovik_driver_name(const char *model_name, char *out, size_t size)
{
  if (size == 0)
    return;
  size_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < size)
      out[n++] = c;
  };
  for (const char *p = "ovik-"; *p; p++)
    put(*p);
  bool gap = false, any = false;
  for (const char *p = model_name ? model_name : ""; *p; p++) {
    int c = std::tolower(static_cast<unsigned char>(*p));
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      if (gap && any)
        put('-');
      put(static_cast<char>(c));
      gap = false;
      any = true;
    } else {
      gap = true;
    }
  }
  out[n] = '\0';
}

/* The 58 and 80 mm rolls by their print widths; else the width in millimetres. */
int ovik_roll_mm(int width_dots)
{
  if (const roll *r = sold_roll(width_dots))
    return r->mm;
  return static_cast<int>(width_dots * 25.4 / resolution + 0.5);
}

/* The 58 and 80 mm rolls as rolls; other widths by their size alone. */
const char *ovik_page_size_format(int width_dots)
{
  return sold_roll(width_dots) ? "%d x %d mm roll" : "%d x %d mm";
}

/* Width in points with the four decimals the PPD files carry. */
double ovik_page_width_points(int width_dots)
{
  char text[32];
  snprintf(text, sizeof text, "%.4f", width_dots * 72.0 / resolution);
  return strtod(text, nullptr);
}

/* The page lengths table. */
const int *ovik_page_lengths_mm(size_t *count, int *default_mm)
{
  if (count)
    *count = sizeof page_lengths / sizeof page_lengths[0];
  if (default_mm)
    *default_mm = default_length;
  return page_lengths;
}
