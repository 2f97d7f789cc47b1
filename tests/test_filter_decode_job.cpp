// The decoder on the real filter's output: what it renders is the pages the
// raster carried, dot for dot, after the paper-save trim.
#include <gtest/gtest.h>

#include <random>

#include "filter_harness.h"
#include "decoder.h"
#include "ovik_printer_model.h"

using namespace harness;

namespace {

/* A page of text-like bands of random dots with blank rows at its bottom. */
page_spec receipt_like(std::mt19937 &rng, unsigned height, unsigned blank_bottom, unsigned copies)
{
  page_spec p;
  p.height = height;
  p.copies = copies;
  p.pixels.assign(p.size(), 0);
  for (unsigned y = 0; y + blank_bottom < height; y++)
    if ((y / 12) % 3 != 2) // two bands of "text", then a blank band
      for (unsigned x = 0; x < p.bpl(); x++)
        p.pixels[y * p.bpl() + x] = static_cast<uint8_t>(rng() & rng());
  p.pixels[(height - blank_bottom - 1) * p.bpl()] |= 0x80; // the last row with a dot
  return p;
}

/* The rendered strip's rows [top, top + n) are the page's first n rows. */
void expect_page_at(const render_bitmap &bm, uint32_t top, const page_spec &p, uint32_t n)
{
  ASSERT_LE(top + n, bm.height);
  bytes data = p.data();
  size_t wrong = 0;
  for (uint32_t y = 0; y < n; y++)
    for (uint32_t x = 0; x < p.width; x++) {
      bool dot = data[y * p.bpl() + x / 8] & (0x80 >> (x % 8));
      uint8_t px = bm.pixels[static_cast<size_t>(top + y) * bm.width + x];
      wrong += px != (dot ? px_ink : px_paper);
    }
  EXPECT_EQ(wrong, 0u) << "page rendered at row " << top;
}

/* Rows [top, top + n) hold nothing but the given pixel. */
void expect_rows_of(const render_bitmap &bm, uint32_t top, uint32_t n, uint8_t pixel)
{
  ASSERT_LE(top + n, bm.height);
  for (uint32_t y = top; y < top + n; y++)
    for (uint32_t x = 0; x < bm.paper_width; x++)
      ASSERT_EQ(bm.pixels[static_cast<size_t>(y) * bm.width + x], pixel) << "row " << y << " dot " << x;
}

TEST(DecodeFilterOutput, EveryPageCopyComesBackDotForDot)
{
  std::mt19937 rng(20261207);
  std::vector<page_spec> pages = {receipt_like(rng, 300, 40, 1), receipt_like(rng, 120, 0, 2),
                                  receipt_like(rng, 500, 499, 1)};
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(ovik_printer_model_brief_find_by_id(0x1001)->name));
  run_options o;
  o.args = {"1", "user", "title", "1", "PostPrintAction=3 CutPaperLength=10 CutMode=2"};
  o.env = {{"PPD", dir.file("test.ppd")}};
  o.input = make_raster(pages, raster_version::v2_compressed);
  run_result r = run_filter(o);
  ASSERT_EQ(r.status, 0) << r.err;

  decode_result d = decode_stream(r.out);
  EXPECT_EQ(d.summary.crc_errors, 0u);
  EXPECT_EQ(d.summary.unknown_bytes, 0u);
  EXPECT_EQ(d.summary.stop_offset, -1);
  EXPECT_EQ(d.summary.page_headers, 4u);
  EXPECT_EQ(d.summary.bitmaps, 4u);
  EXPECT_EQ(d.summary.cuts_full, 4u);
  EXPECT_EQ(d.summary.feed_rows, 4u * 79);
  EXPECT_EQ(d.summary.width_bytes, 72u);
  EXPECT_EQ(d.summary.paper_rows, 260u + 120 + 120 + 1 + 4 * 79) << "the copies' rows and feeds";

  render_options opt;
  opt.paper_width = 576;
  render_bitmap bm = render_records(d, r.out, opt);
  EXPECT_FALSE(bm.clipped);
  // Each copy: its trimmed rows, the 79-row feed, then the cut mark.
  const unsigned kept[] = {260, 120, 120, 1};
  const page_spec *copy_of[] = {&pages[0], &pages[1], &pages[1], &pages[2]};
  uint32_t top = 0;
  for (int i = 0; i < 4; i++) {
    expect_page_at(bm, top, *copy_of[i], kept[i]);
    top += kept[i];
    expect_rows_of(bm, top, 79, px_paper);
    top += 79;
    expect_rows_of(bm, top, mark_rows, px_cut_full);
    top += mark_rows;
  }
  EXPECT_EQ(bm.height, top);
}

TEST(DecodeFilterOutput, TheListingNamesEveryPartOfAJob)
{
  page_spec p;
  p.dot(3, 3);
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(ovik_printer_model_brief_find_by_id(0x1001)->name));
  run_options o;
  o.args = {"1", "user", "title", "1",
            "PrintDensity=4 BeepControl=1 Drawer1=2 PostPrintAction=2 CutPaperLength=5 CutMode=1"};
  o.env = {{"PPD", dir.file("test.ppd")}};
  o.input = make_raster({p});
  run_result r = run_filter(o);
  decode_result d = decode_stream(r.out);
  std::vector<std::string> names;
  for (const decode_record &rec : d.records)
    names.push_back(std::string(rec.name));
  EXPECT_EQ(d.summary.beeps, 1u);
  EXPECT_EQ(d.summary.pulses, 1u);
  EXPECT_EQ(d.summary.cuts_partial, 1u);
  EXPECT_EQ(d.summary.feed_rows, 39u); // 5 mm at 203 dpi
  ASSERT_EQ(d.records.size(), 9u);
  for (const decode_record &rec : d.records)
    EXPECT_TRUE(rec.type == record_type::packet ? rec.crc_ok : rec.type == record_type::command)
        << format_record(rec, r.out);
}

} // namespace
