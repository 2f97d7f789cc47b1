// The filter end to end: raster written by libcups, a PPD, the real binary;
// its printer stream compared byte for byte, its status lines line for line.
#include <gtest/gtest.h>

#include "filter_harness.h"
#include "ovik_printer_model.h"

using namespace harness;

namespace {

/* Model names of the catalogue, looked up by id (the first row of the id). */
std::string model_named(int32_t id)
{
  const ovik_model_brief *row = ovik_printer_model_brief_find_by_id(id);
  return row ? row->name : "";
}

const std::string receipt80 = model_named(0x1001); // class 0x201, 576 dots
const std::string feed_step = model_named(0x1955); // sends blank strips as ESC J
const std::string label4 = model_named(0x3102);    // class 0x2: no ESC/POS commands

/* A 576-dot page of 100 rows whose lowest dot is on row 60 (from 1). */
page_spec receipt_page(unsigned copies = 1)
{
  page_spec p;
  p.copies = copies;
  p.dot(0, 0).dot(300, 30).dot(575, 59);
  return p;
}

const std::string cups_ok = "(cups:successful-ok)";

TEST(DefaultJob, OnePageWithEveryDefaultIsPaperTypeDocStartAndTheTrimmedPage)
{
  page_spec p = receipt_page();
  run_result r = run_job(receipt80, make_raster({p}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0x00, 0));
}

TEST(DefaultJob, StatusLinesAreExact)
{
  page_spec p = receipt_page();
  run_result r = run_job(receipt80, make_raster({p}), "");
  std::string expected = "INFO: rastertoovik filter started \n"
                         "DEBUG: rastertoovik compiled with OVIK library version 0.1.0\n"
                         "DEBUG:  \n"
                         "DEBUG: CUPS printing options \n"
                         "DEBUG: model            = 0x1001 \n"
                         "DEBUG: name             = " +
                         receipt80 +
                         " \n"
                         "DEBUG: type             = 0x10201 \n"
                         "DEBUG: printer_width    = 72 bytes \n"
                         "DEBUG: max_render_height= 12 \n"
                         "DEBUG: issupportshiftline= NO \n"
                         "DEBUG: islabelprinter   = NO \n"
                         "DEBUG: cut_spacing     = 0.000000 \n"
                         "DEBUG: motion_v        = 0.062500 \n"
                         "DEBUG: dot_unit         = 0.125123 \n"
                         "DEBUG: compression         = 0 \n"
                         "DEBUG: papertype        = 0 \n"
                         "DEBUG: pagemode         = NO \n"
                         "DEBUG: ticketmode       = NO \n"
                         "DEBUG: finalcut         = 0 \n"
                         "DEBUG: is_page_cut      = NO \n"
                         "DEBUG: fwdfeed          = 0 \n"
                         "DEBUG: backfeed         = 0 \n"
                         "DEBUG: speed            = -1 \n"
                         "DEBUG: density          = -1 \n"
                         "DEBUG: linespacing      = -1 \n"
                         "DEBUG: printlogo        = 0 \n"
                         "DEBUG: logoindex        = 0 \n"
                         "DEBUG: logoalign        = 0 \n"
                         "DEBUG: beepcontrol        = 0 \n"
                         "DEBUG: beepduration        = 0 \n"
                         "DEBUG: beepinterval        = 0 \n"
                         "DEBUG: beeptimes        = 1 \n"
                         "DEBUG: externalbeepcontrol        = 0 \n"
                         "DEBUG: externalbeepduration        = 0 \n"
                         "DEBUG: externalbeepinterval        = 0 \n"
                         "DEBUG: externalbeeptimes        = 1 \n"
                         "DEBUG: drawer1        = 0 \n"
                         "DEBUG: drawer2        = 0 \n"
                         "DEBUG: postprintaction       =2 \n"
                         "DEBUG: feeddistance        = 0 \n"
                         "DEBUG: cutdistance        = -1 \n"
                         "DEBUG: papersavemode        = 0 \n"
                         "DEBUG: papersavebottom        = 1 \n"
                         "PAGE: 1 1\n"
                         "INFO: AdvanceDistance:0\n"
                         "INFO: AdvanceMedia:0\n"
                         "INFO: Collate:FALSE\n"
                         "INFO: CutMedia:0\n"
                         "INFO: Duplex:FALSE\n"
                         "INFO: HWResolution:203203\n"
                         "INFO: ImagingBoundingBox:left0, bottom0, right0, top0\n"
                         "INFO: InsertSheet:FALSE\n"
                         "INFO: cups_jog_t:0\n"
                         "INFO: cups_edge_t:0\n"
                         "INFO: ManualFeed:FALSE\n"
                         "INFO: Margins:00\n"
                         "INFO: MediaClass:\n"
                         "INFO: MediaColor:\n"
                         "INFO: MediaPosition:0\n"
                         "INFO: MediaType:receipt\n"
                         "INFO: MediaWeight:0\n"
                         "INFO: MirrorPrint:FALSE\n"
                         "INFO: NegativePrint:FALSE\n"
                         "INFO: NumCopies:1\n"
                         "INFO: Orientation:0\n"
                         "INFO: OutputFaceUp:FALSE\n"
                         "INFO: OutputType:\n"
                         "INFO: PageSize:20435\n"
                         "INFO: Separations:FALSE\n"
                         "INFO: TraySwitch:FALSE\n"
                         "INFO: Tumble:FALSE\n"
                         "INFO: cupsBitsPerColor:1\n"
                         "INFO: cupsBitsPerPixel:1\n"
                         "INFO: cupsBytesPerLine:72\n"
                         "INFO: cupsColorOrder:0\n"
                         "INFO: cupsColorSpace:3\n"
                         "INFO: cupsCompression:0\n"
                         "INFO: cupsHeight:100\n"
                         "INFO: cupsMediaType:0\n"
                         "INFO: cupsRowCount:0\n"
                         "INFO: cupsRowFeed:0\n"
                         "INFO: cupsRowStep:0\n"
                         "INFO: cupsWidth:576\n"
                         "INFO: cupsHeight:100\n"
                         "DEBUG: rastertoovik filter finished " +
                         cups_ok + "\n";
  EXPECT_EQ(r.err, expected);
}

TEST(DefaultJob, CutAtDocumentEndAddsTheSeventyNineRowStripAndTheFullCut)
{
  page_spec p = receipt_page();
  bytes expected = default_start() + page_copy(p, 60, 0x00, 0) + raster_blank(79) + full_cut;
  run_result by_option = run_job(receipt80, make_raster({p}), "PostPrintAction=2 CutPaperLength=10 CutMode=2");
  EXPECT_STREAM(by_option.out, expected);
  run_result by_ppd =
      run_job(receipt80, make_raster({p}), "", {{"PostPrintAction", "2"}, {"CutPaperLength", "10"}, {"CutMode", "2"}});
  EXPECT_STREAM(by_ppd.out, expected);
}

TEST(DefaultJob, AJobOptionOverridesThePpdDefault)
{
  page_spec p = receipt_page();
  run_result r = run_job(receipt80, make_raster({p}), "CutMode=1 PaperSaveBottom=0",
                         {{"CutPaperLength", "10"}, {"CutMode", "2"}, {"PaperSaveBottom", "1"}});
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 100, 0x00, 0) + raster_blank(79) + partial_cut);
}

class RasterVersions : public ::testing::TestWithParam<raster_version> {};

TEST_P(RasterVersions, EveryVersionGivesTheSameStream)
{
  page_spec a = receipt_page(2);
  page_spec b;
  b.width = 384;
  b.height = 40;
  b.dot(10, 5).dot(383, 20);
  run_result r = run_job(receipt80, make_raster({a, b}, GetParam()), "PostPrintAction=3 CutPaperLength=10 CutMode=2");
  bytes end_of_copy = raster_blank(79) + full_cut;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(a, 60, 0, 0) + end_of_copy + page_copy(a, 60, 0, 1) + end_of_copy +
                           page_copy(b, 21, 0, 2) + end_of_copy);
  EXPECT_TRUE(contains(r.err, "PAGE: 1 2\n")) << r.err;
  EXPECT_TRUE(contains(r.err, "PAGE: 2 1\n")) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Filter, RasterVersions,
                         ::testing::Values(raster_version::v1, raster_version::v2_compressed, raster_version::v3,
                                           raster_version::pwg));

/* ---------- copies ---------- */

TEST(Copies, APageWithoutACopyCountAsIppClientsWriteItIsPrintedOnce)
{
  // cupsRasterInitPWGHeader leaves NumCopies 0, "the printer's default".
  cups_page_header2_t h;
  ASSERT_TRUE(cupsRasterInitPWGHeader(&h, pwgMediaForSize(7200, 1000), "black_1", 203, 203, "one-sided", nullptr));
  ASSERT_EQ(h.NumCopies, 0u);
  page_spec p;
  p.width = h.cupsWidth;
  p.height = h.cupsHeight;
  p.bytes_per_line = h.cupsBytesPerLine;
  p.dot(1, 0).dot(p.width - 9, 30);
  bytes raster;
  cups_raster_t *r = cupsRasterOpenIO(append_to_bytes, &raster, CUPS_RASTER_WRITE_PWG);
  cupsRasterWriteHeader2(r, &h);
  cupsRasterWritePixels(r, p.pixels.data(), static_cast<unsigned>(p.pixels.size()));
  cupsRasterClose(r);

  run_result res = run_job(receipt80, raster);
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_STREAM(res.out, default_start() + page_copy(p, 31, 0, 0));
  EXPECT_TRUE(contains(res.err, "PAGE: 1 1\nINFO: AdvanceDistance")) << res.err;
  EXPECT_TRUE(contains(res.err, "INFO: NumCopies:0\n")) << res.err;
}

TEST(Copies, ThreeCopiesAreThreePairsWithSequenceNumbersOneApart)
{
  page_spec p = receipt_page(3);
  run_result r = run_job(receipt80, make_raster({p}));
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0, 0) + page_copy(p, 60, 0, 1) + page_copy(p, 60, 0, 2));
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), 'P') >= 1, true);
  EXPECT_TRUE(contains(r.err, "PAGE: 1 3\n")) << r.err;
}

TEST(Copies, TheSequenceNumbersWrapAfter256Copies)
{
  page_spec p;
  p.width = 16;
  p.height = 2;
  p.copies = 257;
  p.dot(0, 0).dot(15, 1);
  run_result r = run_job(receipt80, make_raster({p}));
  bytes expected = default_start();
  for (unsigned i = 0; i < 257; i++)
    expected = expected + page_copy(p, 2, 0, static_cast<uint8_t>(i));
  EXPECT_STREAM(r.out, expected);
  // The 257th pair carries sequence number 0 again.
  bytes last = page_copy(p, 2, 0, 0);
  EXPECT_TRUE(std::equal(last.begin(), last.end(), r.out.end() - static_cast<long>(last.size())));
}

/* ---------- paper-save trim ---------- */

struct trim_case {
  const char *name;
  page_spec page;
  unsigned rows_sent;
  const char *options;
};

void PrintTo(const trim_case &c, std::ostream *os)
{
  *os << c.name;
}

class Trim : public ::testing::TestWithParam<trim_case> {};

TEST_P(Trim, SendsTheRowsDownToTheLowestDotInAWholeByte)
{
  const trim_case &c = GetParam();
  run_result r = run_job(receipt80, make_raster({c.page}), c.options);
  EXPECT_STREAM(r.out, default_start() + page_copy(c.page, c.rows_sent, 0, 0));
}

page_spec with_dots(unsigned width, unsigned height, std::vector<std::pair<unsigned, unsigned>> dots,
                    unsigned bytes_per_line = 0)
{
  page_spec p;
  p.width = width;
  p.height = height;
  p.bytes_per_line = bytes_per_line;
  for (auto [x, y] : dots)
    p.dot(x, y);
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Filter, Trim,
    ::testing::Values(trim_case{"LowestDotOnRow60", with_dots(576, 100, {{5, 59}}), 60, ""},
                      trim_case{"TrimOffSendsAllRows", with_dots(576, 100, {{5, 59}}), 100, "PaperSaveBottom=0"},
                      trim_case{"BlankPageSendsNoRows", with_dots(576, 100, {}), 0, ""},
                      trim_case{"NarrowerThanOneByteSendsNoRows", with_dots(7, 10, {{0, 9}, {6, 9}}), 0, ""},
                      trim_case{"DotsInThePartlyUsedLastByteDoNotCount", with_dots(20, 10, {{3, 2}, {17, 8}}), 3, ""},
                      trim_case{"DotsBeyondTheWidthDoNotCount", with_dots(16, 10, {{1, 4}, {20, 9}}, 3), 5, ""},
                      trim_case{"DotOnTheLastRowKeepsEverything", with_dots(576, 100, {{575, 99}}), 100, ""}),
    [](const ::testing::TestParamInfo<trim_case> &info) { return info.param.name; });

/* ---------- paper saving at the top and inside a page ---------- */

/* Dots on rows 100, 110 and 300 of 400: blank runs of 100 rows above, 9 and
 * 189 rows between, 99 below. At 203 dpi 2 mm are 15 rows, 5 mm 39, 10 mm 79. */
page_spec spaced_page(unsigned copies = 1)
{
  page_spec p = with_dots(576, 400, {{5, 100}, {575, 110}, {300, 300}});
  p.copies = copies;
  return p;
}

/* The rows [from, to) of each range of a page, joined. */
bytes rows_of(const page_spec &p, std::vector<std::pair<unsigned, unsigned>> ranges)
{
  bytes all = p.data(), out;
  for (auto [from, to] : ranges)
    out.insert(out.end(), all.begin() + from * p.bpl(), all.begin() + to * p.bpl());
  return out;
}

struct save_case {
  const char *name;
  const char *options;
  std::map<std::string, std::string> ppd;
  std::vector<std::pair<unsigned, unsigned>> kept;
  unsigned copies = 1;
  uint8_t paper_code = 0, flags = 0;
};

void PrintTo(const save_case &c, std::ostream *os)
{
  *os << c.name;
}

class SaveTopAndGaps : public ::testing::TestWithParam<save_case> {};

TEST_P(SaveTopAndGaps, SendsTheRowsLeftOnContinuousPaperAloneInCupsAndPwgRasterAlike)
{
  const save_case &c = GetParam();
  page_spec p = spaced_page(c.copies);
  bytes rows = rows_of(p, c.kept), expected = paper_packet(c.paper_code) + doc_start_packet();
  for (unsigned copy = 0; copy < c.copies; copy++)
    expected = expected + page_header_packet(p.bpl(), static_cast<unsigned>(rows.size() / p.bpl()), c.flags, copy) +
               bitmap_packet(rows, copy);
  for (raster_version v : {raster_version::v3, raster_version::v2_compressed, raster_version::pwg}) {
    run_result r = run_job(receipt80, make_raster({p}, v), c.options, c.ppd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_STREAM(r.out, expected) << "raster version " << static_cast<int>(v);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Filter, SaveTopAndGaps,
    ::testing::Values(
        save_case{"WithoutTheKeywords", "", {}, {{0, 301}}},
        save_case{"BothOff", "PaperSaveTop=-1 PaperSaveGap=0", {}, {{0, 301}}},
        save_case{"TopKeeps2mm", "PaperSaveTop=2", {}, {{85, 301}}},
        save_case{"TopLeftOut", "PaperSaveTop=0", {}, {{100, 301}}},
        save_case{"TopFromThePpd", "", {{"PaperSaveTop", "5"}}, {{61, 301}}},
        save_case{"TopMarginBeyondTheBlank", "PaperSaveTop=20", {}, {{0, 301}}},
        save_case{"GapShortenedTo5mm", "PaperSaveGap=5", {}, {{0, 150}, {300, 301}}},
        save_case{"BottomKeptWhole", "PaperSaveTop=0 PaperSaveGap=10 PaperSaveBottom=0", {}, {{100, 190}, {300, 400}}},
        save_case{"CopiesTrimmedOnce", "PaperSaveTop=0 PaperSaveGap=5", {}, {{100, 150}, {300, 301}}, 2},
        save_case{"LabelsKeepTheirGeometry", "PaperSaveTop=0 PaperSaveGap=5 PaperType=1", {}, {{0, 301}}, 1, 2, 2},
        save_case{"BlackMarksKeepTheirGeometry", "PaperSaveTop=0 PaperSaveGap=5 PaperType=2", {}, {{0, 301}}, 1, 1, 2},
        save_case{"TicketsKeepTheirGeometry", "PaperSaveTop=0 PaperSaveGap=5 PaperType=3", {}, {{0, 301}}, 1, 0, 1}),
    [](const ::testing::TestParamInfo<save_case> &info) { return info.param.name; });

/* ---------- after printing: feeds and cuts ---------- */

struct post_case {
  const char *name;
  const char *options;
  std::function<bytes(const page_spec &)> expected;
};

void PrintTo(const post_case &c, std::ostream *os)
{
  *os << c.name;
}

class PostPrint : public ::testing::TestWithParam<post_case> {};

TEST_P(PostPrint, FeedsAndCutsWhereAsked)
{
  page_spec p = receipt_page(2);
  run_result r = run_job(receipt80, make_raster({p}), GetParam().options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, GetParam().expected(p));
}

INSTANTIATE_TEST_SUITE_P(
    Filter, PostPrint,
    ::testing::Values(
        post_case{"FeedAtEndOfJob", "PostPrintAction=1 FormfeedLength=10",
                  [](const page_spec &p) {
                    return default_start() + page_copy(p, 60, 0x04, 0) + page_copy(p, 60, 0x04, 1) + raster_blank(79);
                  }},
        post_case{"FeedAndPartialCutAtEndOfJob", "PostPrintAction=2 CutPaperLength=10 CutMode=1",
                  [](const page_spec &p) {
                    return default_start() + page_copy(p, 60, 0, 0) + page_copy(p, 60, 0, 1) + raster_blank(79) +
                           partial_cut;
                  }},
        post_case{"FeedAndCutAfterEveryCopy", "PostPrintAction=3 CutPaperLength=10 CutMode=2",
                  [](const page_spec &p) {
                    return default_start() + page_copy(p, 60, 0, 0) + raster_blank(79) + full_cut +
                           page_copy(p, 60, 0, 1) + raster_blank(79) + full_cut;
                  }},
        post_case{"CutAfterEveryCopyWithoutFeed", "PostPrintAction=3 CutPaperLength=0 CutMode=67",
                  [](const page_spec &p) {
                    return default_start() + page_copy(p, 60, 0, 0) + full_cut + page_copy(p, 60, 0, 1) + full_cut;
                  }},
        post_case{"PaperSaveModeHalvesTheFeed", "PostPrintAction=3 CutPaperLength=10 CutMode=66 PaperSaveMode=2",
                  [](const page_spec &p) {
                    return default_start() + page_copy(p, 60, 0, 0) + raster_blank(40) + partial_cut +
                           page_copy(p, 60, 0, 1) + raster_blank(40) + partial_cut;
                  }},
        post_case{"LongFeedGoesOutIn255RowChunks", "PostPrintAction=1 FormfeedLength=76",
                  [](const page_spec &p) {
                    // 76 mm at 203 dpi is 607.4 rows: 255 + 255 + 97.
                    return default_start() + page_copy(p, 60, 0x04, 0) + page_copy(p, 60, 0x04, 1) + raster_blank(607);
                  }},
        post_case{"UnknownCutModeSendsNoCut", "PostPrintAction=2 CutPaperLength=10 CutMode=3",
                  [](const page_spec &p) {
                    return default_start() + page_copy(p, 60, 0, 0) + page_copy(p, 60, 0, 1) + raster_blank(79);
                  }},
        post_case{
            "NoPostPrintAction", "PostPrintAction=0 CutPaperLength=10 CutMode=2",
            [](const page_spec &p) { return default_start() + page_copy(p, 60, 0, 0) + page_copy(p, 60, 0, 1); }}),
    [](const ::testing::TestParamInfo<post_case> &info) { return info.param.name; });

TEST(PostPrint, FeedStepModelsFeedWithEscJ)
{
  page_spec p = receipt_page();
  run_result r = run_job(feed_step, make_raster({p}), "PostPrintAction=3 CutPaperLength=76 CutMode=2");
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0, 0) + hex_bytes("1B 4A FF 1B 4A FF 1B 4A 61") + full_cut);
}

TEST(PostPrint, APrinterWithoutTheCommandSetGetsThePagesAndNoStripsOrCuts)
{
  page_spec p = receipt_page(2);
  run_result r = run_job(label4, make_raster({p}), "PostPrintAction=3 CutPaperLength=10 CutMode=2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0, 0) + page_copy(p, 60, 0, 1));
  // Each refused strip is reported once, at the debug level; the job goes on.
  std::string line =
      "DEBUG: error(-3):Printer model type is error. Please use the printer with expected type. " + cups_ok + "\n";
  size_t first = r.err.find(line);
  ASSERT_NE(first, std::string::npos) << r.err;
  size_t second = r.err.find(line, first + 1);
  ASSERT_NE(second, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(line, second + 1), std::string::npos) << r.err;
  EXPECT_TRUE(contains(r.err, "DEBUG: rastertoovik filter finished")) << r.err;
}

/* ---------- document start and end actions ---------- */

TEST(Actions, BeeperDrawersAndLogoGoWhereTheirSettingsSay)
{
  page_spec p = receipt_page();
  run_result r = run_job(receipt80, make_raster({p}),
                         "BeepControl=1 BeepRepeat=2 BeepDuration=3 BeepInterval=4 Drawer1=2 Drawer2=1 "
                         "PrintLogo=1 LogoIndex=1 LogoAlign=2 ExternalBeepControl=2 ExternalBeepDuration=2 "
                         "ExternalBeepInterval=1 ExternalBeepRepeat=3 PostPrintAction=2 CutPaperLength=10 CutMode=2");
  bytes start = hex_bytes("1B 28 41 05 00 61 64 02 03 04"                // beep
                          " 1B 70 01 50 50"                              // drawer 2
                          " 1B 61 01"                                    // logo alignment: centre
                          " 1D 28 4C 06 00 30 45 30 30 01 01 1B 61 00"); // logo 1, then left again
  bytes end = hex_bytes("1B 70 00 64 64 1B 70 00 64 64 1B 70 00 64 64"   // external buzzer, three pulses
                        " 1B 70 00 50 50");                              // drawer 1
  EXPECT_STREAM(r.out, default_start() + start + page_copy(p, 60, 0, 0) + end + raster_blank(79) + full_cut);
}

TEST(Actions, LogoAtTheEndAndRefusedSettingsLeaveTheirCommandsOut)
{
  page_spec p = receipt_page();
  // Beeps beyond 63 and logo 80 are refused by the printer's command set;
  // alignment 0 is no alignment. The rest of the job is untouched.
  run_result r =
      run_job(receipt80, make_raster({p}), "BeepControl=2 BeepRepeat=64 PrintLogo=2 LogoIndex=80 LogoAlign=0");
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0, 0));
  run_result logo =
      run_job(receipt80, make_raster({p}), "PrintLogo=2 LogoIndex=2 LogoAlign=3 BeepControl=2 BeepRepeat=63");
  EXPECT_STREAM(logo.out,
                default_start() + page_copy(p, 60, 0, 0) +
                    hex_bytes("1B 28 41 05 00 61 64 3F 00 00 1B 61 02 1D 28 4C 06 00 30 45 30 31 01 01 1B 61 00"));
}

/* ---------- settings from the PPD and the options ---------- */

struct density_case {
  const char *value;
  bytes start;
};

void PrintTo(const density_case &c, std::ostream *os)
{
  *os << c.value;
}

class Density : public ::testing::TestWithParam<density_case> {};

TEST_P(Density, TheDensityPacketLeadsTheJobWhenADensityIsSet)
{
  page_spec p = receipt_page();
  run_result r = run_job(receipt80, make_raster({p}), std::string("PrintDensity=") + GetParam().value);
  EXPECT_STREAM(r.out, GetParam().start + default_start() + page_copy(p, 60, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(Filter, Density,
                         ::testing::Values(density_case{"None", {}}, density_case{"3", density_packet(3)},
                                           density_case{"300", density_packet(0x2C)},
                                           density_case{"none", density_packet(0)}));

struct paper_case {
  int papertype;
  uint8_t code;
  uint8_t flags;
};

void PrintTo(const paper_case &c, std::ostream *os)
{
  *os << "papertype " << c.papertype;
}

class PaperType : public ::testing::TestWithParam<paper_case> {};

TEST_P(PaperType, GivesThePaperCodeAndPageFlags)
{
  page_spec p = receipt_page();
  const paper_case &c = GetParam();
  run_result r = run_job(receipt80, make_raster({p}), "PaperType=" + std::to_string(c.papertype));
  EXPECT_STREAM(r.out, paper_packet(c.code) + doc_start_packet() + page_copy(p, 60, c.flags, 0));
}

INSTANTIATE_TEST_SUITE_P(Filter, PaperType,
                         ::testing::Values(paper_case{0, 0x00, 0x00}, paper_case{1, 0x02, 0x02},
                                           paper_case{2, 0x01, 0x02}, paper_case{3, 0x00, 0x01},
                                           paper_case{5, 0x00, 0x00}));

TEST(Settings, Resolution300ShortensTheDotAndLengthensTheFeed)
{
  page_spec p = receipt_page();
  run_result r =
      run_job(receipt80, make_raster({p}), "Resolution=300dpi PostPrintAction=2 CutPaperLength=10 CutMode=2");
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0, 0) + raster_blank(118) + full_cut);
  EXPECT_TRUE(contains(r.err, "DEBUG: dot_unit         = 0.084667 \n")) << r.err;
  EXPECT_TRUE(contains(r.err, "DEBUG: motion_v        = 0.084667 \n")) << r.err;
}

TEST(Settings, AResolutionWithoutDotsPerInchKeepsThePreviousOne)
{
  page_spec p = receipt_page();
  run_result r = run_job(receipt80, make_raster({p}), "Resolution=dpi PostPrintAction=2 CutPaperLength=10 CutMode=2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0, 0) + raster_blank(79) + full_cut);
  EXPECT_TRUE(contains(r.err, "DEBUG: Resolution dpi gives no dots per inch; keeping 203 dpi")) << r.err;
  EXPECT_TRUE(contains(r.err, "DEBUG: dot_unit         = 0.125123 \n")) << r.err;
}

struct width_case {
  const char *page_size;
  const char *width_line;
  const char *height_line;
};

void PrintTo(const width_case &c, std::ostream *os)
{
  *os << c.page_size;
}

class PageSizeWidth : public ::testing::TestWithParam<width_case> {};

TEST_P(PageSizeWidth, ComesFromTheImageableWidthOrTheLeadingDigits)
{
  run_result r = run_job(receipt80, make_raster({receipt_page()}), std::string("PageSize=") + GetParam().page_size);
  EXPECT_TRUE(contains(r.err, GetParam().width_line)) << r.err;
  EXPECT_TRUE(contains(r.err, GetParam().height_line)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Filter, PageSizeWidth,
                         ::testing::Values(
                             // (203 x 204 / 72 + 7) / 8 = 72.8
                             width_case{"80x210mm", "printer_width    = 72 bytes \n", "max_render_height= 12 \n"},
                             // (203 x 136 / 72 + 7) / 8 = 48.8; 1024 / 58 = 17
                             width_case{"58x210mm", "printer_width    = 48 bytes \n", "max_render_height= 17 \n"},
                             // unknown to the PPD: the leading digits stay
                             width_case{"60x100mm", "printer_width    = 60 bytes \n", "max_render_height= 17 \n"},
                             // no digits and unknown: width 0, height at its default
                             width_case{"Roll", "printer_width    = 0 bytes \n", "max_render_height= 14 \n"}));

/* ---------- the end of a job, and jobs that can't go on ---------- */

TEST(JobEnd, ARasterWithoutPagesIsTheDocumentStartAndEnd)
{
  run_result r = run_job(receipt80, make_raster({}), "PostPrintAction=2 CutPaperLength=10 CutMode=2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + raster_blank(79) + full_cut);
  EXPECT_FALSE(contains(r.err, "PAGE:")) << r.err;
}

TEST(JobEnd, APageHeaderThatCannotBeReadEndsTheJobLikeTheEndOfTheStream)
{
  // libcups refuses a header of zero rows; what follows it is never read.
  page_spec first = receipt_page();
  page_spec empty;
  empty.height = 0;
  run_result r =
      run_job(receipt80, make_raster({first, empty, receipt_page()}), "PostPrintAction=2 CutPaperLength=10 CutMode=2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(first, 60, 0, 0) + raster_blank(79) + full_cut);
}

TEST(JobEnd, RasterFromANamedFileLeavesStandardInputAlone)
{
  temp_dir dir;
  page_spec p = receipt_page();
  write_file(dir.file("job.ras"), make_raster({p}));
  write_text(dir.file("test.ppd"), ppd_text(receipt80));
  run_options o;
  o.args = {"1", "user", "title", "1", "", dir.file("job.ras")};
  o.env = {{"PPD", dir.file("test.ppd")}};
  o.input = bytes(100, 0x55); // not a raster: it must not be read
  run_result r = run_filter(o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, default_start() + page_copy(p, 60, 0, 0));
}

struct fatal_case {
  const char *name;
  std::function<run_options(temp_dir &)> setup;
  std::string error_line;
};

void PrintTo(const fatal_case &c, std::ostream *os)
{
  *os << c.name;
}

class Fatal : public ::testing::TestWithParam<fatal_case> {};

TEST_P(Fatal, EndsWithTheErrorLineAndStatusOne)
{
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(receipt80));
  run_result r = run_filter(GetParam().setup(dir));
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> l = lines(r.err);
  EXPECT_TRUE(contains(r.err, GetParam().error_line)) << r.err;
  // The error line is the last one: nothing runs after a fatal error.
  EXPECT_TRUE(r.err.size() >= GetParam().error_line.size() &&
              r.err.compare(r.err.size() - GetParam().error_line.size(), std::string::npos, GetParam().error_line) == 0)
      << r.err;
}

run_options job_in(temp_dir &dir, std::vector<std::string> args, bytes input)
{
  run_options o;
  o.args = std::move(args);
  o.env = {{"PPD", dir.file("test.ppd")}};
  o.input = std::move(input);
  return o;
}

const std::vector<std::string> five_args = {"1", "user", "title", "1", ""};

INSTANTIATE_TEST_SUITE_P(
    Filter, Fatal,
    ::testing::Values(
        fatal_case{"FourArguments",
                   [](temp_dir &d) {
                     return job_in(d, {"1", "user", "title", "1"}, make_raster({receipt_page()}));
                   },
                   "ERROR:Raster(ERROR: rastertoovik job-id user title copies options [file]\n, cups:successful-ok)\n"},
        fatal_case{"SevenArguments",
                   [](temp_dir &d) {
                     return job_in(d, {"1", "user", "title", "1", "", "f", "g"}, make_raster({receipt_page()}));
                   },
                   "ERROR:Raster(ERROR: rastertoovik job-id user title copies options [file]\n, cups:successful-ok)\n"},
        fatal_case{"NoPpdVariable",
                   [](temp_dir &d) {
                     run_options o = job_in(d, five_args, make_raster({receipt_page()}));
                     o.env.clear();
                     return o;
                   },
                   "ERROR:Raster(PPD environment variable not set, cups:successful-ok)\n"},
        fatal_case{"PpdMissing",
                   [](temp_dir &d) {
                     run_options o = job_in(d, five_args, make_raster({receipt_page()}));
                     o.env["PPD"] = d.file("missing.ppd");
                     return o;
                   },
                   "ERROR:Raster(ppdOpenFile failed, cups:successful-ok)\n"},
        fatal_case{"UnknownModel",
                   [](temp_dir &d) {
                     write_text(d.file("test.ppd"), ppd_text("No Such Printer 9000"));
                     return job_in(d, five_args, make_raster({receipt_page()}));
                   },
                   "DEBUG: error(-8):Unable to identify the printer model. Please correct the printer model. "
                   "(cups:successful-ok)\nERROR:Raster(wrong ppd modelname!, cups:successful-ok)\n"},
        fatal_case{"RasterFileMissing",
                   [](temp_dir &d) {
                     std::vector<std::string> args = five_args;
                     args.push_back(d.file("missing.ras"));
                     return job_in(d, args, {});
                   },
                   "ERROR:Raster(Unable to open raster file, cups:successful-ok)\n"},
        fatal_case{"PageCutShort",
                   [](temp_dir &d) {
                     bytes raster = make_raster({receipt_page()});
                     raster.resize(raster.size() - 10);
                     return job_in(d, five_args, raster);
                   },
                   "ERROR:Raster(cupsRasterReadPixels did not read enough data, cups:successful-ok)\n"}),
    [](const ::testing::TestParamInfo<fatal_case> &info) { return info.param.name; });

TEST(Fatal, NothingReachesThePrinterOnAUsageError)
{
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(receipt80));
  run_result r = run_filter(job_in(dir, {"1", "user", "title", "1"}, make_raster({receipt_page()})));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
}

TEST(Fatal, AShortPageKeepsWhatWasAlreadySent)
{
  page_spec first = receipt_page();
  bytes raster = make_raster({first, receipt_page()});
  raster.resize(raster.size() - 1);
  run_result r = run_job(receipt80, raster);
  EXPECT_EQ(r.status, 1);
  EXPECT_STREAM(r.out, default_start() + page_copy(first, 60, 0, 0));
}

} // namespace
