// The printer stream writer and its trace text, a printer stream that fails,
// the status messages, the fatal error line and the page header dump.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "filter_harness.h"
#include "spooler.h"

using namespace harness;

namespace {

/* Runs fn on a job traced into a fresh file; returns the trace text. */
std::string traced(const std::function<void(device &)> &fn, bytes *printed = nullptr)
{
  temp_dir dir;
  device d;
  FILE *trace = fopen(dir.file("trace").c_str(), "wb");
  d.trace_to(trace);
  bytes out = d.printed([&] { fn(d); });
  d.trace_to(nullptr);
  fclose(trace);
  if (printed)
    *printed = out;
  return read_text(dir.file("trace"));
}

TEST(Writer, ABlockGoesToThePrinterAndItsHexToTheTrace)
{
  bytes out;
  std::string trace = traced([](device &d) { write_bytes(d.job->out, "\x1b\x40\x00", 3); }, &out);
  EXPECT_EQ(out, hex_bytes("1B 40 00"));
  EXPECT_EQ(trace, "+write_bytes start(data_size:3):\n0x1b 0x40 0x0 \n-write_bytes finished(writed:1).\n");
}

TEST(Writer, AnEmptyBlockWritesNothingAndTracesAnEmptyLine)
{
  bytes out;
  std::string trace = traced([](device &d) { write_bytes(d.job->out, "", 0); }, &out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(trace, "+write_bytes start(data_size:0):\n\n-write_bytes finished(writed:0).\n");
}

TEST(Writer, EveryByteValueIsTracedWithoutLeadingZeros)
{
  bytes all(256);
  for (int i = 0; i < 256; i++)
    all[i] = static_cast<uint8_t>(i);
  std::string trace = traced([&](device &d) { write_bytes(d.job->out, all.data(), 256); });
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
  std::string trace =
      traced([&](device &d) { write_bytes(d.job->out, block.data(), static_cast<int>(block.size())); }, &out);
  EXPECT_EQ(out, block);
  std::vector<std::string> l = lines(trace);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[1].size(), block.size() * 5);
}

TEST(Writer, PiecesAreTracedAndCountedAsOneBlock)
{
  bytes out;
  std::string trace = traced(
      [](device &d) {
        const out_piece pieces[] = {{"\x1b\x1a", 2}, {"", 0}, {"\xff", 1}};
        write_bytes_parts(d.job->out, pieces, 3);
      },
      &out);
  EXPECT_EQ(out, hex_bytes("1B 1A FF"));
  EXPECT_EQ(trace, "+write_bytes start(data_size:3):\n0x1b 0x1a 0xff \n-write_bytes finished(writed:1).\n");
}

TEST(Writer, TextBytesAboveSevenBitsAreTracedSignExtended)
{
  bytes out;
  std::string trace = traced([](device &d) { write_string(d.job->out, "A\xc4"); }, &out);
  EXPECT_EQ(out, hex_bytes("41 C4"));
  EXPECT_EQ(trace, "+write_string start(data_size:2).\n\tText:A\xc4.\n\tHex:0x41 0xffffffc4 \n"
                   "-write_string finished(writed:1).\n");
}

TEST(Writer, WithoutTraceThePrinterGetsTheSameBytes)
{
  device d;
  EXPECT_EQ(d.printed([&] { write_bytes(d.job->out, "\x1b\x40", 2); }), hex_bytes("1B 40"));
}

TEST(Writer, AStreamThatFailsMidJobTakesNothingMoreAndTheJobEndsWithTheReason)
{
  // The printer takes the document start and half a page: the page copy
  // reports the failure, and nothing after it reaches the printer.
  device d;
  ASSERT_EQ(ovik_job_begin(d.job), 0);
  size_t started = d.out.size();
  d.fail_after = started + 100;
  page_spec p;
  p.height = 10;
  p.copies = 3;
  p.dot(0, 0);
  ovik_page page = {p.width, p.height, p.bpl(), 1, p.copies};
  ASSERT_EQ(ovik_page_start(d.job, &page), 0);
  ASSERT_EQ(ovik_page_add_rows(d.job, p.data().data(), p.height), 0);
  EXPECT_EQ(ovik_page_end(d.job), ENOSPC);
  // The page header packet and the bitmap packet's head went through, its rows did not.
  bytes whole = default_start() + page_copy(p, 1, 0, 0);
  EXPECT_STREAM(d.out, bytes(whole.begin(), whole.begin() + static_cast<long>(started + 32 + 26)));
  EXPECT_EQ(std::string(ovik_job_error(d.job)), "print data could not be written: No space left on device");
  EXPECT_EQ(ovik_job_end(d.job), ENOSPC);
  EXPECT_EQ(d.out.size(), started + 32 + 26);
}

TEST(Writer, AFailedFlushIsAFailedWrite)
{
  device d;
  d.job->io.flush = [](void *) { return EIO; };
  EXPECT_EQ(ovik_job_begin(d.job), EIO);
  EXPECT_EQ(std::string(ovik_job_error(d.job)), "print data could not be written: Input/output error");
}

struct level_case {
  int level;
  const char *trace_line;
  bool reported;
};

class MessageLevels : public ::testing::TestWithParam<level_case> {};

TEST_P(MessageLevels, EachLevelHasItsTraceLineAndReachesTheFrontEnd)
{
  std::vector<std::pair<int, std::string>> seen;
  std::string trace = traced([&](device &d) {
    msg(d.job, GetParam().level, "hello");
    seen = d.messages;
  });
  EXPECT_EQ(trace, GetParam().trace_line);
  if (GetParam().reported)
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{{GetParam().level, "hello"}}));
  else
    EXPECT_TRUE(seen.empty());
}

INSTANTIATE_TEST_SUITE_P(Engine, MessageLevels,
                         ::testing::Values(level_case{MSG_INFO, "INFO: hello\n", true},
                                           level_case{MSG_DUMP, "DEBUG: hello\n", true},
                                           level_case{MSG_DEBUG, "DEBUG: hello\n", true},
                                           level_case{MSG_ERROR, "ERROR: hello\n", false}, level_case{65, "", false},
                                           level_case{3, "", false}));

TEST(Messages, OutputLevelPutsTheTextOnThePrinterStreamOnly)
{
  device d;
  EXPECT_EQ(d.printed([&] { msg(d.job, MSG_OUTPUT, "AB"); }), hex_bytes("41 42"));
  EXPECT_TRUE(d.messages.empty());
}

TEST(Messages, ACodeIsReportedWithItsEnglishText)
{
  device d;
  EXPECT_EQ(msgerrno(&d.job->io, MSG_DEBUG, -9), -9);
  EXPECT_EQ(msgerrno(&d.job->io, MSG_DEBUG, 0), 0);
  EXPECT_EQ(d.messages.back(), (std::pair<int, std::string>{
                                   MSG_DEBUG, "error(-9):There is not enough memory. Please add available memory."}));
}

TEST(FatalErrorDeathTest, EndsTheJobWithTheErrorLineAndStatusOne)
{
  EXPECT_EXIT(fatal_error("cupsRasterOpen failed"), ::testing::ExitedWithCode(1),
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
  EXPECT_EQ(CRC32(0x12345678, nullptr, 0), 0x12345678u); // no bytes: the running value as it was
  EXPECT_EQ(CRC32(CRC32(0, digits, 4), digits + 4, 5), 0xCBF43926u);
  // The packets' CRC starts from an all-ones previous value.
  EXPECT_EQ(crc32(0xFFFFFFFFul, digits, 9), 0xD202D277u);
  EXPECT_EQ(crc32(0xFFFFFFFFul, reinterpret_cast<const Bytef *>("abc"), 3), 0x359A672Fu);
}

} // namespace
