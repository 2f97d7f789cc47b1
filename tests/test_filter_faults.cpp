// Faults from outside, on the real filter binary: SIGTERM at random moments,
// raster cut at every offset, broken PPDs, garbage options, and trace paths
// that point where the trace must not go. The printer stream must stay a
// clean run of whole records, and nothing but the trace may be touched.
#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <filesystem>
#include <grp.h>
#include <poll.h>
#include <random>
#include <set>
#include <thread>

#include "filter_harness.h"
#include "decoder.h"
#include "ovik_printer_model.h"

using namespace harness;

namespace {

const std::string receipt80 = ovik_printer_model_brief_find_by_id(0x1001)->name;
const std::string cut_at_end = "PostPrintAction=2 CutPaperLength=10 CutMode=2";
const bytes end_of_job = raster_blank(79) + full_cut;

/* A 576-dot page of rows rows whose lowest dot is on row dot_row (from 0). */
page_spec page(unsigned rows, unsigned dot_row, unsigned copies)
{
  page_spec p;
  p.height = rows;
  p.copies = copies;
  p.dot(7, 0).dot(500, dot_row);
  return p;
}

/* Every copy of a page as the filter sends it with paper saving on: down to
 * the lowest row with a dot in a whole byte of the page width. */
bytes all_copies(const page_spec &p, uint8_t &seq)
{
  unsigned rows = p.height;
  bytes data = p.data();
  unsigned tested = std::min(p.width / 8, p.bpl());
  auto row_start = [&](unsigned r) { return data.begin() + static_cast<ptrdiff_t>(r) * p.bpl(); };
  while (rows > 0 && std::all_of(row_start(rows - 1), row_start(rows - 1) + tested, [](uint8_t b) { return b == 0; }))
    rows--;
  bytes out;
  for (unsigned c = 0; c < p.copies; c++, seq++)
    out = out + page_copy(p, rows, 0, seq);
  return out;
}

/* The stream after the document start and the first n pages, all copies. */
std::vector<bytes> page_prefixes(const std::vector<page_spec> &pages)
{
  std::vector<bytes> prefixes = {default_start()};
  uint8_t seq = 0;
  for (const page_spec &p : pages)
    prefixes.push_back(prefixes.back() + all_copies(p, seq));
  return prefixes;
}

/* Which prefix the stream is, or -1. */
int prefix_index(const bytes &out, const std::vector<bytes> &prefixes)
{
  for (size_t i = 0; i < prefixes.size(); i++)
    if (out == prefixes[i])
      return static_cast<int>(i);
  return -1;
}

/* The decoder's word on a stream: whole records with right CRCs, nothing else. */
std::string stream_faults(const bytes &out)
{
  decode_summary s = decode_stream(out).summary;
  if (s.crc_errors == 0 && s.unknown_bytes == 0 && s.stop_offset == -1)
    return "";
  return format_summary(s);
}

/* ---------- a filter process with descriptors of the test's choosing ---------- */

struct process {
  pid_t pid = -1;
  int status = -2; /* exit status, -1 when killed by a signal */
  int signal = 0;  /* the signal that ended it */
};

/* Starts the filter on the given descriptors with the spooler's signal state. */
process start(const std::vector<std::string> &args, const std::map<std::string, std::string> &env, int in, int out,
              int err, bool sigpipe_ignored = false)
{
  std::map<std::string, std::string> full_env = {{"OVIK_HOLD", "/nonexistent"}};
  full_env.insert(env.begin(), env.end());
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in, 0);
  posix_spawn_file_actions_adddup2(&fa, out, 1);
  posix_spawn_file_actions_adddup2(&fa, err, 2);
  process p;
  try {
    p.pid = spawn_filter(args, full_env, &fa, sigpipe_ignored);
  } catch (...) {
    posix_spawn_file_actions_destroy(&fa);
    throw;
  }
  posix_spawn_file_actions_destroy(&fa);
  return p;
}

/* Starts the program open on descriptor program as user and group uid, on
 * the given descriptors, with every signal default and none blocked. The
 * other user needs no path to the program: it is run from the descriptor. */
process start_as(int uid, int program, const std::vector<std::string> &args,
                 const std::map<std::string, std::string> &env, int in, int out, int err)
{
  c_strings argv(filter_argv(args));
  std::map<std::string, std::string> full_env = {{"OVIK_HOLD", "/nonexistent"}};
  full_env.insert(env.begin(), env.end());
  c_strings envp(environment(full_env));
  int report[2]; // the child's errno when it cannot exec; closed by a successful exec
  if (pipe2(report, O_CLOEXEC) != 0)
    fail_with_errno("pipe2");
  process p;
  p.pid = fork();
  if (p.pid < 0)
    fail_with_errno("fork");
  if (p.pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; sig++)
      sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (setgroups(0, nullptr) == 0 && setgid(static_cast<gid_t>(uid)) == 0 && setuid(static_cast<uid_t>(uid)) == 0)
      fexecve(program, argv.get(), envp.get());
    int e = errno;
    ssize_t ignored = write(report[1], &e, sizeof e);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int e = 0;
  ssize_t n;
  while ((n = read(report[0], &e, sizeof e)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (n > 0) {
    wait_status(p.pid);
    fail_with_errno("running the filter as uid " + std::to_string(uid), e);
  }
  return p;
}

/* Waits for the process; its exit status, or -1 when a signal ended it. */
int finish(process &p)
{
  p.status = wait_status(p.pid, &p.signal);
  return p.status;
}

/* Writes all of data, or as much as the reader takes before it goes away. */
void feed(int fd, const uint8_t *data, size_t n)
{
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w <= 0)
      return;
    data += w;
    n -= static_cast<size_t>(w);
  }
}

/* Waits until the file holds at least n bytes (20 s at most). */
bool wait_for_size(const std::string &path, size_t n)
{
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  struct stat st {};
  while (std::chrono::steady_clock::now() < deadline) {
    if (stat(path.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) >= n)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

/* The state letter of a process from /proc/PID/stat (R running, S sleeping,
 * ...), or 0 when it cannot be read. */
char process_state(pid_t pid)
{
  std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
  size_t name_end = stat.rfind(')'); // the name in parentheses may hold anything
  return name_end != std::string::npos && name_end + 2 < stat.size() ? stat[name_end + 2] : 0;
}

/* Where the process stands in the file open on its descriptor fd. */
std::string file_position(pid_t pid, int fd)
{
  std::string info = read_text("/proc/" + std::to_string(pid) + "/fdinfo/" + std::to_string(fd));
  return info.substr(0, info.find('\n'));
}

/* Waits until the process waits for room on its standard output (20 s at
 * most): the pipe behind it is full (write_end, a second descriptor of its
 * write end, takes nothing more), the process sleeps, and it has read no
 * further in its standard input over a while. */
bool wait_for_write_to_stdout(pid_t pid, int write_end)
{
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto pipe_full = [&] {
    struct pollfd p = {write_end, POLLOUT, 0};
    return poll(&p, 1, 0) == 0;
  };
  auto blocked = [&] { return pipe_full() && process_state(pid) == 'S'; };
  while (std::chrono::steady_clock::now() < deadline) {
    if (blocked()) {
      std::string read_so_far = file_position(pid, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (blocked() && file_position(pid, 0) == read_so_far)
        return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

struct FaultTest : ::testing::Test {
  temp_dir dir;
  void SetUp() override
  {
    // The filter may stop reading before the raster ends: the test's own
    // writes then fail instead of ending it. The filter gets SIGPIPE default.
    signal(SIGPIPE, SIG_IGN);
    write_text(dir.file("test.ppd"), ppd_text(receipt80));
  }
  std::map<std::string, std::string> env() const { return {{"PPD", dir.file("test.ppd")}, {"OVIK_TRACE", ""}}; }
};

/* ---------- cancelling ---------- */

const std::vector<page_spec> cancel_pages = {page(300, 250, 2), page(200, 30, 1), page(300, 120, 3), page(150, 149, 2)};

TEST_F(FaultTest, SigtermAtRandomMomentsLeavesWholePagesWithAllTheirCopies)
{
  bytes raster = make_raster(cancel_pages);
  std::vector<bytes> prefixes = page_prefixes(cancel_pages);
  std::mt19937 random(20240611);
  const size_t opened = default_start().size(); // on the output once the handler is in place
  for (int run = 0; run < 24; run++) {
    size_t split = std::uniform_int_distribution<size_t>(4, raster.size())(random);
    int pause_us = std::uniform_int_distribution<int>(0, 20000)(random);
    SCOPED_TRACE("run " + std::to_string(run) + ": SIGTERM after " + std::to_string(split) + " raster bytes and " +
                 std::to_string(pause_us) + " us");
    int in[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    int out = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    process f = start({"1", "user", "title", "1", cut_at_end}, env(), in[0], out, err);
    close(in[0]);
    close(out);
    close(err);
    feed(in[1], raster.data(), split);
    ASSERT_TRUE(wait_for_size(dir.file("out"), opened));
    std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
    kill(f.pid, SIGTERM);
    feed(in[1], raster.data() + split, raster.size() - split);
    close(in[1]);
    EXPECT_EQ(finish(f), 0) << read_text(dir.file("err"));
    bytes stream = read_file(dir.file("out"));
    EXPECT_NE(prefix_index(stream, prefixes), -1) << stream_faults(stream) << "\n" << hex(stream);
    EXPECT_TRUE(contains(read_text(dir.file("err")), "DEBUG: Print job was cancelled"));
  }
}

TEST_F(FaultTest, SigtermWhileThePrinterIsNotReadingLosesNoByte)
{
  // The printer takes nothing for a while: the filter is blocked writing when
  // the signal comes, and what it had begun must still arrive whole.
  // Both kinds of write: a page larger than a pipe holds, and many small
  // copies, each flushed on its own.
  std::vector<page_spec> pages = {page(40, 39, 60), page(2000, 1999, 2), page(2000, 1000, 1)};
  bytes raster = make_raster(pages);
  std::vector<bytes> prefixes = page_prefixes(pages);
  write_file(dir.file("in"), raster);
  int in = open(dir.file("in").c_str(), O_RDONLY | O_CLOEXEC);
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  process f = start({"1", "user", "title", "1", cut_at_end}, env(), in, out[1], err);
  int watch = fcntl(out[1], F_DUPFD_CLOEXEC, 3); // tells when the pipe is full
  close(in);
  close(out[1]);
  close(err);
  // Take the first bytes, then stop reading until the filter has filled the
  // pipe and waits inside a write to its standard output.
  bytes stream(default_start().size());
  ssize_t first = read(out[0], stream.data(), stream.size());
  bool waiting = first == static_cast<ssize_t>(stream.size()) && wait_for_write_to_stdout(f.pid, watch);
  close(watch);
  if (!waiting) {
    kill(f.pid, SIGKILL);
    close(out[0]);
    finish(f);
    FAIL() << "the filter never waited for room on its standard output (first read " << first << ")";
  }
  kill(f.pid, SIGTERM);
  // Still not reading, so the signal finds the write waiting for room.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  uint8_t buf[65536];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0)
    stream.insert(stream.end(), buf, buf + n);
  close(out[0]);
  EXPECT_EQ(finish(f), 0) << read_text(dir.file("err"));
  EXPECT_NE(prefix_index(stream, prefixes), -1) << stream_faults(stream);
  EXPECT_TRUE(contains(read_text(dir.file("err")), "DEBUG: Print job was cancelled"));
}

/* ---------- the printer going away ---------- */

TEST_F(FaultTest, APrinterStreamThatCannotBeWrittenEndsTheJobAsAFailure)
{
  // The backend stops reading after the document start, or the printer
  // stream is a full disk. Started as the spooler starts filters, a write to
  // the closed pipe ends the filter by SIGPIPE; with SIGPIPE ignored, and on
  // the full disk, the filter stops writing, says why and exits with 1 by the
  // end of the page copy.
  struct row {
    const char *name;
    bool sigpipe_ignored, full_disk;
    int status, signal;
    const char *error; /* the error line, or "" for none */
  };
  const row rows[] = {
      {"closed pipe, SIGPIPE default", false, false, -1, SIGPIPE, ""},
      {"closed pipe, SIGPIPE ignored", true, false, 1, 0,
       "ERROR:Raster(print data could not be written: Broken pipe, cups:successful-ok)\n"},
      {"full disk", false, true, 1, 0,
       "ERROR:Raster(print data could not be written: No space left on device, cups:successful-ok)\n"},
  };
  // More than a pipe holds, so the filter still has bytes to write, and a
  // second page that it never gets to.
  bytes raster = make_raster({page(2000, 1999, 2), page(10, 5, 1)});
  write_file(dir.file("in"), raster);
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    int in = open(dir.file("in").c_str(), O_RDONLY | O_CLOEXEC);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    if (r.full_disk) {
      close(out[1]);
      out[1] = open("/dev/full", O_WRONLY | O_CLOEXEC);
      ASSERT_GE(out[1], 0) << strerror(errno);
    }
    int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::map<std::string, std::string> e = env();
    e["OVIK_TRACE"] = dir.file("trace");
    unlink(dir.file("trace").c_str());
    process f = start({"1", "user", "title", "1", cut_at_end}, e, in, out[1], err, r.sigpipe_ignored);
    close(in);
    close(out[1]);
    close(err);
    if (!r.full_disk) {
      bytes stream(default_start().size());
      EXPECT_EQ(read(out[0], stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
      EXPECT_STREAM(stream, default_start());
    }
    close(out[0]);
    EXPECT_EQ(finish(f), r.status) << read_text(dir.file("err"));
    EXPECT_EQ(f.signal, r.signal) << strsignal(f.signal);
    std::string text = read_text(dir.file("err"));
    std::vector<std::string> l = lines(text);
    if (*r.error) {
      EXPECT_EQ(text.substr(text.size() - std::min(text.size(), strlen(r.error))), r.error) << text;
      // The copy that failed is the first page's first: no second PAGE: line.
      EXPECT_FALSE(contains(text, "PAGE: 2")) << text;
    } else {
      EXPECT_FALSE(contains(text, "ERROR:")) << text;
    }
    EXPECT_FALSE(contains(text, "DEBUG: rastertoovik filter finished")) << text;
  }
}

/* ---------- raster cut short ---------- */

struct cut_layout {
  std::vector<size_t> header_end; /* offset just after each page header */
  std::vector<size_t> page_end;   /* offset just after each page's pixels */
};

/* Where each page's header and pixels end in a stream of these pages. */
cut_layout layout_of(const std::vector<page_spec> &pages, raster_version version)
{
  cut_layout l;
  size_t at = 4;
  size_t header = version == raster_version::v1 ? sizeof(cups_page_header_t) : sizeof(cups_page_header2_t);
  for (const page_spec &p : pages) {
    // A page's pixels take what its own one-page stream takes after its header.
    size_t pixels = make_raster({p}, version).size() - 4 - header;
    l.header_end.push_back(at + header);
    at += header + pixels;
    l.page_end.push_back(at);
  }
  return l;
}

/* What a job cut after `cut` bytes must give: status, stream and error text. */
struct cut_outcome {
  int status;
  bytes stream;
  std::string error;
};

/* The outcome of a job cut after `cut` bytes of a stream laid out as l. */
cut_outcome expected_cut(size_t cut, const cut_layout &l, const std::vector<bytes> &prefixes)
{
  if (cut < 4)
    return {1, {}, "ERROR:Raster(cupsRasterOpen failed"};
  for (size_t i = 0; i < l.header_end.size(); i++) {
    if (cut < l.header_end[i])
      return {0, prefixes[i] + end_of_job, ""}; // a header that can't be read ends the stream
    if (cut < l.page_end[i])
      return {1, prefixes[i], "ERROR:Raster(cupsRasterReadPixels did not read enough data"};
  }
  return {0, prefixes.back() + end_of_job, ""};
}

class RasterCut : public FaultTest, public ::testing::WithParamInterface<raster_version> {};

TEST_P(RasterCut, AtEveryOffsetEndsNormallyOrWithTheErrorLineAndWholeRecords)
{
  page_spec a;
  a.width = 20;
  a.height = 3;
  a.copies = 2;
  a.dot(0, 0).dot(19, 2);
  page_spec b;
  b.width = 20;
  b.height = 2;
  b.dot(9, 0);
  std::vector<page_spec> pages = {a, b};
  bytes raster = make_raster(pages, GetParam());
  cut_layout l = layout_of(pages, GetParam());
  ASSERT_EQ(l.page_end.back(), raster.size());
  std::vector<bytes> prefixes = page_prefixes(pages);

  // Every offset of the pixels and around each boundary; every third offset
  // inside the long headers of versions 2 and 3, which all fail alike.
  std::set<size_t> cuts;
  size_t step = GetParam() == raster_version::v1 ? 1 : 3;
  for (size_t cut = 0; cut <= raster.size(); cut += step)
    cuts.insert(cut);
  for (size_t i = 0; i < pages.size(); i++)
    for (size_t cut = l.header_end[i] - 2; cut <= l.page_end[i] + 2 && cut <= raster.size(); cut++)
      cuts.insert(cut);

  for (size_t cut : cuts) {
    SCOPED_TRACE("raster cut after " + std::to_string(cut) + " of " + std::to_string(raster.size()) + " bytes");
    run_result r = run_job(receipt80, bytes(raster.begin(), raster.begin() + cut), cut_at_end);
    cut_outcome want = expected_cut(cut, l, prefixes);
    ASSERT_EQ(r.status, want.status) << r.err;
    ASSERT_EQ(first_difference(r.out, want.stream), "");
    if (want.status != 0) {
      ASSERT_TRUE(contains(r.err, want.error)) << r.err;
    }
  }
}

/* Test names for the raster versions. */
std::string version_name(const ::testing::TestParamInfo<raster_version> &info)
{
  static const char *const names[] = {"Version1", "Version2Compressed", "Version3"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Filter, RasterCut,
                         ::testing::Values(raster_version::v1, raster_version::v2_compressed, raster_version::v3),
                         version_name);

/* ---------- broken PPDs ---------- */

struct ppd_case {
  const char *name;
  std::function<std::string(temp_dir &)> make; /* writes the PPD, returns $PPD */
  std::string error;
};

void PrintTo(const ppd_case &c, std::ostream *os)
{
  *os << c.name;
}

class BrokenPpd : public FaultTest, public ::testing::WithParamInterface<ppd_case> {};

TEST_P(BrokenPpd, EndsTheJobWithTheErrorLineAndNothingForThePrinter)
{
  run_options o;
  o.args = {"1", "user", "title", "1", cut_at_end};
  o.env = {{"PPD", GetParam().make(dir)}};
  o.input = make_raster({page(100, 50, 1)});
  run_result r = run_filter(o);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(r.out.empty()) << hex(r.out);
  EXPECT_TRUE(contains(r.err, GetParam().error)) << r.err;
}

/* Random bytes of the given length, the same for every run. */
bytes garbage(size_t n, unsigned seed)
{
  std::mt19937 random(seed);
  bytes b(n);
  for (uint8_t &x : b)
    x = static_cast<uint8_t>(random());
  return b;
}

/* Writes text as the PPD; returns its path. */
std::string ppd_file(temp_dir &d, const std::string &text)
{
  write_text(d.file("broken.ppd"), text);
  return d.file("broken.ppd");
}

const std::string open_failed = "ERROR:Raster(ppdOpenFile failed, cups:";
const std::string wrong_model = "ERROR:Raster(wrong ppd modelname!, cups:";

INSTANTIATE_TEST_SUITE_P(
    Filter, BrokenPpd,
    ::testing::Values(
        ppd_case{"Missing", [](temp_dir &d) { return d.file("missing.ppd"); }, open_failed},
        ppd_case{"Directory", [](temp_dir &d) { return d.path; }, open_failed},
        ppd_case{"Empty", [](temp_dir &d) { return ppd_file(d, ""); }, open_failed},
        ppd_case{"RandomBytes",
                 [](temp_dir &d) {
                   bytes g = garbage(4096, 7);
                   return ppd_file(d, std::string(g.begin(), g.end()));
                 },
                 open_failed},
        ppd_case{"HeaderThenRandomBytes",
                 [](temp_dir &d) {
                   bytes g = garbage(4096, 8);
                   return ppd_file(d, "*PPD-Adobe: \"4.3\"\n" + std::string(g.begin(), g.end()));
                 },
                 "ERROR:Raster("},
        ppd_case{"NoShortNickName", [](temp_dir &d) { return ppd_file(d, "*PPD-Adobe: \"4.3\"\n*ModelName: \"X\"\n"); },
                 wrong_model},
        ppd_case{"UnknownModel", [](temp_dir &d) { return ppd_file(d, ppd_text("Tern 80A (not this)")); }, wrong_model},
        ppd_case{"ModelNameInOtherCase",
                 [](temp_dir &d) {
                   std::string upper = receipt80;
                   for (char &c : upper)
                     c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
                   return ppd_file(d, ppd_text(upper));
                 },
                 wrong_model},
        ppd_case{"TruncatedInsideAQuote",
                 [](temp_dir &d) {
                   std::string t = ppd_text(receipt80);
                   return ppd_file(d, t.substr(0, t.find("*ShortNickName") + 20));
                 },
                 "ERROR:Raster("}),
    [](const ::testing::TestParamInfo<ppd_case> &info) { return info.param.name; });

TEST_F(FaultTest, APpdTheFilterUserCannotReadEndsTheJob)
{
  // As root, the filter runs as nobody, like the spooler's filters, and the
  // test's private directory keeps it out; otherwise the file is made
  // unreadable. Nobody runs the filter from a descriptor opened here, so the
  // checkout's folders need not let it in; a copy with mode 0755 stands in
  // when the built file is not executable by others.
  bool root = geteuid() == 0;
  if (!root)
    chmod(dir.file("test.ppd").c_str(), 0);
  else
    chmod(dir.path.c_str(), 0700);
  if (!root && access(dir.file("test.ppd").c_str(), R_OK) == 0)
    GTEST_SKIP() << "this user reads files whatever their mode";
  std::string program = OVIK_FILTER_BIN;
  struct stat st {};
  ASSERT_EQ(stat(program.c_str(), &st), 0) << program << ": " << std::strerror(errno);
  if (root && !(st.st_mode & S_IXOTH)) {
    namespace fs = std::filesystem;
    fs::copy_file(program, dir.file("rastertoovik"));
    fs::permissions(dir.file("rastertoovik"), fs::perms(0755));
    program = dir.file("rastertoovik");
  }
  write_file(dir.file("in"), make_raster({page(100, 50, 1)}));
  int in = open(dir.file("in").c_str(), O_RDONLY | O_CLOEXEC);
  int out[2], err[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  std::vector<std::string> args = {"1", "user", "title", "1", ""};
  process f;
  if (root) {
    int fd = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << program << ": " << std::strerror(errno);
    f = start_as(65534, fd, args, env(), in, out[1], err[1]);
    close(fd);
  } else {
    f = start(args, env(), in, out[1], err[1]);
  }
  close(in);
  close(out[1]);
  close(err[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(err[0], buf, sizeof buf)) > 0)
    text.append(buf, static_cast<size_t>(n));
  EXPECT_EQ(read(out[0], buf, sizeof buf), 0);
  close(out[0]);
  close(err[0]);
  EXPECT_EQ(finish(f), 1) << text;
  EXPECT_TRUE(contains(text, open_failed)) << text;
}

/* ---------- garbage options ---------- */

TEST_F(FaultTest, GarbageOptionsNeverBreakTheStream)
{
  std::vector<std::string> options = {
      "=",
      "==",
      "'",
      "\"",
      "{",
      "}",
      "a='b",
      "x={y={z=",
      "PageSize",
      "PageSize= Resolution=",
      "Resolution=-300dpi PageSize=-80x210mm",
      "Resolution=0 PostPrintAction=1 FormfeedLength=50",
      "Resolution=99999999999999999999 PostPrintAction=2 CutPaperLength=10 CutMode=2",
      "CutPaperLength=2147483647 PostPrintAction=3 CutMode=1",
      "CutPaperLength=-2147483648 PostPrintAction=2",
      "FormfeedLength=99999999 PostPrintAction=1 PaperSaveMode=3",
      "ExternalBeepControl=1 ExternalBeepRepeat=2147483647 ExternalBeepDuration=-1 ExternalBeepInterval=99999",
      "BeepControl=2 BeepRepeat=-1 BeepDuration=4294967296 BeepInterval=-2147483649",
      "PrintLogo=1 LogoIndex=-2147483648 LogoAlign=2147483647 Drawer1=1 Drawer2=2",
      "PrintDensity=-2147483648 PaperType=2147483647 PaperSaveBottom=-1 BitmapCompression=nan",
      "PageSize=80x210mm PageSize=58x210mm Resolution=1dpi Resolution=600dpi"};
  for (unsigned seed = 1; seed <= 12; seed++) {
    bytes g = garbage(200, seed);
    std::string text(g.begin(), g.end());
    options.push_back(text.c_str()); // argv stops at a zero byte
  }
  page_spec p = page(100, 60, 2);
  bytes raster = make_raster({p});
  for (const std::string &o : options) {
    SCOPED_TRACE("options: " + o);
    run_result r = run_job(receipt80, raster, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stream_faults(r.out), "");
    EXPECT_EQ(decode_stream(r.out).summary.bitmaps, 2u);
  }
}

TEST_F(FaultTest, TextFromTheJobNeverStartsAStatusLineOfItsOwn)
{
  // The spooler acts on PPD:, ATTR: and STATE: lines from a filter; the options
  // and the raster's media names come from whoever sent the job.
  page_spec p = page(20, 5, 1);
  bytes raster;
  cups_raster_t *w = cupsRasterOpenIO(append_to_bytes, &raster, CUPS_RASTER_WRITE);
  cups_page_header2_t h = header_for(p);
  std::strcpy(h.MediaType, "roll\nSTATE: +media-jam-error");
  std::strcpy(h.MediaClass, "x\rATTR: marker-levels=0");
  cupsRasterWriteHeader2(w, &h);
  cupsRasterWritePixels(w, p.data().data(), static_cast<unsigned>(p.size()));
  cupsRasterClose(w);
  run_result r = run_job(receipt80, raster, "Resolution=1\nPPD: *cupsFilter2: \"evil\" PaperType=0\n\nSTATE: x");
  EXPECT_EQ(r.status, 0) << r.err;
  for (const std::string &line : lines(r.err))
    for (const char *word : {"PPD:", "ATTR:", "STATE:"})
      EXPECT_NE(line.rfind(word, 0), 0u) << line;
  EXPECT_TRUE(contains(r.err, "INFO: MediaType:roll?STATE: +media-jam-error\n")) << r.err;
  EXPECT_TRUE(contains(r.err, "DEBUG: Resolution=1?PPD: *cupsFilter2: \"evil\" PaperType=0??STATE: x \n")) << r.err;
}

/* ---------- the trace path ---------- */

/* Every name in a directory with its content and type, for before-and-after. */
std::map<std::string, std::string> snapshot(const std::string &path)
{
  std::map<std::string, std::string> entries;
  DIR *d = opendir(path.c_str());
  while (struct dirent *e = d ? readdir(d) : nullptr) {
    std::string name = e->d_name, full = path + "/" + name;
    struct stat st {};
    lstat(full.c_str(), &st);
    std::string what =
        std::to_string(st.st_mode) + ":" + std::to_string(st.st_uid) + ":" + std::to_string(st.st_nlink) + ":";
    if (S_ISREG(st.st_mode))
      what += read_text(full);
    else if (S_ISLNK(st.st_mode)) {
      char target[4096] = {};
      what += std::string(target, static_cast<size_t>(readlink(full.c_str(), target, sizeof target - 1)));
    }
    if (name != "..") // the parent is shared with every other test
      entries[name] = what;
  }
  if (d)
    closedir(d);
  return entries;
}

struct trace_case {
  const char *name;
  bool needs_root;
  /* Makes what stands at the trace path t (victim: a file beside it); returns 0. */
  int (*plant)(const std::string &t, const std::string &victim);
  const char *path = "trace"; /* OVIK_TRACE: absolute, or inside the planted directory */
};

void PrintTo(const trace_case &c, std::ostream *os)
{
  *os << c.name;
}

class HostileTracePath : public FaultTest, public ::testing::WithParamInterface<trace_case> {};

TEST_P(HostileTracePath, LeavesThePrinterStreamAndEveryOtherFileAlone)
{
  if (GetParam().needs_root && geteuid() != 0)
    GTEST_SKIP() << GetParam().name << ": needs root to give a file to another user";
  page_spec p = page(100, 60, 1);
  bytes raster = make_raster({p});
  run_result plain = run_job(receipt80, raster, cut_at_end);

  temp_dir victims;
  write_text(victims.file("victim"), "precious\n");
  ASSERT_EQ(GetParam().plant(victims.file("trace"), victims.file("victim")), 0);
  std::string trace = GetParam().path[0] == '/' ? GetParam().path : victims.file(GetParam().path);
  auto before = snapshot(victims.path);
  run_options o;
  o.args = {"1", "user", "title", "1", cut_at_end};
  o.env = {{"PPD", dir.file("test.ppd")}, {"OVIK_TRACE", trace}};
  o.input = raster;
  run_result r = run_filter(o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_STREAM(r.out, plain.out);
  EXPECT_EQ(snapshot(victims.path), before);
}

using path = const std::string &;

INSTANTIATE_TEST_SUITE_P(
    Filter, HostileTracePath,
    ::testing::Values(
        trace_case{"SymbolicLinkToAFile", false, [](path t, path v) { return symlink(v.c_str(), t.c_str()); }},
        trace_case{"SymbolicLinkToNowhere", false,
                   [](path t, path) { return symlink((t + "-created-through-the-link").c_str(), t.c_str()); }},
        trace_case{"Directory", false, [](path t, path) { return mkdir(t.c_str(), 0755); }},
        trace_case{"FileWithASecondName", false, [](path t, path v) { return link(v.c_str(), t.c_str()); }},
        trace_case{"AnotherUsersFile", true,
                   [](path t, path) {
                     write_text(t, "someone else's\n");
                     return chown(t.c_str(), 65534, 65534);
                   }},
        trace_case{"FifoWithoutReader", false, [](path t, path) { return mkfifo(t.c_str(), 0600); }},
        trace_case{"FullFileSystem", false, [](path, path) { return 0; }, "/dev/full"},
        trace_case{"InsideAMissingDirectory", false, [](path, path) { return 0; }, "no/such/dir/trace"}),
    [](const ::testing::TestParamInfo<trace_case> &info) { return info.param.name; });

} // namespace
