/*
 * test_sim.cpp - the printer simulator end to end: the real ovik-sim on a
 * free loopback port, driven over TCP as a driver or a printer application
 * would drive a printer. Replies are read back through the library's
 * parsers; job files are compared with what the decoder makes of the bytes
 * sent. Every wait is bounded; each test stops its simulator.
 */
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <poll.h>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "decoder.h"
#include "filter_harness.h"
#include "ovik_printer_helper_cmd.h"
#include "ovik_printer_model.h"
#include "ovik_status.h"
#include "ovik_tools.h"

using harness::bytes;
using harness::hex_bytes;
using harness::operator+;
using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

namespace {

constexpr uint32_t escpos = 0x1; /* class word of the ESC/POS-family printers */
constexpr auto reply_wait = milliseconds(5000);
constexpr auto silence_wait = milliseconds(300); /* how long "no answer" is watched */

/* A running ovik-sim with its standard output read line by line. */
struct sim_run {
  harness::temp_dir dir;
  pid_t pid = -1;
  int out_fd = -1;
  std::string pending;
  int port = 0;

  /* Starts ovik-sim --port 0 with the job folder and state file in dir, plus args. */
  explicit sim_run(std::vector<std::string> args)
  {
    std::vector<std::string> argv = {OVIK_SIM_BIN, "--port",          "0",          "--out", dir.file("jobs"),
                                     "--state",    dir.file("state"), "--max-time", "60",    "--idle-timeout",
                                     "20"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> cargv;
    for (std::string &a : argv)
      cargv.push_back(a.data());
    cargv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ) != 0)
      pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_fd = fds[0];
    std::string first = line();
    size_t colon = first.rfind(':');
    if (colon != std::string::npos)
      port = std::atoi(first.c_str() + colon + 1);
  }

  ~sim_run()
  {
    stop();
    if (out_fd >= 0)
      close(out_fd);
  }

  /* The next line of standard output, or "" when none comes within the wait. */
  std::string line(milliseconds wait = reply_wait)
  {
    auto until = steady::now() + wait;
    for (;;) {
      size_t end = pending.find('\n');
      if (end != std::string::npos) {
        std::string text = pending.substr(0, end);
        pending.erase(0, end + 1);
        return text;
      }
      int left = int(std::chrono::duration_cast<milliseconds>(until - steady::now()).count());
      pollfd p{out_fd, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0)
        return "";
      char buf[4096];
      ssize_t got = read(out_fd, buf, sizeof buf);
      if (got <= 0)
        return "";
      pending.append(buf, size_t(got));
    }
  }

  /* Ends the simulator (SIGTERM, then SIGKILL after 5 s); its exit status, or -1. */
  int stop()
  {
    if (pid <= 0)
      return -1;
    kill(pid, SIGTERM);
    int status = exit_status(milliseconds(5000));
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
    return status;
  }

  /* Waits for the simulator to exit by itself; its exit status, or -1. */
  int exit_status(milliseconds wait)
  {
    auto until = steady::now() + wait;
    while (pid > 0 && steady::now() < until) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(5));
    }
    return -1;
  }

  /* Rewrites the state file in one step (a new file renamed over the old). */
  void set_state(const std::string &word)
  {
    harness::write_text(dir.file("state.new"), word + "\n");
    ASSERT_EQ(std::rename(dir.file("state.new").c_str(), dir.file("state").c_str()), 0);
  }

  /* A file of job n: "prn", "txt" or "png". */
  std::string job_file(unsigned n, const char *kind)
  {
    char name[32];
    std::snprintf(name, sizeof name, "jobs/job-%03u.%s", n, kind);
    return dir.file(name);
  }
};

/* A connection to the simulator; -1 when refused (errno says why). */
int connect_to(int port, int send_buffer = 0)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (send_buffer)
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

/* Sends all bytes (blocking). */
bool send_all(int fd, const bytes &b)
{
  for (size_t done = 0; done < b.size();) {
    ssize_t n = send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
    if (n <= 0)
      return false;
    done += size_t(n);
  }
  return true;
}

/* Reads up to n bytes, waiting at most wait for them. */
bytes receive(int fd, size_t n, milliseconds wait = reply_wait)
{
  bytes got;
  auto until = steady::now() + wait;
  while (got.size() < n) {
    int left = int(std::chrono::duration_cast<milliseconds>(until - steady::now()).count());
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0)
      break;
    uint8_t buf[256];
    ssize_t r = recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
    if (r <= 0)
      break;
    got.insert(got.end(), buf, buf + r);
  }
  return got;
}

/* Sends a request and reads its reply of n bytes. */
bytes ask(int fd, const bytes &request, size_t n)
{
  EXPECT_TRUE(send_all(fd, request));
  return receive(fd, n);
}

/* Whether the peer closes the connection within the wait (end of file or reset). */
bool closed_by_peer(int fd, milliseconds wait = reply_wait)
{
  auto until = steady::now() + wait;
  while (steady::now() < until) {
    pollfd p{fd, POLLIN, 0};
    int left = int(std::chrono::duration_cast<milliseconds>(until - steady::now()).count());
    if (poll(&p, 1, std::max(left, 0)) <= 0)
      return false;
    uint8_t buf[4096];
    if (recv(fd, buf, sizeof buf, 0) <= 0)
      return true;
  }
  return false;
}

/* Status flags 4-7 (offline, cover open, near end, paper end) as "oCne" letters or '-'. */
std::string flag_text(const uint8_t *flags)
{
  std::string text;
  const char letters[] = "ocne";
  for (int i = 4; i < 8; ++i)
    text += flags[i] == 0xEE ? '?' : flags[i] ? letters[i - 4] : '-';
  return text;
}

/* The summary line the simulator prints for a job of these bytes. */
std::string expected_job_line(unsigned n, const bytes &sent, const char *end, const std::string &extra = "",
                              const std::string &tools = " drawer1=0 drawer2=0 graphics_stored=0 nv_graphics=0")
{
  return "job=" + std::to_string(n) + " bytes=" + std::to_string(sent.size()) + " end=" + end + extra + " " +
         format_summary(decode_stream(sent).summary) + tools;
}

/* The engine's status port over a socket to the simulator. */
struct socket_port {
  int fd;
  static int send(void *ctx, const uint8_t *data, size_t length)
  {
    return send_all(static_cast<socket_port *>(ctx)->fd, bytes(data, data + length)) ? 0 : -1;
  }
  static int read_byte(void *ctx, int timeout_ms, uint8_t *byte)
  {
    bytes got = receive(static_cast<socket_port *>(ctx)->fd, 1, milliseconds(timeout_ms));
    if (got.empty())
      return 0;
    *byte = got[0];
    return 1;
  }
};

TEST(Sim, TheEnginesStatusQueryReadsEveryConditionBack)
{
  struct row {
    const char *condition;
    int result;
    unsigned found;
  };
  const row rows[] = {
      {"ready", OVIK_STATUS_ANSWERED, 0},
      {"near-end", OVIK_STATUS_ANSWERED, OVIK_STATUS_MEDIA_LOW},
      {"paper-out", OVIK_STATUS_ANSWERED, OVIK_STATUS_MEDIA_EMPTY},
      {"cover-open", OVIK_STATUS_ANSWERED, OVIK_STATUS_COVER_OPEN},
      {"offline", OVIK_STATUS_ANSWERED, OVIK_STATUS_OFFLINE},
      {"silent", OVIK_STATUS_NO_REPLY, 0xFFu},
  };
  sim_run sim({});
  ASSERT_GT(sim.port, 0);
  socket_port connection{connect_to(sim.port)};
  ASSERT_GE(connection.fd, 0) << strerror(errno);
  ovik_status_port port = {socket_port::send, socket_port::read_byte, nullptr, &connection, nullptr};
  for (const row &r : rows) {
    SCOPED_TRACE(r.condition);
    sim.set_state(r.condition);
    unsigned found = 0xFFu;
    int waited = -1;
    EXPECT_EQ(ovik_status_query(escpos, &port, 300, &found, &waited), r.result);
    EXPECT_EQ(found, r.found);
    EXPECT_EQ(waited > 0, r.result == OVIK_STATUS_NO_REPLY) << waited;
  }
  close(connection.fd);
}

TEST(StatusQuery, AReplyThatFailsItsFixedBitsIsNotBelieved)
{
  // Bit 4 clear: no real-time status byte, whatever its other bits say.
  struct fake {
    uint8_t reply;
    int sent = 0;
  } printer{0x08};
  ovik_status_port port = {[](void *ctx, const uint8_t *, size_t) {
                             static_cast<fake *>(ctx)->sent++;
                             return 0;
                           },
                           [](void *ctx, int, uint8_t *byte) {
                             *byte = static_cast<fake *>(ctx)->reply;
                             return 1;
                           },
                           nullptr, &printer, nullptr};
  unsigned found = 0xFFu;
  int waited = 0;
  EXPECT_EQ(ovik_status_query(escpos, &port, 100, &found, &waited), OVIK_STATUS_BAD_REPLY);
  EXPECT_EQ(found, 0xFFu);
  EXPECT_EQ(printer.sent, 1);
  // A printer class without the command set is not asked at all.
  EXPECT_EQ(ovik_status_query(0x2, &port, 100, &found, &waited), OVIK_STATUS_UNSUPPORTED);
  EXPECT_EQ(printer.sent, 1);
}

} // namespace

// Each condition against each request: the reply is read back through the
// library's parser (fixed bits included) and gives back that condition; the
// whole replies are those of the printer; silent answers nothing.
TEST(Sim, EveryRequestIsAnsweredFromTheCondition)
{
  struct row {
    const char *condition;
    const char *flags;   /* what flags 4-7 must say: offline, cover, near end, paper end */
    const char *replies; /* DLE EOT 1-4, GS r 1, GS r 2 (drawer: always 00), ASB after GS a 1 */
  };
  const row table[] = {
      {"ready", "----", "12 12 12 12 00 00 10 00 00 00"},     {"near-end", "--n-", "12 12 12 1E 03 00 10 00 03 00"},
      {"paper-out", "o-ne", "1A 32 12 7E 0F 00 18 00 0F 00"}, {"cover-open", "oc--", "1A 16 12 12 00 00 38 00 00 00"},
      {"offline", "o---", "1A 52 52 12 00 00 18 40 00 00"},
  };
  sim_run sim({"--firmware", "1.25.3"});
  ASSERT_GT(sim.port, 0);
  for (const row &r : table) {
    SCOPED_TRACE(r.condition);
    sim.set_state(r.condition);
    int fd = connect_to(sim.port);
    ASSERT_GE(fd, 0);
    bytes replies;
    std::string flags;
    for (uint8_t n = 1; n <= 4; ++n) {
      bytes b = ask(fd, {0x10, 0x04, n}, 1);
      ASSERT_EQ(b.size(), 1u) << "DLE EOT " << int(n);
      uint8_t f[8];
      std::memset(f, 0xEE, sizeof f);
      EXPECT_EQ(ovik_cmd_parse_real_time_status(escpos, n, b[0], f), 0) << "DLE EOT " << int(n);
      replies.push_back(b[0]);
      if (n == 1)
        flags += f[4] ? 'o' : '-';
      if (n == 2)
        flags += f[5] ? 'c' : '-';
      if (n == 4)
        flags += std::string(1, f[6] ? 'n' : '-') + (f[7] ? 'e' : '-');
    }
    EXPECT_EQ(flags, r.flags) << "from DLE EOT";
    for (uint8_t n = 1; n <= 2; ++n) {
      bytes b = ask(fd, {0x1D, 0x72, n}, 1);
      ASSERT_EQ(b.size(), 1u) << "GS r " << int(n);
      uint8_t f[8];
      std::memset(f, 0xEE, sizeof f);
      EXPECT_EQ(ovik_cmd_parse_transmit_status(escpos, n, b[0], f), 0) << "GS r " << int(n);
      replies.push_back(b[0]);
      if (n == 1) {
        EXPECT_EQ(flag_text(f).substr(2), std::string(r.flags).substr(2)) << "from GS r 1";
      }
    }
    bytes asb = ask(fd, hex_bytes("1D 61 01"), 4);
    ASSERT_EQ(asb.size(), 4u);
    uint8_t f[8];
    std::memset(f, 0xEE, sizeof f);
    EXPECT_EQ(ovik_cmd_parse_ASB_status(escpos, asb.data(), f), 0);
    EXPECT_EQ(flag_text(f), r.flags) << "from ASB";
    replies.insert(replies.end(), asb.begin(), asb.end());
    EXPECT_EQ(harness::hex(replies), harness::hex(hex_bytes(r.replies)));

    bytes version = ask(fd, hex_bytes("1D 49 41"), 9);
    EXPECT_EQ(harness::hex(version), harness::hex(bytes{'_', '1', '.', '2', '5', '.', '3', ' ', 0}));
    std::string text(version.begin(), version.end());
    int numbers[3] = {-1, -1, -1};
    EXPECT_EQ(ovik_cmd_parse_printer_version(escpos, text.data(), numbers, 3), 0);
    EXPECT_EQ(std::vector<int>(numbers, numbers + 3), (std::vector<int>{1, 25, 3}));
    close(fd);
    EXPECT_TRUE(sim.line().starts_with("job="));
  }

  // Silent: not one byte comes back, whatever is asked.
  sim.set_state("silent");
  int fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_all(fd, hex_bytes("10 04 01 10 04 02 10 04 03 10 04 04 1D 72 01 1D 72 02 1D 49 41 1D 61 01")));
  EXPECT_EQ(harness::hex(receive(fd, 1, silence_wait)), "");
  close(fd);
}

// The state file is read at each request and, with ASB on, polled: a change
// mid-connection shows in the next reply and comes as an ASB message; a
// missing file or an unknown word is the start condition.
TEST(Sim, ChangesOfConditionReachTheNextReplyAndAutomaticStatusBack)
{
  sim_run sim({"--condition", "offline"});
  int fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  const bytes dle_eot_4 = hex_bytes("10 04 04"), dle_eot_1 = hex_bytes("10 04 01");
  EXPECT_EQ(harness::hex(ask(fd, dle_eot_1, 1)), "1A"); // no state file yet: offline
  sim.set_state("ready");
  EXPECT_EQ(harness::hex(ask(fd, dle_eot_4, 1)), "12");
  sim.set_state("near-end");
  EXPECT_EQ(harness::hex(ask(fd, dle_eot_4, 1)), "1E");
  sim.set_state("no-such-word");
  EXPECT_EQ(harness::hex(ask(fd, dle_eot_1, 1)), "1A");

  sim.set_state("near-end");
  EXPECT_EQ(harness::hex(ask(fd, hex_bytes("1D 61 0F"), 4)), "10 00 03 00"); // at enabling
  sim.set_state("cover-open");
  EXPECT_EQ(harness::hex(receive(fd, 4)), "38 00 00 00"); // on the change, unasked
  sim.set_state("silent");
  EXPECT_EQ(harness::hex(receive(fd, 1, silence_wait)), "");
  sim.set_state("ready");
  EXPECT_EQ(harness::hex(receive(fd, 4)), "10 00 00 00");
  // Off again: a change is only seen when asked for (the reply to the
  // request behind GS a 0 shows that GS a 0 has been read).
  EXPECT_EQ(harness::hex(ask(fd, hex_bytes("1D 61 00 10 04 04"), 1)), "12");
  sim.set_state("paper-out");
  EXPECT_EQ(harness::hex(receive(fd, 1, silence_wait)), "");
  EXPECT_EQ(harness::hex(ask(fd, dle_eot_4, 1)), "7E");
  close(fd);
}

// A job of the real filter (a page, a feed and a cut), then commands, a
// stretch of garbage and requests, sent in uneven pieces: each request is
// answered in stream order, and at the client's end of file the simulator
// closes the connection and leaves the stream as sent, the listing and the
// preview that ovik-decode makes of it, and the job's line.
TEST(Sim, AJobArrivesWholeWithItsListingAndPreview)
{
  harness::page_spec page;
  page.height = 600;
  page.pixels.assign(page.size(), 0);
  for (size_t i = 0; i < page.pixels.size(); ++i)
    page.pixels[i] = uint8_t((i / 72) % 7 == 0 ? 0xFF : i * 31 % 253);
  harness::run_result filter =
      harness::run_job(ovik_printer_model_brief_find_by_id(0x1001)->name, harness::make_raster({page}),
                       "PostPrintAction=2 CutMode=2 CutPaperLength=10");
  ASSERT_EQ(filter.status, 0) << filter.err;
  const bytes &job = filter.out;
  ASSERT_GT(job.size(), page.size());
  bytes tail = hex_bytes("1B 4A 40 41 42 43 44 1D 56 41 00 1B 33 18 0A 0A");
  // Pieces: inside the first packet's header, inside the page, after a
  // request, inside a command, inside garbage.
  auto at = [&](size_t n) { return job.begin() + long(n); };
  std::vector<std::pair<bytes, size_t>> pieces = {
      {bytes(at(0), at(5)), 0},
      {bytes(at(5), at(job.size() / 2)), 0},
      {bytes(at(job.size() / 2), job.end()) + hex_bytes("10 04 02"), 1},
      {hex_bytes("1D"), 0},
      {hex_bytes("72 01") + bytes(tail.begin(), tail.begin() + 5), 1},
      {bytes(tail.begin() + 5, tail.end()) + hex_bytes("1D 49 41"), 8},
  };
  sim_run sim({"--width", "576"});
  int fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  bytes sent, replies;
  auto wall = [] { return std::chrono::system_clock::now().time_since_epoch(); };
  auto last_sent = wall(), last_answered = wall();
  for (const auto &[piece, reply_size] : pieces) {
    last_sent = wall();
    ASSERT_TRUE(send_all(fd, piece));
    sent = sent + piece;
    if (reply_size)
      replies = replies + receive(fd, reply_size);
    else
      std::this_thread::sleep_for(milliseconds(20)); // let the simulator read the piece alone
    last_answered = wall();
  }
  EXPECT_EQ(harness::hex(replies), harness::hex(hex_bytes("12 00 5F 31 2E 30 2E 30 20 00")));
  // The stream file's time is its last byte's, not its writing's after the close.
  std::this_thread::sleep_for(milliseconds(300));
  shutdown(fd, SHUT_WR);
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);

  EXPECT_EQ(sim.line(), expected_job_line(1, sent, "eof"));
  EXPECT_STREAM(harness::read_file(sim.job_file(1, "prn")), sent);
  struct stat st {};
  ASSERT_EQ(stat(sim.job_file(1, "prn").c_str(), &st), 0);
  auto arrived = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
  EXPECT_TRUE(arrived >= last_sent && arrived <= last_answered)
      << "the .prn time is " << (arrived - last_sent).count() << " ns after the last piece was sent";
  decode_result decoded = decode_stream(sent);
  std::string listing;
  for (const decode_record &rec : decoded.records)
    listing += format_record(rec, sent) + "\n";
  listing += format_summary(decoded.summary) + "\n";
  EXPECT_EQ(harness::read_text(sim.job_file(1, "txt")), listing);
  EXPECT_NE(listing.find("unknown  4 bytes: 41 42 43 44"), std::string::npos) << listing;

  render_options options;
  options.paper_width = 576;
  std::string png = sim.dir.file("expected.png");
  ASSERT_EQ(write_png(render_records(decoded, sent, options), png.c_str()), "");
  bytes preview = harness::read_file(sim.job_file(1, "png"));
  EXPECT_GT(preview.size(), 8u);
  EXPECT_TRUE(preview == harness::read_file(png)) << "the preview differs from ovik-decode's";
}

// Paper out after N bytes: requests ending by byte N see the paper, later
// ones and the ASB message see it out, until the state file is rewritten
// (paper loaded); the job's line says where the paper ran out.
TEST(Sim, PaperRunsOutAfterTheBytesGiven)
{
  sim_run sim({"--paper-out-after", "1000"});
  sim.set_state("ready");
  int fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  bytes start = hex_bytes("1D 61 01");
  bytes filler = harness::feed_blank(255 * 331) + hex_bytes("0A"); // 994 bytes of feeds
  bytes upto = start + filler + hex_bytes("10 04 04");             // ends at byte 1000
  ASSERT_EQ(upto.size(), 1000u);
  ASSERT_TRUE(send_all(fd, upto));
  EXPECT_EQ(harness::hex(receive(fd, 9)), "10 00 00 00 12 18 00 0F 00"); // ASB, the reply, then the ASB of paper out
  EXPECT_EQ(harness::hex(ask(fd, hex_bytes("10 04 04"), 1)), "7E");
  sim.set_state("ready");
  EXPECT_EQ(harness::hex(receive(fd, 4)), "10 00 00 00");
  EXPECT_EQ(harness::hex(ask(fd, hex_bytes("10 04 04"), 1)), "12");
  shutdown(fd, SHUT_WR);
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);
  EXPECT_EQ(sim.line(), expected_job_line(1, upto + hex_bytes("10 04 04 10 04 04"), "eof", " paper_out_at=1000"));
}

// Disconnect after N bytes: the simulator takes exactly N bytes, then closes
// the connection on its own; an idle connection ends at the idle timeout.
TEST(Sim, DisconnectsAfterTheBytesGivenAndWhenIdle)
{
  sim_run sim({"--disconnect-after", "5000", "--idle-timeout", "0.3"});
  bytes job(20000);
  for (size_t i = 0; i < job.size(); ++i)
    job[i] = uint8_t(i % 251);
  int fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  timeval two_seconds{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &two_seconds, sizeof two_seconds);
  send_all(fd, job); // may fail part-way: the simulator hangs up
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);
  bytes taken(job.begin(), job.begin() + 5000);
  EXPECT_EQ(sim.line(), expected_job_line(1, taken, "disconnect"));
  EXPECT_STREAM(harness::read_file(sim.job_file(1, "prn")), taken);

  fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_all(fd, hex_bytes("1B 40")));
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);
  EXPECT_EQ(sim.line(), expected_job_line(2, hex_bytes("1B 40"), "idle"));
}

// Slow draining: with the simulator reading 50000 bytes a second, a sender
// finds its socket full (it blocks), has handed over no more than the rate
// allows plus the socket buffers after 0.2 s, and the job still arrives whole.
TEST(Sim, SlowDrainingHoldsTheSenderBackAndTheJobStillArrives)
{
  constexpr size_t rate = 50000, size = 80000;
  sim_run sim({"--drain-rate", std::to_string(rate)});
  bytes job(size);
  for (size_t i = 0; i < size; ++i)
    job[i] = uint8_t(i * 7);
  auto t0 = steady::now();
  int fd = connect_to(sim.port, 16384);
  ASSERT_GE(fd, 0);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  size_t sent = 0, blocked = 0;
  std::optional<size_t> at_200ms;
  while (sent < size && steady::now() - t0 < milliseconds(20000)) {
    ssize_t n = send(fd, job.data() + sent, size - sent, MSG_NOSIGNAL);
    if (n > 0)
      sent += size_t(n);
    else if (n < 0 && errno == EAGAIN) {
      ++blocked;
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 50);
    } else
      break;
    if (!at_200ms && steady::now() - t0 >= milliseconds(200))
      at_200ms = sent;
  }
  ASSERT_EQ(sent, size);
  EXPECT_GT(blocked, 0u);
  ASSERT_TRUE(at_200ms.has_value());
  EXPECT_LE(*at_200ms, rate / 5 + 40000) << "the simulator read faster than its rate";
  shutdown(fd, SHUT_WR);
  EXPECT_TRUE(closed_by_peer(fd, milliseconds(10000)));
  close(fd);
  EXPECT_EQ(sim.line(), expected_job_line(1, job, "eof"));
  EXPECT_STREAM(harness::read_file(sim.job_file(1, "prn")), job);
}

// Refusing: while nothing listens a connection attempt gets ECONNREFUSED;
// the port file names the port; once listening the job goes through, and
// with --jobs 1 the simulator then exits by itself with status 0.
TEST(Sim, RefusesConnectionsThenServesAndExits)
{
  harness::temp_dir other;
  sim_run sim({"--refuse-for", "0.5", "--jobs", "1", "--port-file", other.file("port")});
  ASSERT_GT(sim.port, 0);
  EXPECT_EQ(harness::read_text(other.file("port")), std::to_string(sim.port) + "\n");
  errno = 0;
  EXPECT_EQ(connect_to(sim.port), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_EQ(sim.line(), "ovik-sim: listening on 127.0.0.1:" + std::to_string(sim.port));
  int fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(send_all(fd, harness::full_cut));
  shutdown(fd, SHUT_WR);
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);
  EXPECT_EQ(sim.line(), expected_job_line(1, harness::full_cut, "eof"));
  EXPECT_EQ(sim.exit_status(milliseconds(5000)), 0);
}

// SIGTERM mid-job: the job under way is finished and written, and the
// simulator exits with status 0.
TEST(Sim, SigtermFinishesTheJobUnderWay)
{
  sim_run sim({});
  int fd = connect_to(sim.port);
  ASSERT_GE(fd, 0);
  // The reply shows that the simulator has the bytes (one send, one read);
  // the job ends inside a command.
  bytes part = harness::default_start() + hex_bytes("10 04 01 1B 4A");
  EXPECT_EQ(harness::hex(ask(fd, part, 1)), "12");
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_EQ(sim.line(), expected_job_line(1, part, "stopped"));
  EXPECT_STREAM(harness::read_file(sim.job_file(1, "prn")), part);
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);
}

// The printer tools of the engine against the simulator's NV graphics memory:
// logos stored under the key codes a job prints, listed over two blocks of
// the key code list, refused when the memory is full, kept in the memory
// folder when the simulator ends, drawn when printed, deleted; the model ID
// of --model, and a drawer pulse counted on its pin.
TEST(Sim, TheToolsKeepLogosInTheNvMemoryAcrossRuns)
{
  harness::temp_dir kept;
  std::vector<std::string> args = {"--memory", kept.file("nv"), "--nv-capacity", "1000", "--model", "Keel 58"};
  dev_mode printer;
  init_dev_mode(&printer);
  printer.type = 0x10201;
  printer.printer_width = 48;
  const bytes logo_rows = hex_bytes("F0 0F 81 18 FF FF");
  ovik_bitmap logo = {16, 3, 2, logo_rows.data()};
  const uint8_t dot = 0x80;
  ovik_bitmap small = {1, 1, 1, &dot};
  {
    sim_run sim(args);
    socket_port connection{connect_to(sim.port)};
    ASSERT_GE(connection.fd, 0);
    ovik_status_port port = {socket_port::send, socket_port::read_byte, nullptr, &connection, nullptr};
    char message[256];
    ASSERT_EQ(ovik_tools_store_logo(&printer, &port, 2, &logo, message, sizeof message), 0) << message;
    for (int32_t n = 10; n < 50; n++)
      ASSERT_EQ(ovik_tools_store_logo(&printer, &port, n, &small, message, sizeof message), 0) << message;
    // 6 + 40 bytes held: a logo of 48 x 20 bytes does not fit in the 954 left.
    std::vector<uint8_t> full(48 * 20, 0xFF);
    ovik_bitmap too_big = {384, 20, 48, full.data()};
    ASSERT_EQ(ovik_tools_store_logo(&printer, &port, 3, &too_big, message, sizeof message), 0) << message;
    int free_bytes = 0, total = 0;
    EXPECT_EQ(ovik_tools_capacity(&printer, &port, 2000, &free_bytes, &total, message, sizeof message), 0) << message;
    EXPECT_EQ(free_bytes, 954);
    EXPECT_EQ(total, 1000);
    std::vector<ovik_nv_graphic> listed(50);
    int count = 0;
    EXPECT_EQ(ovik_tools_list_logos(&printer, &port, 2000, listed.data(), 50, &count, message, sizeof message), 0)
        << message;
    ASSERT_EQ(count, 41);
    EXPECT_EQ(listed[0].logo, 2);
    EXPECT_EQ(listed[40].logo, 49);
    ovik_identity id;
    EXPECT_EQ(ovik_tools_identify(&printer, &port, 2000, &id, message, sizeof message), 0) << message;
    EXPECT_EQ(id.model_id, 0x86); // Keel 58 is model 0x1486
    EXPECT_EQ(std::vector<int>(id.firmware, id.firmware + 3), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(ovik_tools_open_drawer(&printer, &port, 2, message, sizeof message), 0);
    close(connection.fd);
    std::string line = sim.line();
    EXPECT_TRUE(line.ends_with(" drawer1=0 drawer2=1 graphics_stored=41 nv_graphics=41")) << line;
  }
  const bytes pbm_header = {'P', '4', '\n', '1', '6', ' ', '3', '\n'};
  EXPECT_EQ(harness::read_file(kept.file("nv/nv-3031.pbm")), pbm_header + logo_rows);

  // A second run: logo 2 is still there and prints as stored, centred.
  sim_run sim(args);
  bytes print = hex_bytes("1B 61 01 1D 28 4C 06 00 30 45 30 31 01 01");
  int fd = connect_to(sim.port);
  ASSERT_TRUE(send_all(fd, print));
  shutdown(fd, SHUT_WR);
  EXPECT_TRUE(closed_by_peer(fd));
  close(fd);
  EXPECT_EQ(sim.line(),
            expected_job_line(1, print, "eof", "", " drawer1=0 drawer2=0 graphics_stored=0 nv_graphics=41"));
  bytes as_raster = hex_bytes("1B 61 01 1D 76 30 00 02 00 03 00") + logo_rows;
  render_options options;
  options.paper_width = 384;
  ASSERT_EQ(
      write_png(render_records(decode_stream(as_raster), as_raster, options), sim.dir.file("expected.png").c_str()),
      "");
  EXPECT_TRUE(harness::read_file(sim.job_file(1, "png")) == harness::read_file(sim.dir.file("expected.png")))
      << "the stored logo is not drawn as the same image printed as a raster image";

  // Deleted: gone from the list and from the folder.
  socket_port connection{connect_to(sim.port)};
  ovik_status_port port = {socket_port::send, socket_port::read_byte, nullptr, &connection, nullptr};
  EXPECT_EQ(ovik_tools_delete_logo(&printer, &port, 2, nullptr, 0), 0);
  EXPECT_EQ(ovik_tools_delete_logo(&printer, &port, 10, nullptr, 0), 0);
  std::vector<ovik_nv_graphic> listed(50);
  int count = 0;
  EXPECT_EQ(ovik_tools_list_logos(&printer, &port, 2000, listed.data(), 50, &count, nullptr, 0), 0);
  EXPECT_EQ(count, 39);
  EXPECT_EQ(listed[0].logo, 11);
  close(connection.fd);
  EXPECT_TRUE(sim.line().ends_with(" graphics_stored=0 nv_graphics=39"));
  EXPECT_FALSE(std::filesystem::exists(kept.file("nv/nv-3031.pbm")));
}
