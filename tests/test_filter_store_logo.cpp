// StoreLogo=N through the real filter binary: the first page, less its blank
// rows above and below, leaves as exactly one define command and nothing
// else; a page that cannot be a logo is refused with an ERROR line, exit
// status 1 and not one byte sent; a PPD default of StoreLogo is not obeyed.
#include <gtest/gtest.h>

#include "filter_harness.h"

using namespace harness;

namespace {

/* A page of width dots and height rows, every byte of rows first..last (inclusive) 0xA5. */
page_spec page_with_rows(unsigned width, unsigned height, unsigned first, unsigned last)
{
  page_spec p;
  p.width = width;
  p.height = height;
  p.pixels.assign(p.size(), 0);
  for (unsigned r = first; r <= last && r < height; r++)
    std::fill_n(p.pixels.begin() + size_t(r) * p.bpl(), p.bpl(), 0xA5);
  return p;
}

} // namespace

TEST(StoreLogo, TheFirstPageBecomesOneDefineCommandOrNothing)
{
  const std::map<std::string, std::string> narrow = {{"PageSize", "58x210mm"}};
  struct Case {
    const char *title;
    std::string model;
    std::map<std::string, std::string> ppd;
    std::vector<page_spec> pages;
    std::string options;
    int status;
    bytes out;
    std::string line; /* on standard error */
  };
  page_spec eight_bit = page_with_rows(576, 10, 2, 3);
  eight_bit.bits_per_pixel = 8;
  eight_bit.pixels.assign(eight_bit.size(), 0xFF);
  const Case cases[] = {
      {"rows 10-12 of a 576-dot page, a second page dropped",
       "Tern 80A",
       {},
       {page_with_rows(576, 40, 10, 12), page_with_rows(576, 40, 0, 39)},
       "StoreLogo=1",
       0,
       hex_bytes("1D 28 4C E3 00 30 43 30 30 30 01 40 02 03 00 31") + bytes(216, 0xA5),
       "INFO: StoreLogo=1: Logo 1 stored in the printer: 576 x 3 dots"},
      {"logo 10 of the narrow model",
       "Keel 58",
       narrow,
       {page_with_rows(384, 5, 0, 0)},
       "StoreLogo=10",
       0,
       hex_bytes("1D 28 4C 3B 00 30 43 30 30 39 01 80 01 01 00 31") + bytes(48, 0xA5),
       "INFO: StoreLogo=10: Logo 10 stored in the printer: 384 x 1 dots"},
      {"the tallest logo on a longer page",
       "Tern 80A",
       {},
       {page_with_rows(576, 3000, 100, 2403)},
       "StoreLogo=2",
       0,
       hex_bytes("1D 38 4C 0B 88 02 00 30 43 30 30 31 01 40 02 00 09 31") + bytes(72 * 2304, 0xA5),
       "Logo 2 stored in the printer: 576 x 2304 dots"},
      {"a blank page",
       "Tern 80A",
       {},
       {page_with_rows(576, 40, 1, 0)},
       "StoreLogo=1",
       1,
       {},
       "ERROR: StoreLogo=1: The image is empty (576 x 0 dots): there is nothing to store"},
      {"a page wider than the printer",
       "Keel 58",
       narrow,
       {page_with_rows(576, 40, 1, 2)},
       "StoreLogo=1",
       1,
       {},
       "ERROR: StoreLogo=1: The image is 576 dots wide; this printer prints 384 dots across at most"},
      {"one row too tall",
       "Tern 80A",
       {},
       {page_with_rows(576, 3000, 100, 2404)},
       "StoreLogo=2",
       1,
       {},
       "ERROR: StoreLogo=2: The image is 2305 dots tall; a stored logo is 2304 dots tall at most"},
      {"no logo 80",
       "Tern 80A",
       {},
       {page_with_rows(576, 40, 1, 2)},
       "StoreLogo=80",
       1,
       {},
       "ERROR: StoreLogo=80: There is no logo 80: logos are numbered 0 to 79"},
      {"not a number",
       "Tern 80A",
       {},
       {page_with_rows(576, 40, 1, 2)},
       "StoreLogo=first",
       1,
       {},
       "ERROR: StoreLogo=first: There is no logo first"},
      {"8 bits a dot",
       "Tern 80A",
       {},
       {eight_bit},
       "StoreLogo=1",
       1,
       {},
       "ERROR: StoreLogo=1: The page cannot be stored: page is not 1 bit per pixel"},
      {"no page", "Tern 80A", {}, {}, "StoreLogo=1", 1, {}, "ERROR: StoreLogo=1: The job has no page to store"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    run_result r = run_job(c.model, make_raster(c.pages), c.options, c.ppd);
    EXPECT_EQ(c.status, r.status) << r.err;
    EXPECT_STREAM(r.out, c.out);
    EXPECT_TRUE(contains(r.err, c.line)) << r.err;
  }
}

// A queue whose PPD had a StoreLogo default prints its jobs: the option
// counts only when the job gives it.
TEST(StoreLogo, APpdDefaultIsNotObeyed)
{
  bytes raster = make_raster({page_with_rows(576, 40, 10, 12)});
  run_result with_default = run_job("Tern 80A", raster, "", {{"StoreLogo", "1"}});
  run_result without = run_job("Tern 80A", raster);
  EXPECT_EQ(with_default.status, 0) << with_default.err;
  EXPECT_STREAM(with_default.out, without.out);
  EXPECT_EQ(hex(bytes(without.out.begin(), without.out.begin() + 4)), "1B 1A 01 01");
}
