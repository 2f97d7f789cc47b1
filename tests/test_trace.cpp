// The trace file: where it opens, what it refuses, and the lines it holds.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ovik_trace.h"

namespace {

struct TraceTest : ::testing::Test {
  std::string dir;
  void SetUp() override
  {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ovik-trace-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "mkdtemp " << pattern << ": " << std::strerror(errno);
    dir = pattern;
  }
  void TearDown() override
  {
    ovik_trace_exit();
    std::error_code error;
    if (!dir.empty())
      std::filesystem::remove_all(dir, error);
    EXPECT_FALSE(error) << "removing " << dir << ": " << error.message();
  }
  std::string path(const char *name) const { return dir + "/" + name; }
  static std::string read(const std::string &p)
  {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void write(const std::string &p, const std::string &text) { std::ofstream(p, std::ios::binary) << text; }
};

TEST_F(TraceTest, ANewFileIsCreatedPrivateAndHoldsEachLine)
{
  ovik_trace_init(path("trace").c_str());
  ASSERT_NE(ovik_trace_handle, nullptr);
  ovik_trace("+%s start.\n", "op");
  ovik_trace("\tdetail:%d.\n", 7);
  // Each line is in the file as soon as it is written, before any close.
  EXPECT_EQ(read(path("trace")), "+op start.\n\tdetail:7.\n");
  struct stat st;
  ASSERT_EQ(stat(path("trace").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TraceTest, AnOwnFileIsTruncated)
{
  write(path("trace"), "the trace of the previous job\n");
  ovik_trace_init(path("trace").c_str());
  ovik_trace("new\n");
  EXPECT_EQ(read(path("trace")), "new\n");
}

TEST_F(TraceTest, ASymbolicLinkIsNotFollowedAndTracingIsOff)
{
  write(path("victim"), "precious\n");
  ASSERT_EQ(symlink(path("victim").c_str(), path("trace").c_str()), 0);
  ovik_trace_init(path("trace").c_str());
  EXPECT_EQ(ovik_trace_handle, nullptr);
  ovik_trace("must go nowhere\n");
  EXPECT_EQ(read(path("victim")), "precious\n");
}

TEST_F(TraceTest, ADanglingSymbolicLinkCreatesNothing)
{
  ASSERT_EQ(symlink(path("target").c_str(), path("trace").c_str()), 0);
  ovik_trace_init(path("trace").c_str());
  EXPECT_EQ(ovik_trace_handle, nullptr);
  EXPECT_NE(access(path("target").c_str(), F_OK), 0);
}

TEST_F(TraceTest, AFileOfAnotherUserIsLeftAlone)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give the file away";
  write(path("trace"), "someone else's\n");
  ASSERT_EQ(chown(path("trace").c_str(), 65534, 65534), 0);
  ovik_trace_init(path("trace").c_str());
  EXPECT_EQ(ovik_trace_handle, nullptr);
  EXPECT_EQ(read(path("trace")), "someone else's\n");
}

TEST_F(TraceTest, AHardLinkToAnotherFileIsLeftAlone)
{
  write(path("victim"), "precious\n");
  ASSERT_EQ(link(path("victim").c_str(), path("trace").c_str()), 0);
  ovik_trace_init(path("trace").c_str());
  EXPECT_EQ(ovik_trace_handle, nullptr);
  EXPECT_EQ(read(path("victim")), "precious\n");
}

TEST_F(TraceTest, ADirectoryOrAFifoWithoutReaderTurnsTracingOffWithoutBlocking)
{
  ovik_trace_init(dir.c_str());
  EXPECT_EQ(ovik_trace_handle, nullptr);
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  ovik_trace_init(path("fifo").c_str()); // would block forever without a reader
  EXPECT_EQ(ovik_trace_handle, nullptr);
}

TEST_F(TraceTest, ADeviceIsOpenedByItsName)
{
  ovik_trace_init("/dev/null");
  EXPECT_NE(ovik_trace_handle, nullptr);
}

TEST_F(TraceTest, OpeningAgainClosesTheFirstFile)
{
  ovik_trace_init(path("first").c_str());
  ovik_trace("one\n");
  ovik_trace_init(path("second").c_str());
  ovik_trace("two\n");
  EXPECT_EQ(read(path("first")), "one\n");
  EXPECT_EQ(read(path("second")), "two\n");
}

TEST_F(TraceTest, StdoutIsUsedAndNeverClosed)
{
  ovik_trace_init("stdout");
  EXPECT_EQ(ovik_trace_handle, stdout);
  ovik_trace_exit();
  EXPECT_EQ(ovik_trace_handle, stdout);
  EXPECT_NE(fflush(stdout), EOF);
  ovik_trace_init(nullptr);
  EXPECT_EQ(ovik_trace_handle, nullptr);
}

TEST_F(TraceTest, ExitTwiceClosesOnce)
{
  ovik_trace_init(path("trace").c_str());
  ovik_trace_exit();
  EXPECT_EQ(ovik_trace_handle, nullptr);
  ovik_trace_exit();
  ovik_trace("after\n");
  EXPECT_EQ(read(path("trace")), "");
}

TEST_F(TraceTest, TheDumpLineHasTwoDigitsPerByteAndACarriageReturn)
{
  FILE *f = fopen(path("dump").c_str(), "wb");
  const unsigned char data[] = {0x01, 0xAB};
  ovik_trace_dump(f, data, 2);
  ovik_trace_dump(nullptr, data, 2);
  fclose(f);
  EXPECT_EQ(read(path("dump")), "[DUMP(2):0x01 0xab ].\r\n");
}

TEST_F(TraceTest, TheSignalPathWritesOnTheOpenTraceOnly)
{
  ovik_trace_signal_write("lost\n", 5);
  ovik_trace_init(path("trace").c_str());
  ovik_trace("a\n");
  ovik_trace_signal_write("+cancel_handler(signum:15) start.\n", 34);
  EXPECT_EQ(read(path("trace")), "a\n+cancel_handler(signum:15) start.\n");
}

TEST(TracePath, TheEnvironmentMovesOrSwitchesOffTheTrace)
{
  unsetenv(OVIK_TRACE_ENV);
  EXPECT_STREQ(ovik_trace_path(), "/tmp/ovik-raster");
  setenv(OVIK_TRACE_ENV, "/var/tmp/job-trace", 1);
  EXPECT_STREQ(ovik_trace_path(), "/var/tmp/job-trace");
  setenv(OVIK_TRACE_ENV, "", 1);
  EXPECT_EQ(ovik_trace_path(), nullptr);
  setenv(OVIK_TRACE_ENV, "off", 1);
  EXPECT_EQ(ovik_trace_path(), nullptr);
  unsetenv(OVIK_TRACE_ENV);
}

} // namespace
