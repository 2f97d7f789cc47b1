// Cancelling a job: SIGTERM from the spooler while a page is being read.
#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <thread>

#include "filter_harness.h"
#include "ovik_printer_model.h"

using namespace harness;

namespace {

struct spawned {
  pid_t pid = -1;
  int input = -1;  /* the filter's standard input */
  int errors = -1; /* the filter's standard error */
};

/* Starts the filter on pipes; its standard output goes to out_path. */
spawned start_filter(const std::string &ppd, const std::string &out_path, const std::string &options,
                     const std::string &hold = "/nonexistent")
{
  int in[2], err[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addclose(&fa, err[0]);
  spawned s;
  s.pid =
      spawn_filter({"1", "user", "title", "1", options}, {{"PPD", ppd}, {"OVIK_HOLD", hold}, {"OVIK_TRACE", ""}}, &fa);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(err[1]);
  s.input = in[1];
  s.errors = err[0];
  return s;
}

void write_all(int fd, const uint8_t *data, size_t n)
{
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    ASSERT_GT(w, 0);
    data += w;
    n -= static_cast<size_t>(w);
  }
}

/* Reads the filter's status lines until text appears (or 20 s pass, so a
 * broken filter fails the test instead of hanging it); returns all read. */
std::string read_until(int fd, const std::string &text)
{
  std::string seen;
  char buf[4096];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!contains(seen, text) && std::chrono::steady_clock::now() < deadline) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0)
      continue;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0)
      break;
    seen.append(buf, static_cast<size_t>(n));
  }
  return seen;
}

std::string read_rest(int fd)
{
  std::string seen;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0)
    seen.append(buf, static_cast<size_t>(n));
  return seen;
}

int wait_status(pid_t pid)
{
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string receipt80 = ovik_printer_model_brief_find_by_id(0x1001)->name;

page_spec page_with_dot(unsigned copies, unsigned row)
{
  page_spec p;
  p.copies = copies;
  p.height = 200;
  p.dot(100, row);
  return p;
}

TEST(Cancel, SigtermDuringAThreeCopyPageSendsAllThreeCopiesAndNoEndSequence)
{
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(receipt80));
  page_spec a = page_with_dot(3, 120), b = page_with_dot(1, 10);
  bytes raster = make_raster({a, b});
  const size_t header_end = 4 + sizeof(cups_page_header2_t);

  spawned f = start_filter(dir.file("test.ppd"), dir.file("out"), "PostPrintAction=2 CutPaperLength=10 CutMode=2");
  // The page header and half of its pixels: the filter is now reading the page.
  write_all(f.input, raster.data(), header_end + a.size() / 2);
  std::string err = read_until(f.errors, "INFO: cupsWidth:576\nINFO: cupsHeight:200\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(f.pid, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  write_all(f.input, raster.data() + header_end + a.size() / 2, raster.size() - header_end - a.size() / 2);
  close(f.input);
  err += read_rest(f.errors);
  close(f.errors);

  EXPECT_EQ(wait_status(f.pid), 0) << err;
  EXPECT_STREAM(read_file(dir.file("out")),
                default_start() + page_copy(a, 121, 0, 0) + page_copy(a, 121, 0, 1) + page_copy(a, 121, 0, 2));
  EXPECT_TRUE(contains(err, "DEBUG: Print job was cancelled (cups:successful-ok)\n")) << err;
  EXPECT_FALSE(contains(err, "PAGE: 2")) << err;
  EXPECT_TRUE(contains(err, "DEBUG: rastertoovik filter finished")) << err;
}

TEST(Cancel, SigtermAfterTheLastPageSkipsTheEndSequence)
{
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(receipt80));
  page_spec a = page_with_dot(1, 5);
  bytes raster = make_raster({a});

  spawned f = start_filter(dir.file("test.ppd"), dir.file("out"), "PostPrintAction=2 CutPaperLength=10 CutMode=2");
  write_all(f.input, raster.data(), raster.size());
  std::string err = read_until(f.errors, "INFO: cupsWidth:576\nINFO: cupsHeight:200\n");
  // The whole page is in; the filter waits for the next header when the signal comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(f.pid, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  close(f.input);
  err += read_rest(f.errors);
  close(f.errors);

  EXPECT_EQ(wait_status(f.pid), 0) << err;
  EXPECT_STREAM(read_file(dir.file("out")), default_start() + page_copy(a, 6, 0, 0));
  EXPECT_TRUE(contains(err, "DEBUG: Print job was cancelled")) << err;
}

TEST(Cancel, TheDeveloperHoldFileHoldsTheFilterSilentUntilItGoes)
{
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(receipt80));
  write_text(dir.file("hold"), "");
  page_spec a = page_with_dot(1, 5);
  bytes raster = make_raster({a});

  spawned f = start_filter(dir.file("test.ppd"), dir.file("out"), "", dir.file("hold"));
  write_all(f.input, raster.data(), raster.size());
  close(f.input);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(waitpid(f.pid, &status, WNOHANG), 0); // still held
  EXPECT_TRUE(read_file(dir.file("out")).empty());
  unlink(dir.file("hold").c_str());
  std::string err = read_rest(f.errors);
  close(f.errors);
  EXPECT_EQ(wait_status(f.pid), 0) << err;
  EXPECT_TRUE(err.rfind("INFO: rastertoovik filter started \n", 0) == 0) << err;
  EXPECT_STREAM(read_file(dir.file("out")), default_start() + page_copy(a, 6, 0, 0));
}

} // namespace
