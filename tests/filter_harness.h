/*
 * filter_harness.h - what the filter tests share: raster streams written by
 * libcups, PPD files, running the real filter binary, capturing what an
 * in-process call writes on standard output, and the expected packets and
 * commands built straight from the stream format.
 */
#ifndef OVIK_FILTER_HARNESS_H
#define OVIK_FILTER_HARNESS_H

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include <cups/raster.h>

namespace harness {

using bytes = std::vector<uint8_t>;

inline bytes operator+(bytes a, const bytes &b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

/* Where two printer streams first differ, with the bytes around it. */
inline std::string first_difference(const bytes &actual, const bytes &expected)
{
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
    i++;
  if (i == actual.size() && i == expected.size())
    return "";
  auto window = [i](const bytes &b) {
    std::string s;
    char two[4];
    size_t from = i >= 16 ? i - 16 : 0;
    for (size_t j = from; j < b.size() && j < i + 24; j++) {
      snprintf(two, sizeof two, "%02X", b[j]);
      s += (j == i ? "[" : " ") + std::string(two) + (j == i ? "]" : "");
    }
    return s;
  };
  return "streams differ at byte " + std::to_string(i) + " (actual " + std::to_string(actual.size()) +
         " bytes, expected " + std::to_string(expected.size()) + ")\n  actual:  " + window(actual) +
         "\n  expected:" + window(expected);
}

#define EXPECT_STREAM(actual, expected) EXPECT_EQ(harness::first_difference((actual), (expected)), "")

/* Hex text of a byte string, so a failed comparison shows what differed. */
inline std::string hex(const bytes &b)
{
  std::string s;
  char two[4];
  for (size_t i = 0; i < b.size(); i++) {
    snprintf(two, sizeof two, "%02X", b[i]);
    if (i)
      s += i % 32 ? " " : "\n";
    s += two;
  }
  return s;
}

inline bytes hex_bytes(const char *text)
{
  bytes b;
  std::istringstream in(text);
  std::string tok;
  while (in >> tok)
    b.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
  return b;
}

/* ---------- temporary files ---------- */

/* The folder for temporary files: $TMPDIR when set, else /tmp. */
inline std::string temp_root()
{
  const char *t = getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

/* Ends the test with what failed and why (gtest reports the exception). */
[[noreturn]] inline void fail_with_errno(const std::string &what, int error = errno)
{
  throw std::runtime_error(what + ": " + std::strerror(error));
}

/* A private directory for one test, removed with everything in it. */
struct temp_dir {
  std::string path;
  temp_dir()
  {
    std::string pattern = temp_root() + "/ovik-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
      fail_with_errno("mkdtemp " + pattern);
    path = pattern;
  }
  ~temp_dir()
  {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  temp_dir(const temp_dir &) = delete;
  std::string file(const std::string &name) const { return path + "/" + name; }
};

inline void write_file(const std::string &path, const bytes &data)
{
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline void write_text(const std::string &path, const std::string &text)
{
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline bytes read_file(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::string &path)
{
  bytes b = read_file(path);
  return std::string(b.begin(), b.end());
}

/* ---------- raster input, written by libcups ---------- */

enum class raster_version { v1, v2_compressed, v3, pwg };

struct page_spec {
  unsigned width = 576;        /* cupsWidth, dots */
  unsigned height = 100;       /* cupsHeight, rows */
  unsigned bytes_per_line = 0; /* 0: width / 8 rounded up */
  unsigned copies = 1;
  unsigned bits_per_pixel = 1;
  bytes pixels; /* bytes_per_line x height; empty means all zero */

  unsigned bpl() const { return bytes_per_line ? bytes_per_line : (width * bits_per_pixel + 7) / 8; }
  size_t size() const { return static_cast<size_t>(bpl()) * height; }
  /* Sets the bit of dot x on row y (rows and dots counted from 0). */
  page_spec &dot(unsigned x, unsigned y)
  {
    if (pixels.empty())
      pixels.assign(size(), 0);
    pixels[static_cast<size_t>(y) * bpl() + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return *this;
  }
  bytes data() const { return pixels.empty() ? bytes(size(), 0) : pixels; }
};

inline ssize_t append_to_bytes(void *ctx, unsigned char *buffer, size_t length)
{
  static_cast<bytes *>(ctx)->insert(static_cast<bytes *>(ctx)->end(), buffer, buffer + length);
  return static_cast<ssize_t>(length);
}

/* The header a RIP would write for this page at 203 dpi, 1-bit black. */
inline cups_page_header2_t header_for(const page_spec &p)
{
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.cupsWidth = p.width;
  h.cupsHeight = p.height;
  h.cupsBytesPerLine = p.bpl();
  h.cupsBitsPerColor = p.bits_per_pixel;
  h.cupsBitsPerPixel = p.bits_per_pixel;
  h.cupsColorSpace = CUPS_CSPACE_K;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.NumCopies = p.copies;
  h.PageSize[0] = p.width * 72 / 203;
  h.PageSize[1] = p.height * 72 / 203;
  std::strcpy(h.MediaType, "receipt");
  return h;
}

/* A raster stream of the pages, as libcups writes it: CUPS raster or PWG
 * raster. libcups writes only versions 2 and 3 of CUPS raster; a version 1
 * stream is the version 3 one under the old sync word with each page header
 * cut to its version 1 size. */
inline bytes make_raster(const std::vector<page_spec> &pages, raster_version version = raster_version::v3)
{
  bytes out;
  cups_mode_t mode = version == raster_version::v2_compressed ? CUPS_RASTER_WRITE_COMPRESSED
                     : version == raster_version::pwg         ? CUPS_RASTER_WRITE_PWG
                                                              : CUPS_RASTER_WRITE;
  cups_raster_t *r = cupsRasterOpenIO(append_to_bytes, &out, mode);
  for (const page_spec &p : pages) {
    cups_page_header2_t h = header_for(p);
    cupsRasterWriteHeader2(r, &h);
    bytes data = p.data();
    if (!data.empty())
      cupsRasterWritePixels(r, data.data(), static_cast<unsigned>(data.size()));
  }
  cupsRasterClose(r);
  if (version == raster_version::v1) {
    bytes v1(4);
    const uint32_t sync = CUPS_RASTER_SYNCv1;
    std::memcpy(v1.data(), &sync, 4);
    size_t at = 4;
    for (const page_spec &p : pages) {
      v1.insert(v1.end(), out.begin() + at, out.begin() + at + sizeof(cups_page_header_t));
      at += sizeof(cups_page_header2_t);
      v1.insert(v1.end(), out.begin() + at, out.begin() + at + p.size());
      at += p.size();
    }
    return v1;
  }
  return out;
}

/* ---------- PPD files ---------- */

/* A small PPD for model name with the given default choices; page sizes
 * 80x210mm (imageable right edge 204) and 58x210mm (136). */
inline std::string ppd_text(const std::string &model, const std::map<std::string, std::string> &defaults = {})
{
  std::string t = "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
                  "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"TEST.PPD\"\n"
                  "*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n*ModelName: \"Test Model\"\n";
  t += "*ShortNickName: \"" + model + "\"\n*NickName: \"Test " + model + "\"\n";
  t += "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
       "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n"
       "*cupsFilter: \"application/vnd.cups-raster 0 rastertoovik\"\n";
  std::string page = defaults.count("PageSize") ? defaults.at("PageSize") : "80x210mm";
  t += "*OpenUI *PageSize: PickOne\n*DefaultPageSize: " + page +
       "\n"
       "*PageSize 80x210mm: \"<</PageSize[204 595]>>setpagedevice\"\n"
       "*PageSize 58x210mm: \"<</PageSize[136 595]>>setpagedevice\"\n*CloseUI: *PageSize\n"
       "*DefaultImageableArea: " +
       page +
       "\n"
       "*ImageableArea 80x210mm: \"0 0 204 595\"\n*ImageableArea 58x210mm: \"0 0 136 595\"\n"
       "*DefaultPaperDimension: " +
       page +
       "\n"
       "*PaperDimension 80x210mm: \"204 595\"\n*PaperDimension 58x210mm: \"136 595\"\n";
  for (const auto &[keyword, value] : defaults) {
    if (keyword == "PageSize")
      continue;
    t += "*OpenUI *" + keyword + ": PickOne\n*Default" + keyword + ": " + value + "\n*" + keyword + " " + value +
         ": \"\"\n*CloseUI: *" + keyword + "\n";
  }
  return t;
}

/* ---------- running the filter ---------- */

struct run_result {
  int status = -1; /* exit status, or -1 when killed by a signal */
  int signal = 0;  /* the signal that ended it, or 0 */
  bytes out;       /* standard output: the printer stream */
  std::string err; /* standard error: the spooler's status lines */
};

struct run_options {
  std::vector<std::string> args;          /* argv[1..] */
  std::map<std::string, std::string> env; /* PPD, OVIK_TRACE, ... */
  bytes input;                            /* standard input */
  bool sigpipe_ignored = false;           /* else SIGPIPE default, as the spooler starts filters */
  const char *program = OVIK_FILTER_BIN;  /* the filter binary */
};

/* A null-terminated array of C strings (argv, envp) over copies of texts;
 * neither copied nor moved, so the pointers stay valid. */
struct c_strings {
  std::vector<std::string> texts;
  std::vector<char *> pointers;
  explicit c_strings(std::vector<std::string> t) : texts(std::move(t))
  {
    for (auto &text : texts)
      pointers.push_back(text.data());
    pointers.push_back(nullptr);
  }
  c_strings(const c_strings &) = delete;
  char **get() { return pointers.data(); }
};

/* The filter's argv: its name, then args. */
inline std::vector<std::string> filter_argv(const std::vector<std::string> &args)
{
  std::vector<std::string> argv = {"rastertoovik"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

/* NAME=value texts of an environment. */
inline std::vector<std::string> environment(const std::map<std::string, std::string> &env)
{
  std::vector<std::string> texts;
  for (const auto &[k, v] : env)
    texts.push_back(k + "=" + v);
  return texts;
}

/* Starts the filter binary with the signal state the spooler gives a filter:
 * every disposition default and no signal blocked, or SIGPIPE ignored as
 * under a parent that ignores it. Returns the pid; a failure throws with
 * its reason. */
inline pid_t spawn_filter(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                          const posix_spawn_file_actions_t *files, bool sigpipe_ignored = false,
                          const char *program = OVIK_FILTER_BIN)
{
  c_strings argv(filter_argv(args));
  c_strings envp(environment(env));
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigfillset(&defaults);
  sigemptyset(&none);
  if (sigpipe_ignored)
    sigdelset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  // An ignored SIGPIPE outside the default set stays ignored across exec.
  struct sigaction ignore {
  }, saved{};
  ignore.sa_handler = SIG_IGN;
  if (sigpipe_ignored)
    sigaction(SIGPIPE, &ignore, &saved);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program, files, &attr, argv.get(), envp.get());
  if (sigpipe_ignored)
    sigaction(SIGPIPE, &saved, nullptr);
  posix_spawnattr_destroy(&attr);
  if (rc != 0)
    fail_with_errno(std::string("posix_spawn ") + program, rc);
  return pid;
}

/* Waits for a process: its exit status (-1 when a signal ended it), and the
 * ending signal in *signal when asked. */
inline int wait_status(pid_t pid, int *signal = nullptr)
{
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR)
      fail_with_errno("waitpid");
  if (signal)
    *signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/* Runs the real filter binary with the given arguments, environment and
 * standard input; collects its output, its status lines and its status. */
inline run_result run_filter(const run_options &o)
{
  temp_dir dir;
  write_file(dir.file("stdin"), o.input);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, dir.file("stdin").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::map<std::string, std::string> env = {{"OVIK_TRACE", ""}, {"OVIK_HOLD", dir.file("hold")}};
  for (const auto &[k, v] : o.env)
    env[k] = v;
  pid_t pid = -1;
  try {
    pid = spawn_filter(o.args, env, &fa, o.sigpipe_ignored, o.program);
  } catch (...) {
    posix_spawn_file_actions_destroy(&fa);
    throw;
  }
  posix_spawn_file_actions_destroy(&fa);
  run_result r;
  r.status = wait_status(pid, &r.signal);
  r.out = read_file(dir.file("stdout"));
  r.err = read_text(dir.file("stderr"));
  return r;
}

/* A job: one raster stream through the filter with a PPD of the model and
 * the given PPD defaults and job options. */
inline run_result run_job(const std::string &model, const bytes &raster, const std::string &options = "",
                          const std::map<std::string, std::string> &ppd_defaults = {})
{
  temp_dir dir;
  write_text(dir.file("test.ppd"), ppd_text(model, ppd_defaults));
  run_options o;
  o.args = {"1", "user", "title", "1", options};
  o.env = {{"PPD", dir.file("test.ppd")}};
  o.input = raster;
  return run_filter(o);
}

/* ---------- capturing standard output in-process ---------- */

/* What fn writes on descriptor fd (and its stdio stream), read back. */
inline bytes capture_fd(int fd, FILE *stream, const std::function<void()> &fn)
{
  fflush(stream);
  std::string name = temp_root() + "/ovik-capture-XXXXXX";
  int file = mkstemp(name.data());
  if (file < 0)
    fail_with_errno("mkstemp " + name);
  int saved = dup(fd);
  dup2(file, fd);
  fn();
  fflush(stream);
  dup2(saved, fd);
  close(saved);
  bytes out = read_file(name);
  close(file);
  unlink(name.c_str());
  return out;
}

/* What fn writes on standard output (the printer stream). */
inline bytes capture_stdout(const std::function<void()> &fn)
{
  return capture_fd(1, stdout, fn);
}

/* What fn writes on standard error (the status lines). */
inline std::string capture_stderr(const std::function<void()> &fn)
{
  bytes err = capture_fd(2, stderr, fn);
  return std::string(err.begin(), err.end());
}

/* ---------- the printer stream, built from its format ---------- */

inline void put_le(bytes &b, uint64_t v, int n)
{
  for (int i = 0; i < n; i++)
    b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

/* A packet: magic, 0x01, kind, six fixed bytes, body length, body, CRC. */
inline bytes packet(uint8_t kind, std::array<uint8_t, 6> fixed, const bytes &body)
{
  bytes p = {0x1B, 0x1A, 0x01, kind};
  p.insert(p.end(), fixed.begin(), fixed.end());
  put_le(p, body.size(), 4);
  p.insert(p.end(), body.begin(), body.end());
  put_le(p, crc32(0xFFFFFFFFul, p.data() + 2, static_cast<uInt>(p.size() - 2)), 4);
  return p;
}

inline bytes density_packet(uint8_t d)
{
  return packet(0, {1, 0, 0, 0, 0, 0}, {2, 0, 1, 0xCB, 0, 1, d});
}
inline bytes paper_packet(uint8_t code)
{
  return packet(1, {1, 1, 1, 0, 0, 0}, {2, 0, 1, 0xCE, 0, 1, code});
}
inline bytes doc_start_packet()
{
  return packet(2, {1, 0, 0, 0, 0, 0}, {0x0A, 0, 1, 0});
}

inline bytes page_header_packet(unsigned bpl, unsigned rows, uint8_t flags, uint8_t seq)
{
  bytes body = {5, 0, 1, 1};
  put_le(body, bpl & 0xFFFF, 2);
  put_le(body, rows & 0xFFFF, 2);
  body.insert(body.end(), {flags, 1, seq, 0, 0, 0});
  return packet(3, {1, 0, 0, 0, 0, 0}, body);
}

inline bytes bitmap_packet(const bytes &rows, uint8_t seq)
{
  bytes body = {5, 0, seq, 0, 0, 0, 0, 0};
  put_le(body, rows.size(), 4);
  body.insert(body.end(), rows.begin(), rows.end());
  return packet(4, {2, 0, 0, 0, 0, 0}, body);
}

/* One page copy: its page header packet and its bitmap packet of the top rows. */
inline bytes page_copy(const page_spec &p, unsigned rows, uint8_t flags, uint8_t seq)
{
  bytes data = p.data();
  data.resize(static_cast<size_t>(rows) * p.bpl());
  return page_header_packet(p.bpl(), rows, flags, seq) + bitmap_packet(data, seq);
}

/* A blank strip in raster form: chunks of at most 255 one-byte rows. */
inline bytes raster_blank(int rows)
{
  bytes b;
  while (rows > 0) {
    int chunk = rows < 255 ? rows : 255;
    b = b + bytes{0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, static_cast<uint8_t>(chunk), 0x00} + bytes(chunk, 0);
    rows -= chunk;
  }
  return b;
}

/* A blank strip as paper feeds (the feed-step models). */
inline bytes feed_blank(int rows)
{
  bytes b;
  while (rows > 0) {
    int chunk = rows < 255 ? rows : 255;
    b = b + bytes{0x1B, 0x4A, static_cast<uint8_t>(chunk)};
    rows -= chunk;
  }
  return b;
}

inline const bytes full_cut = {0x1D, 0x56, 0x41, 0x00};
inline const bytes partial_cut = {0x1D, 0x56, 0x42, 0x00};

/* The start of every job whose settings leave density and paper type alone. */
inline bytes default_start()
{
  return paper_packet(0) + doc_start_packet();
}

/* Lines of a text. */
inline std::vector<std::string> lines(const std::string &text)
{
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    out.push_back(line);
  return out;
}

inline bool contains(const std::string &haystack, const std::string &needle)
{
  return haystack.find(needle) != std::string::npos;
}

} // namespace harness

#endif
