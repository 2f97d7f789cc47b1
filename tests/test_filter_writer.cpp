// The printer stream writer and its trace text, the status messages and the
// page header dump.
#include <gtest/gtest.h>

#include "filter_harness.h"
#include "ovik_trace.h"
#include "util.h"

using namespace harness;

namespace {

/* Runs fn with the trace open on a fresh file; returns the trace text. */
std::string traced(const std::function<void()> &fn, bytes *printed = nullptr)
{
  temp_dir dir;
  ovik_trace_init(dir.file("trace").c_str());
  bytes out = capture_stdout(fn);
  ovik_trace_exit();
  if (printed)
    *printed = out;
  return read_text(dir.file("trace"));
}

TEST(Writer, ABlockGoesToThePrinterAndItsHexToTheTrace)
{
  bytes out;
  std::string trace = traced([] { write_bytes("\x1b\x40\x00", 3); }, &out);
  EXPECT_EQ(out, hex_bytes("1B 40 00"));
  EXPECT_EQ(trace, "+write_bytes start(data_size:3):\n0x1b 0x40 0x0 \n-write_bytes finished(writed:1).\n");
}

TEST(Writer, AnEmptyBlockWritesNothingAndTracesAnEmptyLine)
{
  bytes out;
  std::string trace = traced([] { write_bytes("", 0); }, &out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(trace, "+write_bytes start(data_size:0):\n\n-write_bytes finished(writed:0).\n");
}

TEST(Writer, EveryByteValueIsTracedWithoutLeadingZeros)
{
  bytes all(256);
  for (int i = 0; i < 256; i++)
    all[i] = static_cast<uint8_t>(i);
  std::string trace = traced([&] { write_bytes(all.data(), 256); });
  std::string hexline;
  char one[8];
  for (int i = 0; i < 256; i++) {
    snprintf(one, sizeof one, "0x%x ", i);
    hexline += one;
  }
  EXPECT_EQ(trace, "+write_bytes start(data_size:256):\n" + hexline + "\n-write_bytes finished(writed:1).\n");
}

TEST(Writer, ALargeBlockIsTracedAsOneLine)
{
  bytes block(200000, 0xA5);
  bytes out;
  std::string trace = traced([&] { write_bytes(block.data(), static_cast<int>(block.size())); }, &out);
  EXPECT_EQ(out, block);
  std::vector<std::string> l = lines(trace);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[1].size(), block.size() * 5);
}

TEST(Writer, PiecesAreTracedAndCountedAsOneBlock)
{
  bytes out;
  std::string trace = traced(
      [] {
        const out_piece pieces[] = {{"\x1b\x1a", 2}, {"", 0}, {"\xff", 1}};
        write_bytes_parts(pieces, 3);
      },
      &out);
  EXPECT_EQ(out, hex_bytes("1B 1A FF"));
  EXPECT_EQ(trace, "+write_bytes start(data_size:3):\n0x1b 0x1a 0xff \n-write_bytes finished(writed:1).\n");
}

TEST(Writer, TextBytesAboveSevenBitsAreTracedSignExtended)
{
  bytes out;
  std::string trace = traced([] { write_string("A\xc4"); }, &out);
  EXPECT_EQ(out, hex_bytes("41 C4"));
  EXPECT_EQ(trace, "+write_string start(data_size:2).\n\tText:A\xc4.\n\tHex:0x41 0xffffffc4 \n"
                   "-write_string finished(writed:1).\n");
}

TEST(Writer, WithoutTraceThePrinterGetsTheSameBytes)
{
  ovik_trace_exit();
  EXPECT_EQ(capture_stdout([] { write_bytes("\x1b\x40", 2); }), hex_bytes("1B 40"));
}

struct level_case {
  int level;
  const char *trace_line;
  const char *error_line;
};

class MessageLevels : public ::testing::TestWithParam<level_case> {};

TEST_P(MessageLevels, EachLevelHasItsTraceAndSpoolerLine)
{
  std::string err;
  std::string trace = traced([&] { err = capture_stderr([&] { msg(GetParam().level, "hello"); }); });
  EXPECT_EQ(trace, GetParam().trace_line);
  EXPECT_EQ(err, GetParam().error_line);
}

INSTANTIATE_TEST_SUITE_P(Util, MessageLevels,
                         ::testing::Values(level_case{MSG_INFO, "INFO: hello\n", "INFO: hello \n"},
                                           level_case{MSG_DUMP, "DEBUG: hello\n", "DEBUG: hello \n"},
                                           level_case{MSG_DEBUG, "DEBUG: hello\n",
                                                      "DEBUG: hello (cups:successful-ok)\n"},
                                           level_case{65, "", ""}, level_case{3, "", ""}));

TEST(Messages, OutputLevelPutsTheTextOnThePrinterStreamOnly)
{
  bytes out;
  std::string err = capture_stderr([&] { out = capture_stdout([] { msg(MSG_OUTPUT, "AB"); }); });
  EXPECT_EQ(out, hex_bytes("41 42"));
  EXPECT_EQ(err, "");
}

TEST(Messages, ACodeIsReportedWithItsEnglishText)
{
  std::string err = capture_stderr([] { EXPECT_EQ(msgerrno(MSG_DEBUG, -9), -9); });
  EXPECT_EQ(err, "DEBUG: error(-9):There is not enough memory. Please add available memory. (cups:successful-ok)\n");
  EXPECT_EQ(capture_stderr([] { EXPECT_EQ(msgerrno(MSG_DEBUG, 0), 0); }), "");
  EXPECT_EQ(capture_stderr([] { EXPECT_EQ(msgerrno2(MSG_ERROR, 0, "ctx"), 0); }), "");
}

TEST(Messages, AnOverlongLineIsCutAt254Bytes)
{
  std::string context(300, 'x');
  std::string err = capture_stderr([&] { msgerrno2(MSG_DUMP, -1, context.c_str()); });
  EXPECT_EQ(err, "DEBUG: " + std::string(254, 'x') + " \n");
}

TEST(MessagesDeathTest, AnErrorLevelCodeEndsTheJobWithStatusOne)
{
  EXPECT_EXIT(msgerrno2(MSG_ERROR, -8, "ERROR: failed init printer device object."), ::testing::ExitedWithCode(1),
              "^ERROR:Raster\\(ERROR: failed init printer device object. error\\(-8\\):Unable to identify the "
              "printer model. Please correct the printer model..\n, cups:successful-ok\\)\n$");
  EXPECT_EXIT(error("cupsRasterOpen failed"), ::testing::ExitedWithCode(1),
              "^ERROR:Raster\\(cupsRasterOpen failed, cups:successful-ok\\)\n$");
}

TEST(HeaderDump, UnterminatedMediaTextsPrintAtMost64Bytes)
{
  cups_page_header_t h;
  std::memset(&h, 'M', sizeof h); // every text field full, no terminator anywhere
  std::string err = capture_stderr([&] { dump_header(h); });
  std::vector<std::string> l = lines(err);
  ASSERT_EQ(l.size(), 40u);
  EXPECT_EQ(l[12], "INFO: MediaClass:" + std::string(64, 'M'));
  EXPECT_EQ(l[13], "INFO: MediaColor:" + std::string(64, 'M'));
  EXPECT_EQ(l[15], "INFO: MediaType:" + std::string(64, 'M'));
  EXPECT_EQ(l[22], "INFO: OutputType:" + std::string(64, 'M'));
}

TEST(HeaderDump, TwoNumbersOfOneLineStandSideBySide)
{
  cups_page_header_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.cupsHeight = 42;
  h.Collate = CUPS_TRUE;
  std::string err = capture_stderr([&] { dump_header(h); });
  std::vector<std::string> l = lines(err);
  ASSERT_EQ(l.size(), 40u);
  EXPECT_EQ(l[2], "INFO: Collate:TRUE");
  EXPECT_EQ(l[5], "INFO: HWResolution:203203");
  EXPECT_EQ(l[33], "INFO: cupsHeight:42");
  EXPECT_EQ(l[39], "INFO: cupsHeight:42");
}

TEST(Crc, TheStandardCrc32AndThePacketCrc)
{
  const uint8_t digits[] = "123456789";
  EXPECT_EQ(CRC32(0, digits, 9), 0xCBF43926u);
  EXPECT_EQ(CRC32(0, digits, 0), 0u);
  EXPECT_EQ(CRC32(CRC32(0, digits, 4), digits + 4, 5), 0xCBF43926u);
  // The packets' CRC starts from an all-ones previous value.
  EXPECT_EQ(crc32(0xFFFFFFFFul, digits, 9), 0xD202D277u);
  EXPECT_EQ(crc32(0xFFFFFFFFul, reinterpret_cast<const Bytef *>("abc"), 3), 0x359A672Fu);
}

} // namespace
