// Packets and printer operations in-process: the byte examples of the stream
// format, every operation's bytes and result, and dot-line raster sections.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "filter_harness.h"
#include "packet.h"
#include "page.h"
#include "print.h"
#include "sequence.h"

using namespace harness;

namespace {

/* ---------- packets ---------- */

TEST(Packets, TheByteExamplesOfTheStreamFormat)
{
  device d;
  EXPECT_EQ(hex(d.printed([&] { send_doc_start_packet(d.job); })),
            "1B 1A 01 02 01 00 00 00 00 00 04 00 00 00 0A 00 01 00 56 E1 F2 96");
  EXPECT_EQ(hex(d.printed([&] { send_paper_type_packet(d.job, 0); })),
            "1B 1A 01 01 01 01 01 00 00 00 07 00 00 00 02 00 01 CE 00 01 00 12 CD 37 5B");
  EXPECT_EQ(hex(d.printed([&] { send_page_header_packet(d.job, 72, 100, 0x00); })),
            "1B 1A 01 03 01 00 00 00 00 00 0E 00 00 00 05 00 01 01 48 00 64 00 00 01 00 00 00 00 F2 A5 23 8F");
}

TEST(Packets, APageOfTwoRowsOfTwoBytes)
{
  device d;
  const uint8_t rows[] = {0xFF, 0x00, 0x0F, 0xF0};
  bytes out = d.printed([&] {
    send_page_header_packet(d.job, 2, 2, 0x00);
    printbitmap(d.job, rows, 2, 2);
  });
  EXPECT_EQ(hex(out),
            hex(hex_bytes("1B 1A 01 03 01 00 00 00 00 00 0E 00 00 00 05 00 01 01 02 00 02 00 00 01 00 00 00 00 "
                          "A7 9B 3F 10 1B 1A 01 04 02 00 00 00 00 00 10 00 00 00 05 00 00 00 00 00 00 00 04 00 "
                          "00 00 FF 00 0F F0 23 B2 B4 70")));
}

TEST(Packets, APageTrimmedToNoRowsHasAnEmptyBitmap)
{
  device d;
  EXPECT_EQ(hex(d.printed([&] { printbitmap(d.job, nullptr, 72, 0); })),
            "1B 1A 01 04 02 00 00 00 00 00 0C 00 00 00 05 00 00 00 00 00 00 00 00 00 00 00 13 56 57 6F");
}

TEST(Packets, SequenceNumbersRunThroughTheLowByteAndWrap)
{
  device d;
  d.job->siId = 255;
  bytes out = d.printed([&] {
    send_page_header_packet(d.job, 1, 1, 0);
    send_page_header_packet(d.job, 1, 1, 0);
  });
  EXPECT_EQ(out, page_header_packet(1, 1, 0, 0xFF) + page_header_packet(1, 1, 0, 0x00));
}

TEST(Packets, LongPagesKeepTheLow16BitsInTheHeaderAndFullLengthsInTheBitmap)
{
  device d;
  bytes rows(3 * 70000, 0);
  rows[5] = 0x80;
  bytes out = d.printed([&] {
    send_page_header_packet(d.job, 3, 70000, 0);
    printbitmap(d.job, rows.data(), 3, 70000);
  });
  EXPECT_STREAM(out, page_header_packet(3, 70000 & 0xFFFF, 0, 0) + bitmap_packet(rows, 0));
}

TEST(Packets, DensityCarriesItsLowByte)
{
  device d;
  EXPECT_EQ(d.printed([&] { send_density_packet(d.job, 300); }), density_packet(0x2C));
}

TEST(Packets, PaperCodesAndPageFlags)
{
  struct row {
    int papertype, postprintaction;
    uint8_t code, flags;
  };
  for (row r : {row{0, 2, 0x00, 0x00}, row{0, 1, 0x00, 0x04}, row{1, 1, 0x02, 0x02}, row{2, 3, 0x01, 0x02},
                row{3, 1, 0x00, 0x01}, row{5, 1, 0x00, 0x00}, row{-1, 1, 0x00, 0x00}}) {
    dev_mode s{};
    s.papertype = r.papertype;
    s.postprintaction = r.postprintaction;
    EXPECT_EQ(paper_code(r.papertype), r.code) << "papertype " << r.papertype;
    EXPECT_EQ(page_flags(s), r.flags) << "papertype " << r.papertype << " postprintaction " << r.postprintaction;
  }
}

TEST(Packets, PaperSavingTestsOnlyWholeBytesInsideTheWidth)
{
  struct row {
    unsigned width, bpl, rows;
    std::vector<std::pair<unsigned, unsigned>> dots; // byte, row
    uint64_t kept;
  };
  for (const row &r : {row{16, 2, 5, {{0, 1}}, 2}, row{16, 2, 5, {{1, 4}}, 5}, row{15, 2, 5, {{1, 4}, {0, 2}}, 3},
                       row{16, 4, 5, {{3, 4}}, 0}, row{7, 1, 3, {{0, 2}}, 0}, row{8, 1, 3, {}, 0}}) {
    bytes page(static_cast<size_t>(r.bpl) * r.rows, 0);
    for (auto [b, y] : r.dots)
      page[y * r.bpl + b] = 1;
    uint64_t size = page.size(), count = r.rows;
    DoSavePaper(page.data(), &size, r.width, &count);
    EXPECT_EQ(count, r.kept) << "width " << r.width;
    EXPECT_EQ(size, r.kept * r.bpl);
    DoSavePaper(page.data(), &size, r.width, &count); // again: nothing more goes
    EXPECT_EQ(count, r.kept);
  }
}

TEST(Packets, MillimetresToDotRowsTruncateInSinglePrecision)
{
  const float dot = static_cast<float>(25.4 / 203);
  EXPECT_EQ(mm_to_dots(10, dot), 79);
  EXPECT_EQ(mm_to_dots(-1, dot), -7);
  EXPECT_EQ(mm_to_dots(0, dot), 0);
  EXPECT_EQ(mm_to_dots(10, static_cast<float>(254.0 / 300 / 10.0)), 118);
  EXPECT_EQ(mm_to_dots(2147483647, dot), 2147483647); // saturates instead of overflowing
  EXPECT_EQ(mm_to_dots(-2147483647 - 1, dot), -2147483647 - 1);
}

/* ---------- printer operations ---------- */

struct op_case {
  const char *name;
  std::function<void(dev_mode &)> setup;
  std::function<int(ovik_printer_dev *)> op;
  int code;
  const char *expected;
};

void PrintTo(const op_case &c, std::ostream *os)
{
  *os << c.name;
}

class Operations : public ::testing::TestWithParam<op_case> {};

TEST_P(Operations, SendTheirCommandOrNothing)
{
  device d(0x10201, 0x1001, GetParam().setup);
  int code = 0;
  bytes out = d.printed([&] { code = GetParam().op(d.job); });
  EXPECT_EQ(code, GetParam().code);
  EXPECT_EQ(hex(out), hex(hex_bytes(GetParam().expected)));
}

auto with(std::function<void(dev_mode &)> f)
{
  return f;
}
const auto nothing = with([](dev_mode &) {});

INSTANTIATE_TEST_SUITE_P(
    Print, Operations,
    ::testing::Values(
        op_case{"FullCut", with([](dev_mode &s) { s.finalcut = 2; }), print_cut_page, 0, "1D 56 41 00"},
        op_case{"PartialCut", with([](dev_mode &s) { s.finalcut = 1; }), print_cut_page, 0, "1D 56 42 00"},
        op_case{"FullCutByLetter", with([](dev_mode &s) { s.finalcut = 67; }), print_cut_page, 0, "1D 56 41 00"},
        op_case{"PartialCutByLetter", with([](dev_mode &s) { s.finalcut = 66; }), print_cut_page, 0, "1D 56 42 00"},
        op_case{"NoCutByDefault", nothing, print_cut_page, -1, ""},
        op_case{"UnknownCut", with([](dev_mode &s) { s.finalcut = 3; }), print_cut_page, -1, ""},
        op_case{"CutWithoutTheCommandSet", with([](dev_mode &s) {
                  s.finalcut = 2;
                  s.type = 0x10000;
                }),
                print_cut_page, -3, ""},
        op_case{"NextTicket", nothing, print_position_next_ticket, 0, "0C"},
        op_case{"NextTicketWithoutTheCommandSet", with([](dev_mode &s) { s.type = 0x2; }), print_position_next_ticket,
                -3, ""},
        op_case{"SpeedLowByte", with([](dev_mode &s) { s.speed = 300; }), printer_set_speed, 0, "1D 45 2C"},
        op_case{"Density", with([](dev_mode &s) { s.density = 5; }), printer_set_density, 0, "1D 28 4B 02 00 31 05"},
        op_case{"LineSpacing", with([](dev_mode &s) { s.linespacing = 32; }), printer_set_linespacing, 0, "1B 33 20"},
        op_case{"Beep63Times", with([](dev_mode &s) {
                  s.beeptimes = 63;
                  s.beepduration = 2;
                  s.beepinterval = 1;
                }),
                print_beep, 0, "1B 28 41 05 00 61 64 3F 02 01"},
        op_case{"Beep64TimesIsRefused", with([](dev_mode &s) { s.beeptimes = 64; }), print_beep, -1, ""},
        op_case{"ExternalBeepThreePulses", with([](dev_mode &s) {
                  s.externalbeepduration = 2;
                  s.externalbeepinterval = 1;
                  s.externalbeeptimes = 3;
                }),
                print_external_beep, 0, "1B 70 00 64 64 1B 70 00 64 64 1B 70 00 64 64"},
        op_case{"ExternalBeepOnTimeWraps", with([](dev_mode &s) { s.externalbeepduration = 6; }), print_external_beep,
                0, "1B 70 00 2C 2C"},
        op_case{"ExternalBeepOffTimeKept", with([](dev_mode &s) {
                  s.externalbeepduration = 1;
                  s.externalbeepinterval = 3;
                }),
                print_external_beep, 0, "1B 70 00 32 96"},
        op_case{"ExternalBeepNoPulses", with([](dev_mode &s) { s.externalbeeptimes = 0; }), print_external_beep, 0, ""},
        op_case{"ExternalBeepHugeSettingsStayDefined", with([](dev_mode &s) {
                  s.externalbeepduration = 2147483647;
                  s.externalbeepinterval = -2147483647 - 1;
                }),
                print_external_beep, 0, "1B 70 00 CE CE"},
        op_case{"DrawerOne", nothing, [](ovik_printer_dev *d) { return print_open_drawer(d, 0); }, 0, "1B 70 00 50 50"},
        op_case{"DrawerTwo", nothing, [](ovik_printer_dev *d) { return print_open_drawer(d, 1); }, 0, "1B 70 01 50 50"},
        op_case{"NoThirdDrawer", nothing, [](ovik_printer_dev *d) { return print_open_drawer(d, 2); }, -1, ""},
        op_case{"LogoOne", with([](dev_mode &s) { s.logoindex = 1; }), print_logo, 0,
                "1D 28 4C 06 00 30 45 30 30 01 01 1B 61 00"},
        op_case{"LowestLogo", with([](dev_mode &s) { s.logoindex = -15; }), print_logo, 0,
                "1D 28 4C 06 00 30 45 30 20 01 01 1B 61 00"},
        op_case{"Logo80IsRefusedWhole", with([](dev_mode &s) { s.logoindex = 80; }), print_logo, -1, ""},
        op_case{"LogoBeyondAByteIsRefused", with([](dev_mode &s) { s.logoindex = 257; }), print_logo, -1, ""},
        op_case{"AlignCentre", with([](dev_mode &s) { s.logoalign = 2; }), printer_set_align, 0, "1B 61 01"},
        op_case{"AlignRight", with([](dev_mode &s) { s.logoalign = 3; }), printer_set_align, 0, "1B 61 02"},
        op_case{"NoAlignByDefault", nothing, printer_set_align, -1, ""}),
    [](const ::testing::TestParamInfo<op_case> &info) { return info.param.name; });

struct blank_case {
  const char *name;
  int rows;
  int save;
  uint32_t model;
  bytes expected;
};

void PrintTo(const blank_case &c, std::ostream *os)
{
  *os << c.name;
}

class BlankStrips : public ::testing::TestWithParam<blank_case> {};

TEST_P(BlankStrips, GoOutInChunksOfAtMost255Rows)
{
  device d(0x10201, GetParam().model, [](dev_mode &s) { s.papersavemode = GetParam().save; });
  int code = -99;
  bytes out = d.printed([&] { code = print_blank(d.job, GetParam().rows); });
  EXPECT_EQ(code, 0);
  EXPECT_STREAM(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Print, BlankStrips,
    ::testing::Values(blank_case{"SixHundredRows", 600, 0, 0x1001,
                                 raster_blank(255) + raster_blank(255) + raster_blank(90)},
                      blank_case{"OneChunk", 255, 0, 0x1001, raster_blank(255)},
                      blank_case{"TwoChunks", 256, 0, 0x1001, raster_blank(255) + raster_blank(1)},
                      blank_case{"FeedStep", 600, 0, 0x1955, hex_bytes("1B 4A FF 1B 4A FF 1B 4A 5A")},
                      blank_case{"FeedStepOneRow", 1, 0, 0x1956, hex_bytes("1B 4A 01")},
                      blank_case{"ThreeQuartersSaved", 3, 3, 0x1001, raster_blank(1)},
                      blank_case{"OneRowStaysOne", 1, 3, 0x1001, raster_blank(1)},
                      blank_case{"HalfSaved", 79, 2, 0x1001, raster_blank(40)},
                      blank_case{"FourQuartersMeansNone", 79, 4, 0x1001, raster_blank(79)},
                      blank_case{"NegativeSaveMeansNone", 79, -1, 0x1001, raster_blank(79)},
                      blank_case{"Zero", 0, 0, 0x1001, {}}, blank_case{"Negative", -7, 0, 0x1001, {}}),
    [](const ::testing::TestParamInfo<blank_case> &info) { return info.param.name; });

TEST(BlankStrips, WithoutTheCommandSetNothingIsSentAndTheJobGoesOn)
{
  device d(0x30002, 0x3102);
  int code = 0;
  bytes out = d.printed([&] { code = print_blank(d.job, 600); });
  EXPECT_EQ(code, -3);
  EXPECT_TRUE(out.empty()) << hex(out);
}

TEST(BlankStrips, TheTraceShowsTheCountAndTheSaving)
{
  temp_dir dir;
  device d(0x10201, 0x1001, [](dev_mode &s) { s.papersavemode = 2; });
  FILE *trace = fopen(dir.file("trace").c_str(), "wb");
  d.trace_to(trace);
  print_blank(d.job, 0);
  print_blank(d.job, 2);
  d.trace_to(nullptr);
  fclose(trace);
  EXPECT_EQ(read_text(dir.file("trace")),
            "+print_blank(blank_counter:0, save percent 2/4) start.\n"
            "+print_blank(blank_counter:2, save percent 2/4) start.\n"
            "+write_bytes start(data_size:8):\n0x1d 0x76 0x30 0x0 0x1 0x0 0x1 0x0 \n-write_bytes finished(writed:1).\n"
            "+write_bytes start(data_size:1):\n0x0 \n-write_bytes finished(writed:1).\n"
            "-print_blank finished(0) success.\n");
}

/* ---------- document and page sequencing ---------- */

TEST(Sequencing, DefaultSettingsStartWithTheTwoPacketsAndEndWithNothing)
{
  device d;
  bytes start = d.printed([&] { start_doc(d.job); });
  EXPECT_EQ(start, default_start());
  EXPECT_EQ(start.size(), 47u);
  d.settings().density = 7;
  EXPECT_EQ(d.printed([&] { start_doc(d.job); }).size(), 72u);
  d.settings().density = -1;
  EXPECT_TRUE(d.printed([&] { end_doc(d.job); }).empty());
}

TEST(Sequencing, SpeedAndLineSpacingAreSentAtStartWhenSet)
{
  device d;
  d.settings().speed = 3;
  d.settings().linespacing = 30;
  EXPECT_EQ(d.printed([&] { start_doc(d.job); }), default_start() + hex_bytes("1D 45 03 1B 33 1E"));
}

TEST(Sequencing, AForwardFeedIsSentUnconvertedUnlessMinusOne)
{
  device d;
  d.settings().fwdfeed = 3;
  EXPECT_EQ(d.printed([&] { end_doc(d.job); }), raster_blank(3));
  d.settings().fwdfeed = -1;
  EXPECT_TRUE(d.printed([&] { end_doc(d.job); }).empty());
}

TEST(Sequencing, PageEndCutsOnlyForPostPrintActionThree)
{
  device d;
  d.settings().finalcut = 2;
  d.settings().cutdistance = 10;
  d.state().lastStripBlanksHeight = 5;
  d.settings().postprintaction = 2;
  EXPECT_TRUE(d.printed([&] { end_page(d.job); }).empty());
  EXPECT_EQ(d.state().lastStripBlanksHeight, 5u); // pagemode off, ticketmode off: left alone
  d.settings().postprintaction = 3;
  EXPECT_EQ(d.printed([&] { end_page(d.job); }), raster_blank(79) + full_cut);
  d.settings().ticketmode = true;
  d.printed([&] { end_page(d.job); });
  EXPECT_EQ(d.state().lastStripBlanksHeight, 0u);
  d.state().lastStripBlanksHeight = 9;
  start_page(d.job);
  EXPECT_EQ(d.state().lastStripBlanksHeight, 0u);
}

/* ---------- dot-line raster output ---------- */

bytes raster_header(uint8_t m, unsigned x, unsigned y)
{
  return {0x1D,
          0x76,
          0x30,
          m,
          static_cast<uint8_t>(x),
          static_cast<uint8_t>(x >> 8),
          static_cast<uint8_t>(y),
          static_cast<uint8_t>(y >> 8)};
}

/* rows x width bytes, each row given by f(row, byte). */
bytes image(unsigned width, unsigned rows, const std::function<uint8_t(unsigned, unsigned)> &f)
{
  bytes b;
  for (unsigned r = 0; r < rows; r++)
    for (unsigned x = 0; x < width; x++)
      b.push_back(f(r, x));
  return b;
}

/* Bytes [from, from+w) of every row. */
bytes columns(const bytes &img, unsigned width, unsigned row0, unsigned rows, unsigned from, unsigned w)
{
  bytes b;
  for (unsigned r = row0; r < row0 + rows; r++)
    b.insert(b.end(), img.begin() + r * width + from, img.begin() + r * width + from + w);
  return b;
}

bytes dotline(device &d, const bytes &img, int width, int rows)
{
  return d.printed([&] { print_dotline(d.job, img.data(), width, rows); });
}

TEST(DotLine, ThirtyRowsGoOutAsSectionsOf14And14And2)
{
  device d;
  bytes img = image(72, 30, [](unsigned r, unsigned x) { return static_cast<uint8_t>(r + x + 1); });
  EXPECT_STREAM(dotline(d, img, 72, 30), raster_header(0, 72, 14) + columns(img, 72, 0, 14, 0, 72) +
                                             raster_header(0, 72, 14) + columns(img, 72, 14, 14, 0, 72) +
                                             raster_header(0, 72, 2) + columns(img, 72, 28, 2, 0, 72));
}

TEST(DotLine, BlankBytesOnTheRightAreLeftOut)
{
  device d;
  bytes img = image(72, 5, [](unsigned r, unsigned x) { return x < 62 ? static_cast<uint8_t>(r + 1) : 0; });
  EXPECT_STREAM(dotline(d, img, 72, 5), raster_header(0, 62, 5) + columns(img, 72, 0, 5, 0, 62));
}

TEST(DotLine, APrinterThatShiftsSkipsTheCommonLeftBlankBytes)
{
  device d;
  d.settings().issupportshiftline = true;
  bytes img = image(72, 5, [](unsigned r, unsigned x) { return x >= 3 && x < 62 ? static_cast<uint8_t>(r + 1) : 0; });
  EXPECT_STREAM(dotline(d, img, 72, 5),
                hex_bytes("1D 4C 03 00") + raster_header(0, 59, 5) + columns(img, 72, 0, 5, 3, 59));
}

TEST(DotLine, ThePrinterWidthCutsRowsThatHoldDotsFurtherRight)
{
  // data_buf comes from printer_width 72, as the device is built, then the width narrows.
  device d;
  d.settings().printer_width = 40;
  bytes img = image(72, 3, [](unsigned, unsigned) { return uint8_t{0xFF}; });
  bytes out = d.printed([&] { print_dotline(d.job, img.data(), 72, 3); });
  EXPECT_STREAM(out, raster_header(0, 40, 3) + columns(img, 72, 0, 3, 0, 40));
}

TEST(DotLine, AnAllBlankSectionIsAHeaderOfWidthZero)
{
  device d;
  EXPECT_STREAM(dotline(d, bytes(72 * 4, 0), 72, 4), raster_header(0, 0, 4));
  d.settings().issupportshiftline = true;
  EXPECT_STREAM(dotline(d, bytes(72 * 4, 0), 72, 4), hex_bytes("1D 4C 00 00") + raster_header(0, 0, 4));
}

TEST(DotLine, ALeftSkipEqualToTheRightEdgeKeepsItsMarginAndSendsWidthZero)
{
  // Three blank bytes on the left of every row, and a printer three bytes wide.
  device d;
  d.settings().issupportshiftline = true;
  d.settings().printer_width = 3;
  bytes img = image(72, 2, [](unsigned, unsigned x) { return static_cast<uint8_t>(x >= 3); });
  EXPECT_STREAM(dotline(d, img, 72, 2), hex_bytes("1D 4C 03 00") + raster_header(0, 0, 2));
}

TEST(DotLine, FeedStepModelsSendWholeRowsAndAZeroFeedAfterEachSection)
{
  device d(0x550001, 0x1955);
  bytes img = image(80, 16, [](unsigned r, unsigned x) { return x < 10 ? static_cast<uint8_t>(r + 1) : 0; });
  d.settings().max_render_height = 14;
  // Rows wider than the printer: its first 72 bytes, blank or not; sections
  // of 12 rows, as many 80-byte rows as the 1028-byte staging buffer holds.
  EXPECT_STREAM(dotline(d, img, 80, 16), raster_header(0, 72, 12) + columns(img, 80, 0, 12, 0, 72) +
                                             hex_bytes("1B 4A 00") + raster_header(0, 72, 4) +
                                             columns(img, 80, 12, 4, 0, 72) + hex_bytes("1B 4A 00"));
  bytes narrow = image(72, 2, [](unsigned, unsigned x) { return static_cast<uint8_t>(x == 0); });
  EXPECT_STREAM(dotline(d, narrow, 72, 2), raster_header(0, 72, 2) + narrow + hex_bytes("1B 4A 00"));
}

TEST(DotLine, AFeedStepShiftNeverCopiesPastTheRow)
{
  device d(0x550001, 0x1955);
  d.settings().issupportshiftline = true;
  d.settings().printer_width = 8;
  bytes img = image(10, 2, [](unsigned r, unsigned x) { return x >= 4 ? static_cast<uint8_t>(r * 16 + x) : 0; });
  EXPECT_STREAM(dotline(d, img, 10, 2), hex_bytes("1D 4C 04 00") + raster_header(0, 6, 2) +
                                            columns(img, 10, 0, 2, 4, 6) + hex_bytes("1B 4A 00"));
}

TEST(DotLine, CompressedRowsCarryMode0x20AndPackBits)
{
  device d;
  d.settings().compression = 1;
  bytes img = hex_bytes("01 01 02 03 AA BB BB BB 01 02 03 03 00 00 00 00");
  EXPECT_STREAM(dotline(d, img, 4, 4),
                raster_header(0x20, 4, 4) + hex_bytes("FF 01 01 02 03 00 AA FE BB 03 01 02 03 03 FD 00"));
  // Trimmed rows are packed from the staging buffer.
  bytes trimmed = hex_bytes("07 07 00 00 05 06 00 00");
  EXPECT_STREAM(dotline(d, trimmed, 4, 2), raster_header(0x20, 2, 2) + hex_bytes("FF 07 01 05 06"));
}

TEST(DotLine, NoRowsSendNothing)
{
  device d;
  EXPECT_TRUE(dotline(d, bytes(72, 1), 72, 0).empty());
  EXPECT_TRUE(dotline(d, bytes(72, 1), 72, -3).empty());
}

TEST(DotLine, ABlankStripOwedIsForgottenWhateverItsValue)
{
  device d;
  for (uint32_t owed : {12u, 0x80000000u, 0xFFFFFFFFu}) {
    d.state().lastStripBlanksHeight = owed;
    dotline(d, bytes(72, 1), 72, 1);
    EXPECT_EQ(d.state().lastStripBlanksHeight, 0u) << owed;
  }
}

/* Dot-line output that cannot go on: its result, its text, and its trace line. */
TEST(DotLine, AStagingBufferSmallerThanARowOrARefusedHeaderEndsTheJob)
{
  struct row {
    uint32_t type, model;
    int32_t printer_width, max_render_height;
    bool whole_rows; /* the row has dots to its end, or only in its first byte */
    const char *text;
  };
  for (const row &r : {row{0x10201, 0x1001, 1, 1, true, "kel databufsize is too small!/n"},
                       row{0x30002, 0x3102, 72, 14, true,
                           "error(-3):Printer model type is error. Please use the printer with expected type."},
                       row{0x30002, 0x3102, 72, 14, false, "Error in print_dotline"}}) {
    temp_dir dir;
    device d(r.type, r.model, [&](dev_mode &s) {
      s.printer_width = r.printer_width;
      s.max_render_height = r.max_render_height;
    });
    FILE *trace = fopen(dir.file("trace").c_str(), "wb");
    d.trace_to(trace);
    bytes img(72, r.whole_rows ? 1 : 0);
    img[0] = 1;
    bytes out = d.printed([&] { EXPECT_EQ(print_dotline(d.job, img.data(), 72, 1), OVIK_JOB_ERR_DOTLINE) << r.text; });
    d.trace_to(nullptr);
    fclose(trace);
    EXPECT_STREAM(out, bytes{});
    EXPECT_EQ(std::string(ovik_job_error(d.job)), r.text);
    EXPECT_TRUE(contains(read_text(dir.file("trace")), std::string("ERROR: ") + r.text + "\n")) << r.text;
  }
}

/* ---------- PackBits ---------- */

TEST(PackBits, TheExamplesOfTheRowCoding)
{
  struct row {
    const char *in, *out;
  };
  for (row r : {row{"01 01 02 03", "FF 01 01 02 03"}, row{"AA BB BB BB CC DD", "00 AA FE BB 01 CC DD"},
                row{"01 02 03 03", "03 01 02 03 03"}, row{"01 02 02 03", "00 01 FF 02 00 03"},
                row{"00 00 00 00 00 00 00 00", "F9 00"}, row{"5A", "00 5A"}, row{"AA AA", "FF AA"},
                row{"01 02 03 03 03", "01 01 02 FE 03"}}) {
    bytes in = hex_bytes(r.in), out(2 * in.size() + 8);
    int n = 0;
    EXPECT_EQ(tiff_compression(in.data(), static_cast<uint32_t>(in.size()), 1, out.data(), &n), 0);
    out.resize(static_cast<size_t>(n));
    EXPECT_EQ(hex(out), r.out) << r.in;
  }
}

TEST(PackBits, LongRunsAndLiteralsSplitAt128)
{
  bytes same(129, 0x42), out(300);
  int n = 0;
  tiff_compression(same.data(), 129, 1, out.data(), &n);
  EXPECT_EQ(hex(bytes(out.begin(), out.begin() + n)), "81 42 00 42");
  bytes distinct(129);
  for (int i = 0; i < 129; i++)
    distinct[i] = static_cast<uint8_t>(i);
  tiff_compression(distinct.data(), 129, 1, out.data(), &n);
  bytes expected = {0x7F};
  expected.insert(expected.end(), distinct.begin(), distinct.begin() + 128);
  expected = expected + bytes{0x00, 128};
  EXPECT_EQ(bytes(out.begin(), out.begin() + n), expected);
}

TEST(PackBits, RowsAreCodedEachOnItsOwn)
{
  bytes two_rows = hex_bytes("07 07 07 07"), out(16);
  int n = 0;
  tiff_compression(two_rows.data(), 2, 2, out.data(), &n);
  EXPECT_EQ(hex(bytes(out.begin(), out.begin() + n)), "FF 07 FF 07");
}

} // namespace
