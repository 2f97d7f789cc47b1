/*
 * ovik-sim - a printer on a loopback port: takes each connection as a job,
 * reads it with the stream decoder as the printer would, answers the status
 * requests from a condition that a state file can change, and leaves each
 * job's stream, listing and preview in a folder.
 *
 * One thread, one connection at a time, as a printer's raw port serves
 * them; further connections wait in the listen queue. Every wait is a poll
 * with a bounded timeout, so signals, the run time limit and the idle
 * timeout are seen within a tick.
 */
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decoder.h"
#include "ovik_printer_model.h"
#include "status.h"

namespace {

constexpr const char *help_text = R"(usage: ovik-sim [options]

A printer simulator for the driver's tests and for trying a queue without a
printer. It listens on 127.0.0.1 only (never another address), like a network
printer's raw port; each connection is one job, served one at a time. Every
byte is read with the stream decoder, as ovik-decode reads a file: packets
and their CRCs, commands, unknown bytes, lost sync.

For each job it writes, in the output folder, job-NNN.prn (the bytes as
received; its modification time is when the last of them arrived), job-NNN.txt (the listing ovik-decode prints for them) and
job-NNN.png (the preview), and prints on standard output one line:
  job=N bytes=N end=WHY [paper_out_at=N] summary: ... drawer1=N drawer2=N
    graphics_stored=N nv_graphics=N
with the summary line of ovik-decode, then the pulses on each drawer's pin
(ESC p, DLE DC4 1), the graphics the job stored, and the NV graphics held
after it. WHY: eof (the client shut its sending
side or closed), disconnect (--disconnect-after), idle (--idle-timeout),
reset (the connection failed), too-large (256 MiB), stopped (signal or
--max-time). At an end of file the job is finished and the connection closed.

Requests are answered when the decoder reaches them, in stream order:
  DLE EOT n (10 04 n), n 1-4   real-time status, one byte
  GS r n (1D 72 n), n 1, 2     paper sensor status; drawer connector (always 00)
  GS I A (1D 49 41)            "_" VERSION " " and a NUL
  GS a n (1D 61 n)             n != 0: automatic status back (4 bytes) at once
                               and at every change of condition; n = 0: off
  GS I 1 (1D 49 01 or 31)      the model ID: the low byte of the model's id
  GS ( L fn 48, 51, 52         the NV graphics memory, its free part, the free
                               download memory: "7", "0" "1" or "2", the bytes
                               in decimal, a NUL
  GS ( L fn 64                 the key codes of the stored NV graphics: "7r",
                               "@" (last block) or "A" (more follow), at most
                               40 key code pairs, a NUL; the next block after
                               the host's ACK (06), the same after NAK (15),
                               none after CAN (18)
Other requests get no answer.

NV graphics memory: defines (GS ( L fn 67 and 68) store a graphic, replacing
one of the same key codes, when it fits in what is free; deletes (fn 65 and
66) remove them. The memory lasts across connections, and with --memory it
is kept in a folder (nv-K1K2.pbm files, read at start), so it also outlives
the simulator. Download graphics last for the run. Prints of stored graphics
are drawn in the preview as the memory held them.

Conditions: ready, near-end (paper near its end), paper-out, cover-open,
offline (offline for another reason: an error that recovers by itself),
silent (answers nothing). The state file holds one of these words; it is
read again at every request and, while automatic status back is on, every
50 ms. A missing file or an unknown word means the start condition.

options:
  --port N              TCP port (default 9100); 0 picks a free one
  --port-file FILE      write the port there (written whole, then renamed)
  --out DIR             folder for the job files (default .; made if missing)
  --state FILE          the state file
  --condition WORD      start condition (default ready)
  --firmware X.Y.Z      version in the GS I A reply (default 1.0.0; 0-254 each)
  --width DOTS          preview paper width in dots
  --model NAME          a catalogue model: the preview paper width (--width
                        wins) and the model ID (default 0x1001's, 01)
  --memory DIR          keep the NV graphics memory in this folder
  --nv-capacity BYTES   NV graphics memory size (default 262144)
faults:
  --paper-out-after N   after N bytes of a job the paper is out, to the job's
                        end or until the state file is rewritten (paper loaded);
                        requests ending after byte N are answered so
  --disconnect-after N  read N bytes of a job, then close the connection
  --disconnect-times K  only in the first K jobs that get so far (default: all)
  --pause-after N       after N bytes of a job, read nothing for a while (a
  --pause-for SECONDS   printer that is busy or stuck): that long (default 12)
  --drain-rate N        read at most N bytes per second, with a small receive
                        buffer, so the sender blocks
  --buffer N            offline (paper out, cover open, an error), take at
                        most N more bytes of print data (default 4096) and no
                        more until the condition clears; requests in them are
                        answered; -1: take everything whatever the condition
  --refuse              listen on nothing: connecting fails with ECONNREFUSED
  --refuse-for SECONDS  refuse that long, then listen
limits:
  --jobs N              exit after N jobs
  --max-time SECONDS    exit after this run time (default 300)
  --idle-timeout SEC    end a job after this long without a byte (default 30)
  --help                this text

The first line on standard output names the port ("ovik-sim: listening on
127.0.0.1:PORT", or "refusing on" first). SIGTERM and SIGINT end the run:
the job under way is finished and written, everything is closed. The
simulator starts no processes.

exit status: 0 after a signal, after --jobs jobs, or at --max-time without
--jobs; 1 at --max-time before --jobs jobs; 2 bad arguments, or the port,
the output folder or the memory folder could not be set up.
)";

using steady = std::chrono::steady_clock;

constexpr size_t max_job_bytes = size_t(256) << 20;
constexpr int tick_ms = 50; /* longest poll: signals, state polling, limits */

/* What the command line asks for. */
struct sim_settings {
  int port = 9100;
  const char *port_file = nullptr;
  std::string out_dir = ".";
  const char *state_file = nullptr;
  condition start = condition::ready;
  std::string firmware = "1.0.0";
  uint32_t width = 0;
  uint8_t model_id = 0x01;
  const char *memory_folder = nullptr;
  long long nv_capacity = 262144;
  long long paper_out_after = -1;
  long long disconnect_after = -1;
  long long disconnect_times = -1; /* negative: every job */
  long long pause_after = -1;
  double pause_for = 12;
  long long drain_rate = 0;
  long long buffer = 4096; /* bytes taken while offline; negative: no limit */
  double refuse_for = 0;   /* seconds; negative: the whole run */
  unsigned jobs = 0;
  double max_time = 300;
  double idle_timeout = 30;
};

volatile sig_atomic_t stop_flag = 0;

/* SIGTERM and SIGINT: only ask the loops to stop. */
void on_signal(int)
{
  stop_flag = 1;
}

/* Seconds from a to b. */
double seconds_between(steady::time_point a, steady::time_point b)
{
  return std::chrono::duration<double>(b - a).count();
}

/* A poll timeout of at most one tick, and no later than the time point. */
int timeout_until(steady::time_point when)
{
  double left = seconds_between(steady::now(), when) * 1000;
  return int(std::clamp(left + 1, 0.0, double(tick_ms)));
}

/* What identifies one version of the state file: a rewrite changes it. */
struct file_identity {
  bool exists = false;
  ino_t inode = 0;
  off_t size = 0;
  long long mtime_ns = 0;
  bool operator==(const file_identity &) const = default;
};

/* The state file's identity now. */
file_identity identify(const char *path)
{
  struct stat st;
  if (!path || stat(path, &st) != 0)
    return {};
  return {true, st.st_ino, st.st_size, (long long)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec};
}

/* The condition the state file names, or the start condition. */
condition read_state(const sim_settings &s)
{
  if (!s.state_file)
    return s.start;
  int fd = open(s.state_file, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return s.start;
  char text[64];
  ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  std::string all(text, size_t(std::max<ssize_t>(got, 0)));
  size_t from = all.find_first_not_of(" \t\r\n");
  std::string word = from == std::string::npos ? "" : all.substr(from, all.find_first_of(" \t\r\n", from) - from);
  condition c = s.start;
  return condition_by_name(word, c) ? c : s.start;
}

/* One connection and what it has sent so far. */
struct sim_job {
  unsigned number = 0;
  int fd = -1;
  steady::time_point started, last_byte;
  timespec last_arrival{}; /* wall clock at the last byte received: the .prn file's time */
  std::vector<uint8_t> bytes;
  decode_progress progress;
  std::vector<decode_record> records;
  size_t looked_at = 0;  /* records already checked for requests */
  size_t decoded_to = 0; /* stream size at the last decoding */
  size_t left_over = 0;  /* undecided bytes after the last decoding */
  bool asb_on = false;
  int asb_last = -1; /* condition last reported (or met while silent) */
  steady::time_point asb_polled;
  bool paper_out = false;       /* --paper-out-after reached and not yet loaded */
  size_t stopped_at = SIZE_MAX; /* bytes received when the printer went offline */
  file_identity paper_out_file;
  const char *end = nullptr;
  bool replies_failed = false;
  steady::time_point paused_since{};   /* --pause-after reached; the epoch until then */
  graphics_memory memory_at_start;     /* what the preview starts from */
  std::vector<std::string> key_blocks; /* blocks of the key code list not yet acknowledged */
  unsigned drawer_pulses[2] = {};
  unsigned graphics_stored = 0;
};

/* Jobs hung up by --disconnect-after so far. */
long long disconnects_done = 0;

/* True while --disconnect-after still applies. */
bool disconnect_armed(const sim_settings &s)
{
  return s.disconnect_after >= 0 && (s.disconnect_times < 0 || disconnects_done < s.disconnect_times);
}

/* The printer's graphics memories, across connections. */
graphics_memory memory;

/* The offset of "now": after every byte received. */
constexpr size_t now_offset = SIZE_MAX;

/* The condition for a request whose bytes end at offset. */
condition condition_at(const sim_settings &s, sim_job &job, size_t offset)
{
  if (job.paper_out && !(identify(s.state_file) == job.paper_out_file))
    job.paper_out = false; // the state file was rewritten: paper loaded
  if (job.paper_out && offset > size_t(s.paper_out_after))
    return condition::paper_out;
  return read_state(s);
}

/* Sends a reply; a peer that does not read loses it, as with the printer. */
void send_reply(sim_job &job, const std::vector<uint8_t> &reply)
{
  if (reply.empty() || job.fd < 0)
    return;
  ssize_t sent = send(job.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent != ssize_t(reply.size()) && !job.replies_failed) {
    std::fprintf(stderr, "ovik-sim: job %u: a reply was not sent: %s\n", job.number,
                 sent < 0 ? std::strerror(errno) : "the client does not read");
    job.replies_failed = true;
  }
}

/* Sends an automatic status back message when it is on and the condition changed. */
void report_change(sim_job &job, condition now)
{
  if (!job.asb_on || job.asb_last == int(now))
    return;
  job.asb_last = int(now);
  send_reply(job, automatic_status_back(now));
}

/* Bytes of the NV graphics held. */
long long nv_used()
{
  long long used = 0;
  for (const auto &[key, graphic] : memory.nv)
    used += (long long)graphic.rows.size();
  return used;
}

/* The key code list of the NV graphics, in blocks of at most 40 graphics. */
std::vector<std::string> key_code_blocks()
{
  std::vector<std::string> blocks;
  std::string keys;
  for (const auto &[key, graphic] : memory.nv)
    keys += {char(key >> 8), char(key & 0xFF)};
  for (size_t at = 0; at < keys.size() || blocks.empty(); at += 80) {
    bool last = at + 80 >= keys.size();
    blocks.push_back(std::string("7r") + (last ? "@" : "A") + keys.substr(at, 80));
  }
  return blocks;
}

/* A text reply with its terminator. */
std::vector<uint8_t> text_reply(const std::string &text)
{
  std::vector<uint8_t> reply(text.begin(), text.end());
  reply.push_back(0);
  return reply;
}

/* Counts the pulses a record sends on each drawer pin. */
void count_pulse(sim_job &job, const decode_record &rec)
{
  if (rec.effect != paper_effect::pulse)
    return;
  uint32_t m = record_param(rec, "m", 2);
  if (m == 0 || m == 0x30 || m == 1 || m == 0x31)
    ++job.drawer_pulses[m & 1];
}

/* Stores or deletes graphics as the printer does: a define only when it fits
 * in what is free once the graphic it replaces is gone. */
void change_memory(const sim_settings &s, sim_job &job, const decode_record &rec)
{
  stored_graphic graphic;
  if (rec.effect == paper_effect::define_graphic && defined_graphic(rec, job.bytes, graphic) &&
      std::string_view(rec.what).find("NV") != std::string_view::npos) {
    uint16_t key = uint16_t(record_param(rec, "k1", 0) << 8 | record_param(rec, "k2", 0));
    auto old = memory.nv.find(key);
    long long freed = old == memory.nv.end() ? 0 : (long long)old->second.rows.size();
    long long free_bytes = s.nv_capacity - nv_used() + freed;
    if ((long long)graphic.rows.size() > free_bytes) {
      std::fprintf(stderr, "ovik-sim: job %u: graphic %02X %02X not stored: %zu bytes needed, %lld free\n", job.number,
                   key >> 8, key & 0xFF, graphic.rows.size(), free_bytes);
      return;
    }
    ++job.graphics_stored;
  }
  memory_change change;
  if (!apply_to_memory(rec, job.bytes, memory, &change) || !s.memory_folder || !change.nv)
    return;
  std::string error = change.key < 0 ? write_graphics_folder(s.memory_folder, memory)
                                     : write_graphic_file(s.memory_folder, uint16_t(change.key), memory);
  if (!error.empty())
    std::fprintf(stderr, "ovik-sim: %s\n", error.c_str());
}

/* Answers the requests of the graphics memory and the handshake of its key code list. */
void answer_graphics(const sim_settings &s, sim_job &job, const decode_record &rec)
{
  std::string_view what = rec.what, name = rec.name;
  std::vector<uint8_t> reply;
  if (what == "transmit the NV graphics memory capacity") {
    reply = text_reply("70" + std::to_string(s.nv_capacity));
  } else if (what == "transmit the remaining NV graphics capacity") {
    reply = text_reply("71" + std::to_string(std::max(0LL, s.nv_capacity - nv_used())));
  } else if (what == "transmit the remaining download graphics capacity") {
    reply = text_reply("72" + std::to_string(s.nv_capacity));
  } else if (what == "transmit the NV graphics key codes") {
    job.key_blocks = key_code_blocks();
    reply = text_reply(job.key_blocks.front());
  } else if (!job.key_blocks.empty() && (name == "ACK" || name == "NAK" || name == "CAN")) {
    if (name != "NAK")
      job.key_blocks.erase(job.key_blocks.begin());
    if (name == "CAN")
      job.key_blocks.clear();
    if (!job.key_blocks.empty())
      reply = text_reply(job.key_blocks.front());
  }
  if (!reply.empty() && !condition_info(condition_at(s, job, rec.offset + rec.length)).silent)
    send_reply(job, reply);
}

/* Answers one decoded record if it is a request. */
void answer(const sim_settings &s, sim_job &job, const decode_record &rec)
{
  if (rec.type != record_type::command)
    return;
  answer_graphics(s, job, rec);
  // The version requests of other command sets (ESC # *, ZZZGETVERSION) are not ours.
  std::string_view name = rec.name;
  bool is_version = name == "GS I" && std::string_view(rec.what) == "transmit printer version";
  bool is_id = name == "GS I" && std::string_view(rec.what) == "transmit printer ID";
  bool is_request = name == "DLE EOT" || name == "GS r" || name == "GS a" || is_version || is_id;
  if (!is_request)
    return;
  size_t end = rec.offset + rec.length;
  condition now = condition_at(s, job, end);
  report_change(job, now);
  uint32_t n = record_param(rec, "n", 0);
  if (name == "DLE EOT") {
    send_reply(job, real_time_status_reply(now, n));
  } else if (name == "GS r") {
    send_reply(job, transmit_status_reply(now, n));
  } else if (is_version) {
    send_reply(job, printer_version_reply(now, s.firmware));
  } else if (is_id) {
    if ((n == 1 || n == 0x31) && !condition_info(now).silent)
      send_reply(job, {s.model_id});
  } else if (n == 0) {
    job.asb_on = false;
  } else if (!job.asb_on) {
    // Enabling sends the status at once; n selects no subset here.
    job.asb_on = true;
    job.asb_last = int(now);
    job.asb_polled = steady::now();
    send_reply(job, automatic_status_back(now));
  }
}

/* Decodes what the bytes settle and answers the requests among the new records. */
void decode_and_answer(const sim_settings &s, sim_job &job, bool at_end, bool may_answer)
{
  decode_more(job.progress, job.bytes, at_end, job.records);
  job.decoded_to = job.bytes.size();
  job.left_over = job.bytes.size() - std::min(job.bytes.size(), job.progress.pos);
  for (; job.looked_at < job.records.size(); ++job.looked_at) {
    const decode_record &rec = job.records[job.looked_at];
    count_pulse(job, rec);
    change_memory(s, job, rec);
    if (may_answer)
      answer(s, job, rec);
  }
}

/* Whether new bytes are worth a decoding now: one can settle, and retries of a
 * reading that waits for more stay few (the waiting part has doubled, or the
 * sender paused). */
bool worth_decoding(const sim_job &job, bool sender_paused)
{
  size_t size = job.bytes.size();
  if (size == job.decoded_to || size < job.progress.settles_at)
    return false;
  size_t waiting = size - std::min(size, job.progress.pos);
  return sender_paused || waiting >= 2 * job.left_over;
}

/* Writes a whole file; false (and a message) when it could not. */
bool write_file(const std::string &path, const void *data, size_t size)
{
  FILE *file = std::fopen(path.c_str(), "wb");
  bool ok = file && std::fwrite(data, 1, size, file) == size;
  if (file && std::fclose(file) != 0)
    ok = false;
  if (!ok)
    std::fprintf(stderr, "ovik-sim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
  return ok;
}

/* Writes the job's stream, listing and preview, and prints its line. */
void finish_job(const sim_settings &s, sim_job &job)
{
  char stem[32];
  std::snprintf(stem, sizeof stem, "/job-%03u", job.number);
  std::string base = s.out_dir + stem;
  decode_result decoded;
  decoded.records = std::move(job.records);
  decoded.summary = summarize_records(decoded.records, job.bytes.size());
  std::string summary = format_summary(decoded.summary);

  if (write_file(base + ".prn", job.bytes.data(), job.bytes.size()) && !job.bytes.empty()) {
    // The stream's time is when its last byte came, not when it was written
    // out: what a client's job took to reach the printer.
    timespec times[2] = {job.last_arrival, job.last_arrival};
    utimensat(AT_FDCWD, (base + ".prn").c_str(), times, 0);
  }
  std::string listing;
  for (const decode_record &rec : decoded.records)
    listing += format_record(rec, job.bytes) + "\n";
  listing += summary + "\n";
  write_file(base + ".txt", listing.data(), listing.size());
  render_options options;
  options.paper_width = s.width;
  options.memory = &job.memory_at_start;
  render_bitmap bitmap = render_records(decoded, job.bytes, options);
  if (bitmap.clipped)
    std::fprintf(stderr, "ovik-sim: job %u: the preview stops after %u rows: the image would be too large\n",
                 job.number, bitmap.height);
  std::string error = write_png(bitmap, (base + ".png").c_str());
  if (!error.empty())
    std::fprintf(stderr, "ovik-sim: %s\n", error.c_str());

  std::string paper_out = s.paper_out_after >= 0 && job.bytes.size() >= size_t(s.paper_out_after)
                              ? " paper_out_at=" + std::to_string(s.paper_out_after)
                              : "";
  std::printf("job=%u bytes=%zu end=%s%s %s drawer1=%u drawer2=%u graphics_stored=%u nv_graphics=%zu\n", job.number,
              job.bytes.size(), job.end, paper_out.c_str(), summary.c_str(), job.drawer_pulses[0], job.drawer_pulses[1],
              job.graphics_stored, memory.nv.size());
  std::fflush(stdout);
}

/* How many bytes the job may read now: the faults' limits, the drain rate,
 * and the printer's buffer while it is offline. */
size_t read_allowance(const sim_settings &s, sim_job &job, steady::time_point now)
{
  size_t allow = 65536;
  // Offline (paper out, cover open, an error), the printer takes what its
  // buffer holds and then no more until the condition clears.
  if (s.buffer >= 0 && condition_info(condition_at(s, job, now_offset)).offline) {
    if (job.stopped_at == SIZE_MAX)
      job.stopped_at = job.bytes.size();
    allow = std::min(allow,
                     job.stopped_at + size_t(s.buffer) - std::min(job.bytes.size(), job.stopped_at + size_t(s.buffer)));
  } else {
    job.stopped_at = SIZE_MAX;
  }
  if (disconnect_armed(s))
    allow = std::min(allow, size_t(s.disconnect_after) - job.bytes.size());
  // Past --pause-after the printer reads nothing for --pause-for seconds.
  if (s.pause_after >= 0) {
    if (job.bytes.size() < size_t(s.pause_after)) {
      allow = std::min(allow, size_t(s.pause_after) - job.bytes.size());
    } else {
      if (job.paused_since == steady::time_point{})
        job.paused_since = now;
      if (seconds_between(job.paused_since, now) < s.pause_for)
        allow = 0;
    }
  }
  allow = std::min(allow, max_job_bytes - job.bytes.size());
  if (s.drain_rate > 0) {
    double earned = seconds_between(job.started, now) * double(s.drain_rate);
    size_t due = size_t(std::max(0.0, earned - double(job.bytes.size())));
    // Read in steps of about a tick's worth, not byte by byte.
    size_t step = size_t(std::clamp<long long>(s.drain_rate / (1000 / tick_ms), 1, 4096));
    allow = std::min(allow, due >= step ? due : 0);
  }
  return allow;
}

/* Serves one connection from accept to close. */
void serve_job(const sim_settings &s, sim_job &job, steady::time_point deadline)
{
  job.started = job.last_byte = job.asb_polled = steady::now();
  job.memory_at_start = memory;
  if (s.paper_out_after == 0) {
    job.paper_out = true;
    job.paper_out_file = identify(s.state_file);
  }
  std::vector<uint8_t> chunk(65536);
  bool may_answer = true;
  while (!job.end) {
    steady::time_point now = steady::now();
    if (stop_flag || now >= deadline) {
      job.end = "stopped";
      break;
    }
    if (disconnect_armed(s) && job.bytes.size() >= size_t(s.disconnect_after)) {
      disconnects_done++;
      job.end = "disconnect";
      may_answer = false;
      break;
    }
    if (job.bytes.size() >= max_job_bytes) {
      job.end = "too-large";
      break;
    }
    size_t allow = read_allowance(s, job, now);
    if (allow > 0 && seconds_between(job.last_byte, now) >= s.idle_timeout) {
      job.end = "idle";
      break;
    }
    if (allow == 0)
      job.last_byte = now; // held back by the drain rate, not by the sender
    // Changes of condition are reported between requests, never ahead of
    // the answer to one already received.
    bool pending = worth_decoding(job, true);
    if (!pending && job.asb_on && seconds_between(job.asb_polled, now) * 1000 >= tick_ms) {
      job.asb_polled = now;
      report_change(job, condition_at(s, job, now_offset));
    }

    // Undecided bytes and nothing more to read now: decode them. Held back by
    // the drain rate, only sleep (a hang-up is seen once reading may go on).
    pollfd p{job.fd, POLLIN, 0};
    int timeout = pending ? 0 : timeout_until(std::min(deadline, now + std::chrono::milliseconds(tick_ms)));
    int ready = poll(allow > 0 ? &p : nullptr, allow > 0 ? 1 : 0, timeout);
    if (ready < 0 && errno != EINTR) {
      job.end = "reset";
      break;
    }
    if (ready <= 0 || allow == 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) {
      if (pending)
        decode_and_answer(s, job, false, true);
      continue;
    }
    ssize_t got = recv(job.fd, chunk.data(), allow, MSG_DONTWAIT);
    if (got == 0) {
      job.end = "eof";
      break;
    }
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        continue;
      job.end = "reset";
      may_answer = false;
      break;
    }
    job.bytes.insert(job.bytes.end(), chunk.begin(), chunk.begin() + got);
    job.last_byte = steady::now();
    clock_gettime(CLOCK_REALTIME, &job.last_arrival);
    if (s.paper_out_after > 0 && job.bytes.size() >= size_t(s.paper_out_after) &&
        job.bytes.size() - size_t(got) < size_t(s.paper_out_after)) {
      job.paper_out = true;
      job.paper_out_file = identify(s.state_file);
    }
    if (worth_decoding(job, size_t(got) < allow))
      decode_and_answer(s, job, false, true);
  }
  // The rest of the stream settles now; a client still reading gets its answers.
  decode_and_answer(s, job, true, may_answer);
  if (may_answer)
    report_change(job, condition_at(s, job, now_offset));
  close(job.fd);
  job.fd = -1;
  finish_job(s, job);
}

/* Prints a usage error and returns the exit status for it. */
int usage_error(const std::string &message)
{
  std::fprintf(stderr, "ovik-sim: %s\nTry 'ovik-sim --help'.\n", message.c_str());
  return 2;
}

/* Reads a whole decimal number in [low, high]; false when the text is not one. */
bool parse_count(const char *text, long long low, long long high, long long &value)
{
  char *end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno || end == text || *end || v < low || v > high)
    return false;
  value = v;
  return true;
}

/* Reads a number of seconds, fractions allowed. */
bool parse_seconds(const char *text, double &value)
{
  char *end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end || !(v >= 0) || v > 1e7)
    return false;
  value = v;
  return true;
}

/* Checks a firmware version: three numbers 0-254 joined by points. */
bool valid_firmware(const std::string &text)
{
  unsigned a, b, c;
  char tail;
  return std::sscanf(text.c_str(), "%3u.%3u.%3u%c", &a, &b, &c, &tail) == 3 && a <= 254 && b <= 254 && c <= 254 &&
         text.find_first_not_of("0123456789.") == std::string::npos;
}

/* Fills the settings from argv; returns -1 to go on, else an exit status. */
int parse_arguments(int argc, char **argv, sim_settings &s)
{
  const char *model = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(help_text, stdout);
      return 0;
    }
    if (arg == "--refuse") {
      s.refuse_for = -1;
      continue;
    }
    if (i + 1 >= argc)
      return usage_error("unexpected argument or missing value: " + arg);
    const char *value = argv[++i];
    long long n = 0;
    bool ok = true;
    if (arg == "--port") {
      ok = parse_count(value, 0, 65535, n);
      s.port = int(n);
    } else if (arg == "--port-file") {
      s.port_file = value;
    } else if (arg == "--out") {
      s.out_dir = value;
    } else if (arg == "--state") {
      s.state_file = value;
    } else if (arg == "--condition") {
      ok = condition_by_name(value, s.start);
    } else if (arg == "--firmware") {
      s.firmware = value;
      ok = valid_firmware(s.firmware);
    } else if (arg == "--width") {
      ok = parse_count(value, 1, 1000000, n);
      s.width = uint32_t(n);
    } else if (arg == "--model") {
      model = value;
    } else if (arg == "--memory") {
      s.memory_folder = value;
    } else if (arg == "--nv-capacity") {
      ok = parse_count(value, 0, 1LL << 30, s.nv_capacity);
    } else if (arg == "--paper-out-after") {
      ok = parse_count(value, 0, (long long)max_job_bytes, s.paper_out_after);
    } else if (arg == "--disconnect-after") {
      ok = parse_count(value, 0, (long long)max_job_bytes, s.disconnect_after);
    } else if (arg == "--disconnect-times") {
      ok = parse_count(value, 0, 1000000, s.disconnect_times);
    } else if (arg == "--pause-after") {
      ok = parse_count(value, 0, (long long)max_job_bytes, s.pause_after);
    } else if (arg == "--pause-for") {
      ok = parse_seconds(value, s.pause_for);
    } else if (arg == "--buffer") {
      ok = value == std::string("-1") || parse_count(value, 0, (long long)max_job_bytes, s.buffer);
      if (value == std::string("-1"))
        s.buffer = -1;
    } else if (arg == "--drain-rate") {
      ok = parse_count(value, 1, 1LL << 40, s.drain_rate);
    } else if (arg == "--refuse-for") {
      ok = parse_seconds(value, s.refuse_for);
    } else if (arg == "--jobs") {
      ok = parse_count(value, 1, 1000000, n);
      s.jobs = unsigned(n);
    } else if (arg == "--max-time") {
      ok = parse_seconds(value, s.max_time) && s.max_time > 0;
    } else if (arg == "--idle-timeout") {
      ok = parse_seconds(value, s.idle_timeout) && s.idle_timeout > 0;
    } else {
      return usage_error("unexpected argument: " + arg);
    }
    if (!ok)
      return usage_error("bad value for " + arg + ": " + value);
  }
  if (model) {
    const ovik_model_brief *row = ovik_printer_model_brief_find_by_name(model);
    if (!row || row->width_dots <= 0)
      return usage_error(std::string("model not in the catalogue (or without a width): ") + model);
    if (!s.width)
      s.width = uint32_t(row->width_dots);
    s.model_id = uint8_t(row->id & 0xFF);
  }
  return -1;
}

/* Binds the port on 127.0.0.1; -1 (and a message) on failure. */
int open_port(sim_settings &s)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (s.drain_rate > 0) {
    // Accepted connections inherit a small receive buffer: the window stays
    // small and the sender blocks instead of filling our memory.
    int size = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(s.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    std::fprintf(stderr, "ovik-sim: cannot bind 127.0.0.1:%d: %s\n", s.port, std::strerror(errno));
    close(fd);
    return -1;
  }
  s.port = ntohs(addr.sin_port);
  return fd;
}

/* Writes the port number to the port file in one piece. */
bool write_port_file(const sim_settings &s)
{
  std::string temp = std::string(s.port_file) + ".tmp";
  std::string text = std::to_string(s.port) + "\n";
  if (!write_file(temp, text.data(), text.size()))
    return false;
  if (std::rename(temp.c_str(), s.port_file) != 0) {
    std::fprintf(stderr, "ovik-sim: cannot write %s: %s\n", s.port_file, std::strerror(errno));
    return false;
  }
  return true;
}

/* Starts listening and says so; false (and a message) on failure. */
bool start_listening(int fd, const sim_settings &s)
{
  if (listen(fd, 16) != 0) {
    std::fprintf(stderr, "ovik-sim: cannot listen on 127.0.0.1:%d: %s\n", s.port, std::strerror(errno));
    return false;
  }
  std::printf("ovik-sim: listening on 127.0.0.1:%d\n", s.port);
  std::fflush(stdout);
  return true;
}

} // namespace

/* Serves jobs until a signal, the job count or the run time limit. */
int main(int argc, char **argv)
{
  sim_settings s;
  int status = parse_arguments(argc, argv, s);
  if (status >= 0)
    return status;
  steady::time_point start = steady::now();
  auto deadline = start + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(s.max_time));

  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  if (mkdir(s.out_dir.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "ovik-sim: cannot make %s: %s\n", s.out_dir.c_str(), std::strerror(errno));
    return 2;
  }
  if (s.memory_folder) {
    std::string error = read_graphics_folder(s.memory_folder, memory);
    if (error.empty())
      error = write_graphics_folder(s.memory_folder, memory);
    if (!error.empty()) {
      std::fprintf(stderr, "ovik-sim: %s\n", error.c_str());
      return 2;
    }
  }
  int listener = open_port(s);
  if (listener < 0)
    return 2;
  if (s.port_file && !write_port_file(s)) {
    close(listener);
    return 2;
  }
  bool listening = false;
  auto listen_at = start + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(s.refuse_for));
  if (s.refuse_for != 0) {
    // Bound but not listening: the port stays ours, and a connection attempt is refused.
    std::printf("ovik-sim: refusing on 127.0.0.1:%d\n", s.port);
    std::fflush(stdout);
  } else if (!(listening = start_listening(listener, s))) {
    close(listener);
    return 2;
  }

  unsigned jobs = 0;
  while (!stop_flag && steady::now() < deadline && (!s.jobs || jobs < s.jobs)) {
    if (!listening && s.refuse_for >= 0 && steady::now() >= listen_at) {
      if (!(listening = start_listening(listener, s))) {
        close(listener);
        return 2;
      }
    }
    pollfd p{listener, short(listening ? POLLIN : 0), 0};
    if (poll(&p, 1, timeout_until(deadline)) <= 0 || !(p.revents & POLLIN))
      continue;
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sim_job job;
    job.number = ++jobs;
    job.fd = fd;
    serve_job(s, job, deadline);
  }
  close(listener);
  bool short_of_jobs = s.jobs && jobs < s.jobs && !stop_flag;
  return short_of_jobs ? 1 : 0;
}
