// Input limits and out-of-range values: what the filter refuses, what it cuts
// to a limit, and that values inside the limits keep their exact results.
// Several of these came from the fuzzers (see fuzz/).
#include <gtest/gtest.h>

#include <climits>

#include "engine_harness.h"
#include "filter_harness.h"
#include "ovik_printer_helper_cmd.h"
#include "ovik_printer_model.h"
#include "print.h"
#include "sequence.h"
#include "spooler.h"

using namespace harness;

namespace {

const std::string receipt80 = ovik_printer_model_brief_find_by_id(0x1001)->name;

/* ---------- blank strips and pulses ---------- */

struct strip_case {
  const char *name;
  int rows; /* blank_counter */
  int save; /* papersavemode */
  uint32_t model;
  bytes expected;
};

void PrintTo(const strip_case &c, std::ostream *os)
{
  *os << c.name;
}

class StripLimit : public ::testing::TestWithParam<strip_case> {};

TEST_P(StripLimit, AStripIsAtMost65535Rows)
{
  device d(0x10201, GetParam().model, [](dev_mode &s) { s.papersavemode = GetParam().save; });
  EXPECT_STREAM(d.printed([&] { print_blank(d.job, GetParam().rows); }), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Filter, StripLimit,
    ::testing::Values(strip_case{"JustBelow", 65534, 0, 0x1001, raster_blank(65534)},
                      strip_case{"AtTheLimit", 65535, 0, 0x1001, raster_blank(65535)},
                      strip_case{"JustAbove", 65536, 0, 0x1001, raster_blank(65535)},
                      strip_case{"LargestInt", INT_MAX, 0, 0x1001, raster_blank(65535)},
                      // the saving applies first: half of 131070 is the limit itself
                      strip_case{"HalfSavedFromTwiceTheLimit", 131070, 2, 0x1001, raster_blank(65535)},
                      strip_case{"LargestIntThreeQuartersSaved", INT_MAX, 3, 0x1001, raster_blank(65535)},
                      strip_case{"FeedStepLargestInt", INT_MAX, 0, 0x1955, feed_blank(65535)}),
    [](const ::testing::TestParamInfo<strip_case> &info) { return info.param.name; });

TEST(StripLimit, AHugeCutLengthFeedsTheLimitThenCuts)
{
  device d;
  d.settings().postprintaction = 2;
  d.settings().finalcut = 2;
  for (int32_t mm : {INT_MAX, 100000000}) {
    d.settings().cutdistance = mm;
    EXPECT_STREAM(d.printed([&] { end_doc(d.job); }), raster_blank(65535) + full_cut);
  }
  d.settings().cutdistance = INT_MIN; // a negative length feeds nothing
  EXPECT_STREAM(d.printed([&] { end_doc(d.job); }), full_cut);
}

TEST(PulseLimit, AnExternalBeepIsAtMost255Pulses)
{
  const bytes pulse = hex_bytes("1B 70 00 64 64");
  const std::pair<int32_t, int> cases[] = {{1, 1}, {9, 9}, {255, 255}, {256, 255}, {INT_MAX, 255}, {-5, 0}};
  for (const auto &[times, sent] : cases) {
    device d;
    d.settings().externalbeepduration = 2;
    d.settings().externalbeepinterval = 1;
    d.settings().externalbeeptimes = times;
    bytes expected;
    for (int i = 0; i < sent; i++)
      expected = expected + pulse;
    EXPECT_STREAM(d.printed([&] { print_external_beep(d.job); }), expected) << "externalbeeptimes " << times;
  }
}

/* ---------- settings out of range ---------- */

TEST(ResolutionLimit, AboveNinetySixHundredDpiTheResolutionInForceStays)
{
  page_spec p;
  p.height = 20;
  p.dot(0, 9);
  const std::string cut = " PostPrintAction=2 CutPaperLength=10 CutMode=2";
  run_result high = run_job(receipt80, make_raster({p}), "Resolution=9601dpi" + cut);
  EXPECT_EQ(high.status, 0) << high.err;
  EXPECT_STREAM(high.out, default_start() + page_copy(p, 10, 0, 0) + raster_blank(79) + full_cut);
  EXPECT_TRUE(contains(high.err, "DEBUG: Resolution 9601dpi is above 9600 dpi; keeping 203 dpi")) << high.err;

  run_result huge = run_job(receipt80, make_raster({p}), "Resolution=99999999999999999999" + cut);
  EXPECT_EQ(huge.status, 0) << huge.err;
  EXPECT_STREAM(huge.out, high.out);

  // The highest accepted: 10 mm at 9600 dpi are 3779 rows.
  run_result top = run_job(receipt80, make_raster({p}), "Resolution=9600dpi" + cut);
  EXPECT_EQ(top.status, 0) << top.err;
  EXPECT_STREAM(top.out, default_start() + page_copy(p, 10, 0, 0) + raster_blank(3779) + full_cut);
  EXPECT_TRUE(contains(top.err, "DEBUG: dot_unit         = 0.002646 \n")) << top.err;
}

TEST(StagingLimit, APageSizeWhoseStripWouldPassTheLimitEndsTheJob)
{
  // A size named 1x1 (1024 rows a strip) whose imageable area is ten million
  // points wide: 3.5 million bytes a row, far beyond the 256 MiB limit.
  std::string ppd = ppd_text(receipt80, {{"PageSize", "1x1"}});
  const std::string anchor = "*CloseUI: *PageSize\n";
  ppd.insert(ppd.find(anchor), "*PageSize 1x1: \"\"\n");
  ppd += "*ImageableArea 1x1: \"0 0 10000000 10\"\n*PaperDimension 1x1: \"10000000 10\"\n";
  temp_dir dir;
  write_text(dir.file("wide.ppd"), ppd);
  run_options o;
  o.args = {"1", "user", "title", "1", ""};
  o.env = {{"PPD", dir.file("wide.ppd")}};
  o.input = make_raster({page_spec{}});
  run_result r = run_filter(o);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(r.out.empty()) << hex(r.out);
  EXPECT_TRUE(contains(r.err, "printer_width    = 3524306 bytes")) << r.err;
  EXPECT_TRUE(contains(r.err, "ERROR:Raster(Cannot allocate rending data buffer")) << r.err;
}

/* ---------- pages the filter refuses ---------- */

struct refused_case {
  const char *name;
  page_spec page;
  std::string error;
  void (*tweak)(cups_page_header2_t &) = nullptr; /* header fields that page_spec leaves alone */
};

void PrintTo(const refused_case &c, std::ostream *os)
{
  *os << c.name;
}

class RefusedPage : public ::testing::TestWithParam<refused_case> {};

/* A page of the given depth: 8 dots wide, 4 rows, every byte 0x80. */
page_spec deep_page(unsigned bits)
{
  page_spec p;
  p.width = 8;
  p.height = 4;
  p.bits_per_pixel = bits;
  p.pixels.assign(p.size(), 0x80);
  return p;
}

TEST_P(RefusedPage, EndsTheJobAfterThePagesBeforeIt)
{
  page_spec first;
  first.height = 10;
  first.dot(3, 4);
  bytes raster = make_raster({first});
  // The refused page: its header, and its pixels when it has a sane size.
  bytes second;
  cups_raster_t *w = cupsRasterOpenIO(append_to_bytes, &second, CUPS_RASTER_WRITE);
  cups_page_header2_t h = header_for(GetParam().page);
  if (GetParam().tweak)
    GetParam().tweak(h);
  cupsRasterWriteHeader2(w, &h);
  if (GetParam().page.size() < 4096)
    cupsRasterWritePixels(w, GetParam().page.data().data(), static_cast<unsigned>(GetParam().page.size()));
  cupsRasterClose(w);
  raster.insert(raster.end(), second.begin() + 4, second.end()); // without its sync word

  run_result r = run_job(receipt80, raster, "PostPrintAction=2 CutPaperLength=10 CutMode=2");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(first, 5, 0, 0));
  EXPECT_TRUE(contains(r.err, "PAGE: 2 1\n")) << r.err;
  EXPECT_TRUE(contains(r.err, GetParam().error)) << r.err;
}

/* A 1-bit page just above the page limit. */
page_spec huge_page()
{
  page_spec p;
  p.width = 8192 * 8;
  p.height = 32769; // 8192 bytes x 32769 rows: 8 KiB above 256 MiB
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Filter, RefusedPage,
    ::testing::Values(refused_case{"EightBitGray", deep_page(8), "ERROR:Raster(page is not 1 bit per pixel, cups:"},
                      refused_case{"TwentyFourBitColour", deep_page(24),
                                   "ERROR:Raster(page is not 1 bit per pixel, cups:",
                                   [](cups_page_header2_t &h) {
                                     h.cupsBitsPerColor = 8;
                                     h.cupsColorSpace = CUPS_CSPACE_RGB;
                                   }},
                      refused_case{"Above256MiB", huge_page(), "ERROR:Raster(page too large, cups:"}),
    [](const ::testing::TestParamInfo<refused_case> &info) { return info.param.name; });

TEST(PaddedRows, AOneBitPageWithPaddedRowsGoesOutAsItCame)
{
  // 60 dots in rows of 10 bytes: the trim tests 7 whole bytes, the rest is sent untouched.
  page_spec p;
  p.width = 60;
  p.bytes_per_line = 10;
  p.height = 6;
  p.dot(5, 1).dot(59, 4);
  p.pixels[4 * 10 + 9] = 0xFF; // in the padding, below the last tested dot
  run_result r = run_job(receipt80, make_raster({p}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 2, 0, 0));
}

/* ---------- page header fields of any value ---------- */

TEST(HeaderFields, EnumFieldsOfAnyValuePrintAsTheirNumbers)
{
  // A raster stream may carry any 32 bits in the enum-typed fields.
  cups_page_header_t h;
  std::memset(&h, 0, sizeof h);
  std::memset(&h.AdvanceMedia, 0xFF, sizeof h.AdvanceMedia);
  std::memset(&h.Collate, 0x7F, sizeof h.Collate);
  std::memset(&h.cupsColorSpace, 0x55, sizeof h.cupsColorSpace);
  fflush(stderr);
  temp_dir dir;
  int saved = dup(2);
  int fd = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  dump_header(h);
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(fd);
  std::vector<std::string> l = lines(read_text(dir.file("err")));
  ASSERT_EQ(l.size(), 40u);
  EXPECT_EQ(l[1], "INFO: AdvanceMedia:-1");
  EXPECT_EQ(l[2], "INFO: Collate:TRUE");
  EXPECT_EQ(l[31], "INFO: cupsColorSpace:1431655765");
}

/* ---------- numbers in printer replies ---------- */

TEST(ReplyNumbers, ANumberBeyondIntIsAboveEveryVersionLimit)
{
  char reply[] = "_4294967297.1.1 ";
  int versions[3] = {-7, -7, -7};
  EXPECT_EQ(ovik_cmd_parse_printer_version(1, reply, versions, 3), 0);
  EXPECT_EQ(versions[0], -7); // not 1, as a wrapped conversion would give
  char small[] = "_254.0.12 ";
  EXPECT_EQ(ovik_cmd_parse_printer_version(1, small, versions, 3), 0);
  EXPECT_EQ(std::vector<int>(versions, versions + 3), (std::vector<int>{254, 0, 12}));
}

TEST(ReplyNumbers, ASymbolSizeBeyondIntSaturates)
{
  // Replies of at most 18 characters: 11 digits fit.
  char high[] = "7699999999999\x1f-9\x1f";
  char low[] = "76-9999999999\x1f"
               "0\x1f";
  int h = 0, v = 0;
  EXPECT_EQ(ovik_cmd_parse_qr_code_size(1, high, &h, &v), 0);
  EXPECT_EQ(std::make_pair(h, v), std::make_pair(INT_MAX, -9));
  EXPECT_EQ(ovik_cmd_parse_qr_code_size(1, low, &h, &v), 0);
  EXPECT_EQ(std::make_pair(h, v), std::make_pair(INT_MIN, 0));
}

} // namespace
