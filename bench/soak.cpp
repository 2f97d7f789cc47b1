/*
 * soak.cpp - ovik-printer-app through a long busy day: 16 printers (ovik-sim
 * on loopback), 1,000 jobs of every kind a till sends (PWG raster of one
 * and two pages, PNG of five forms, JPEG gray and colour, one to three
 * copies), some cancelled, while paper runs out and covers open at random
 * on the simulators. The server runs with the systemd unit's options.
 *
 * Usage: ovik-soak [--printers N] [--jobs N] [--seconds N] [--seed N]
 *
 * Every page carries its job's number and page as a row of cells under a
 * black bar, read back from each bitmap the printers got. A job the server
 * took is printed when it completed and each of its pages reached a
 * printer whole as many times as the copies asked for; cancelled when the
 * soak cancelled it; aborted when it ended so with a reason; anything else
 * is lost. Bounded in time: jobs are sent for --seconds at most (1,200 by
 * default), and each must end within two minutes of the last one sent;
 * jobs still open then count as lost, and the server's log and its
 * threads' backtraces (gdb, where installed) are kept in a folder named in
 * the report. The exit status is 1 when a job was lost, the server died or
 * left a request unanswered, or a stream came in broken.
 */
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "app_harness.h"
#include "servers.h"

using namespace app_test;

namespace {

/* ---------- the mark every page carries ---------- */

constexpr unsigned mark_bits = 12, mark_cells = mark_bits + 1; /* and a parity cell */
constexpr unsigned bar_rows = 24, cells_top = 32, cell_rows = 32, body_top = 72, body_rows = 200;
constexpr unsigned image_width = 384, image_height = body_top + body_rows + 40;
constexpr unsigned pwg_width = 576, pwg_height = 1678, pwg_top = 40; /* a page of PAPPL's media size */

/* The code of a job's page: its number and the page's index. */
unsigned page_code(int serial, unsigned page)
{
  return (unsigned(serial) << 1 | page) & ((1u << mark_bits) - 1);
}

/* Whether pixel x, y of a marked picture width wide is dark: the bar, the
 * cells of the code (with an even parity cell), then lines of receipt text. */
bool marked(unsigned x, unsigned y, unsigned width, unsigned code)
{
  if (y < bar_rows)
    return true;
  if (y >= cells_top && y < cells_top + cell_rows) {
    unsigned cell = x * mark_cells / width;
    return cell < mark_bits ? (code >> cell & 1) : __builtin_parity(code);
  }
  if (y < body_top || y >= body_top + body_rows || x < 16 || x + 16 >= width)
    return false;
  return (y / 12) % 2 == 0 ? ((x / 6 + y / 3 + code) % 5 < 2) : (y % 12 == 6 && x % 3 == 0);
}

/* Reads the code back from a bitmap's rows: -1 when there is none. The bar
 * gives the picture's left and right edges and its scale. */
int read_code(const bytes &rows, uint32_t bpl)
{
  uint32_t n = bpl ? uint32_t(rows.size() / bpl) : 0;
  auto dot = [&](uint32_t x, uint32_t y) { return x < bpl * 8 && y < n && rows[y * bpl + x / 8] & (0x80 >> (x % 8)); };
  uint32_t top = 0;
  while (top < n && std::all_of(rows.begin() + top * bpl, rows.begin() + (top + 1) * bpl, [](uint8_t b) { return !b; }))
    top++;
  uint32_t mid = top + bar_rows / 2, left = 0, right = bpl * 8;
  while (left < bpl * 8 && !dot(left, mid))
    left++;
  while (right > left && !dot(right - 1, mid))
    right--;
  uint32_t width = right - left, height = 0;
  while (width && dot(left + width / 2, top + height))
    height++;
  if (width < mark_cells * 8 || height < bar_rows / 2)
    return -1;
  double scale = double(height) / bar_rows;
  uint32_t cy = top + uint32_t((cells_top + cell_rows / 2) * scale);
  unsigned code = 0, ones = 0;
  for (unsigned c = 0; c < mark_cells; c++) {
    uint32_t cx = left + uint32_t((c + 0.5) * width / mark_cells);
    int dark = 0;
    for (int dy = -3; dy <= 3; dy++)
      for (int dx = -3; dx <= 3; dx++)
        dark += dot(cx + dx, cy + dy) ? 1 : 0;
    bool bit = dark > 24;
    ones += bit;
    if (bit && c < mark_bits)
      code |= 1u << c;
  }
  return ones % 2 == 0 ? int(code) : -1;
}

/* The rows of every bitmap packet of a stream, with their bytes per line. */
std::vector<std::pair<bytes, uint32_t>> bitmaps_of(const bytes &stream, const std::vector<decode_record> &records)
{
  std::vector<std::pair<bytes, uint32_t>> all;
  for (const decode_record &r : records) {
    if (r.effect != paper_effect::bitmap)
      continue;
    bytes rows;
    const uint8_t *at = stream.data() + r.data_offset;
    size_t left = r.data_length;
    if (!r.compressed) {
      rows.assign(at, at + left);
    } else {
      rows.resize(size_t(r.row_bytes) * r.rows);
      for (uint32_t y = 0; y < r.rows; y++) {
        packbits_row got = packbits_decode_row(at, left, rows.data() + size_t(y) * r.row_bytes, r.row_bytes);
        at += got.consumed;
        left -= got.consumed;
      }
    }
    all.emplace_back(std::move(rows), r.row_bytes);
  }
  return all;
}

/* ---------- the jobs ---------- */

/* The forms of document a job takes, one picked at random for each. */
struct job_form {
  const char *name;
  const char *format;
  int png_color; /* PNG: libpng's colour type and bit depth */
  int png_depth;
  bool jpeg_color;
  unsigned pages;
};
const job_form forms[] = {
    {"PWG raster, 1 page", "image/pwg-raster", 0, 0, false, 1},
    {"PWG raster, 2 pages", "image/pwg-raster", 0, 0, false, 2},
    {"PNG gray 1-bit", "image/png", PNG_COLOR_TYPE_GRAY, 1, false, 1},
    {"PNG gray 8-bit", "image/png", PNG_COLOR_TYPE_GRAY, 8, false, 1},
    {"PNG palette 4-bit", "image/png", PNG_COLOR_TYPE_PALETTE, 4, false, 1},
    {"PNG RGB 8-bit", "image/png", PNG_COLOR_TYPE_RGB, 8, false, 1},
    {"PNG RGBA 8-bit", "image/png", PNG_COLOR_TYPE_RGBA, 8, false, 1},
    {"JPEG gray", "image/jpeg", 0, 0, false, 1},
    {"JPEG colour", "image/jpeg", 0, 0, true, 1},
};

/* Writes job serial's document of a form into path. */
void write_document(const std::string &path, const job_form &form, int serial)
{
  if (std::strcmp(form.format, "image/pwg-raster") == 0) {
    std::vector<page_spec> pages(form.pages);
    for (unsigned p = 0; p < form.pages; p++) {
      pages[p].width = pwg_width;
      pages[p].height = pwg_height;
      for (unsigned y = 0; y < image_height; y++)
        for (unsigned x = 0; x < pwg_width; x++)
          if (marked(x, y, pwg_width, page_code(serial, p)))
            pages[p].dot(x, pwg_top + y);
    }
    write_file(path, pwg_raster(pages));
    return;
  }
  unsigned code = page_code(serial, 0);
  auto pixel = [&](unsigned x, unsigned y) {
    // Dark is black; the light of a colour picture is a pale yellow.
    if (marked(x, y, image_width, code))
      return rgba{0, 0, 0, 255};
    return form.jpeg_color || form.png_color == PNG_COLOR_TYPE_RGB ? rgba{255, 250, 200, 255}
                                                                   : rgba{255, 255, 255, 255};
  };
  if (std::strcmp(form.format, "image/jpeg") == 0)
    write_jpeg_file(path, image_width, image_height, form.jpeg_color, 90, pixel);
  else
    write_png_file(path, image_width, image_height, form.png_color, form.png_depth, pixel);
}

/* One job of the soak and what became of it. */
struct soak_job {
  int serial = 0, printer = 0;
  const job_form *form = nullptr;
  unsigned copies = 1;
  int id = 0;          /* 0: the server did not take it */
  std::string refused; /* its status then */
  bool cancel_asked = false, cancel_taken = false;
  std::string state; /* the last job-state seen */
  std::string reasons, message;
  int impressions = 0;
};

/* ---------- the server's answers ---------- */

/* The jobs of a printer as Get-Jobs reports them: id to state, reasons,
 * message and impressions. False when the server did not answer. */
bool get_jobs(const app_server &app, const std::string &printer, std::map<int, soak_job> &seen)
{
  ipp_t *req = app.new_request(IPP_OP_GET_JOBS, printer);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  const char *wanted[] = {"job-id", "job-state", "job-state-reasons", "job-state-message", "job-impressions-completed"};
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 5, nullptr, wanted);
  ipp_t *resp = app.request(req, printer);
  if (!resp || ippGetStatusCode(resp) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(resp);
    return false;
  }
  soak_job job;
  auto keep = [&] {
    if (job.id)
      seen[job.id] = job;
    job = soak_job();
  };
  for (ipp_attribute_t *a = ippFirstAttribute(resp); a; a = ippNextAttribute(resp)) {
    const char *name = ippGetName(a);
    if (!name) {
      keep();
      continue;
    }
    char text[1024];
    ippAttributeString(a, text, sizeof text);
    if (!std::strcmp(name, "job-id"))
      job.id = ippGetInteger(a, 0);
    else if (!std::strcmp(name, "job-state"))
      job.state = ippEnumString("job-state", ippGetInteger(a, 0));
    else if (!std::strcmp(name, "job-state-reasons"))
      job.reasons = text;
    else if (!std::strcmp(name, "job-state-message"))
      job.message = text;
    else if (!std::strcmp(name, "job-impressions-completed"))
      job.impressions = ippGetInteger(a, 0);
  }
  keep();
  ippDelete(resp);
  return true;
}

bool ended(const std::string &state)
{
  return state == "completed" || state == "canceled" || state == "aborted";
}

/* Keeps what shows a fault: the server's log and, where gdb is installed,
 * every thread's backtrace of the running server. The folder's name. */
std::string keep_evidence(const app_server &app)
{
  std::string dir = temp_root() + "/ovik-soak-evidence-XXXXXX";
  if (!mkdtemp(dir.data()))
    return "(no folder: " + std::string(std::strerror(errno)) + ")";
  for (const char *name : {"log", "server.out", "ovik-printer-app.state"})
    write_file(dir + "/" + name, read_file(app.dir.file(name)));
  if (access("/usr/bin/gdb", X_OK) == 0 && kill(app.pid, 0) == 0)
    wait_for(spawn({"/usr/bin/gdb", "-p", std::to_string(app.pid), "-batch", "-ex", "thread apply all bt"}, {},
                   dir + "/backtrace.txt"),
             60s);
  return dir;
}

} // namespace

int main(int argc, char **argv)
{
  int printers = 16, jobs = 1000, seconds = 1200;
  unsigned seed = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    int v = std::max(1, atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--printers"))
      printers = v;
    else if (!std::strcmp(argv[i], "--jobs"))
      jobs = v;
    else if (!std::strcmp(argv[i], "--seconds"))
      seconds = v;
    else if (!std::strcmp(argv[i], "--seed"))
      seed = unsigned(v);
  }
  if (jobs >= (1 << (mark_bits - 1))) {
    fprintf(stderr, "ovik-soak: at most %d jobs\n", (1 << (mark_bits - 1)) - 1);
    return 2;
  }
  printf("ovik-printer-app soak: %d printers, %d jobs, at most %d s, seed %u\n", printers, jobs, seconds, seed);
  fflush(stdout);

  app_server app;
  std::vector<std::unique_ptr<printer_sim>> sims;
  for (int i = 0; i < printers; i++) {
    sims.push_back(
        std::make_unique<printer_sim>("ready", std::vector<std::string>{"--max-time", std::to_string(seconds + 300)}));
    if (!app.add("p" + std::to_string(i), "ovik-tern-80a", sims[i]->uri())) {
      fprintf(stderr, "ovik-soak: printer p%d could not be added:\n%s\n", i, app.log_tail().c_str());
      return 1;
    }
  }
  double start_rss = bench::memory_of(app.pid).rss_mib;
  auto started = steady::now(), deadline = started + std::chrono::seconds(seconds);
  temp_dir documents;

  std::vector<soak_job> all(static_cast<size_t>(jobs));
  std::mutex lock;                                                    /* guards all[].state and friends, and `open` */
  std::vector<std::map<int, int>> ids(static_cast<size_t>(printers)); /* each printer's job ids to their serials */
  std::atomic<int> next{0}, open{0};
  std::atomic<bool> done_submitting{false}, stop{false}, died{false};
  std::atomic<long long> slowest_ms{0};
  std::atomic<int> unanswered{0}, toggles{0};
  double peak_rss = start_rss;

  // The clients: each takes the next job, writes its document, sends it,
  // and cancels it after a while when it is one of those to cancel. Never
  // more than four jobs a printer wait at once, as tills wait for a busy
  // printer.
  auto client = [&](unsigned client_seed) {
    std::mt19937 rng(client_seed);
    for (int serial; (serial = next++) < jobs && steady::now() < deadline && !died;) {
      while (open >= 4 * printers && steady::now() < deadline && !died)
        std::this_thread::sleep_for(50ms);
      soak_job job;
      job.serial = serial;
      job.printer = serial % printers;
      job.form = &forms[rng() % std::size(forms)];
      job.copies = 1 + rng() % 3;
      job.cancel_asked = rng() % 16 == 0;
      std::string file = documents.file("job-" + std::to_string(serial));
      write_document(file, *job.form, serial);
      std::string printer = "p" + std::to_string(job.printer);
      ipp_t *resp =
          app.send(IPP_OP_PRINT_JOB, printer, {{"copies", std::to_string(job.copies)}}, job.form->format, file);
      if (resp && ippGetStatusCode(resp) <= IPP_STATUS_OK_EVENTS_COMPLETE)
        job.id = ippGetInteger(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), 0);
      else
        job.refused = resp ? ippErrorString(ippGetStatusCode(resp)) : "no response";
      ippDelete(resp);
      unlink(file.c_str());
      {
        std::lock_guard<std::mutex> g(lock);
        all[size_t(serial)] = job;
        if (job.id) {
          ids[size_t(job.printer)][job.id] = serial;
          open++;
        }
      }
      if (job.id && job.cancel_asked) {
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 400));
        bool taken = app.cancel(printer, job.id);
        std::lock_guard<std::mutex> g(lock);
        all[size_t(serial)].cancel_taken = taken;
      }
    }
  };

  // The faults: now and then a printer runs out of paper or has its cover
  // opened, for half a second to four seconds; a quarter of them at most at
  // once. All are ready again once the last job is sent.
  std::thread faults([&] {
    std::mt19937 rng(seed * 7919u);
    std::vector<steady::time_point> until(static_cast<size_t>(printers));
    while (!done_submitting && !stop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200 + rng() % 500));
      auto now = steady::now();
      int faulted = 0;
      for (int i = 0; i < printers; i++) {
        if (until[size_t(i)] != steady::time_point() && until[size_t(i)] <= now) {
          sims[size_t(i)]->set("ready");
          until[size_t(i)] = {};
        }
        faulted += until[size_t(i)] != steady::time_point();
      }
      int i = int(rng() % unsigned(printers));
      if (faulted < std::max(1, printers / 4) && until[size_t(i)] == steady::time_point()) {
        sims[size_t(i)]->set(rng() % 2 ? "paper-out" : "cover-open");
        until[size_t(i)] = now + std::chrono::milliseconds(500 + rng() % 3500);
        toggles++;
      }
    }
    for (auto &s : sims)
      s->set("ready");
  });

  // The watch: every half second each printer's jobs (Get-Jobs) and the
  // server's memory; the slowest answer and the requests not answered.
  std::thread watch([&] {
    while (!stop) {
      int status = 0;
      if (waitpid(app.pid, &status, WNOHANG) == app.pid) {
        died = true;
        app.pid = -1;
        break;
      }
      for (int i = 0; i < printers && !stop; i++) {
        std::map<int, soak_job> seen;
        auto asked = steady::now();
        bool answered = get_jobs(app, "p" + std::to_string(i), seen);
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - asked).count();
        slowest_ms = std::max(slowest_ms.load(), ms);
        if (!answered) {
          unanswered++;
          continue;
        }
        std::lock_guard<std::mutex> g(lock);
        for (const auto &[id, s] : seen) {
          auto it = ids[size_t(i)].find(id);
          if (it == ids[size_t(i)].end())
            continue;
          soak_job &j = all[size_t(it->second)];
          if (!ended(j.state) && ended(s.state))
            open--;
          if (!ended(j.state)) {
            j.state = s.state;
            j.reasons = s.reasons;
            j.message = s.message;
            j.impressions = s.impressions;
          }
        }
      }
      peak_rss = std::max(peak_rss, bench::memory_of(app.pid).rss_mib);
      std::this_thread::sleep_for(500ms);
    }
  });

  std::vector<std::thread> clients;
  constexpr int client_count = 8;
  for (int c = 0; c < client_count; c++)
    clients.emplace_back(client, seed * 1000u + unsigned(c));
  for (std::thread &t : clients)
    t.join();
  done_submitting = true;
  faults.join();
  auto sent = steady::now();
  int taken = 0, tried = 0;
  for (const soak_job &j : all) {
    taken += j.id != 0;
    tried += j.form != nullptr;
  }
  printf("sent %d jobs in %.1f s, the server took %d; %d paper-out and cover-open spells\n", tried,
         std::chrono::duration<double>(sent - started).count(), taken, toggles.load());
  fflush(stdout);

  // Every job the server took must end, within two minutes of the last sent.
  while (open > 0 && steady::now() < sent + 120s && !died)
    std::this_thread::sleep_for(200ms);
  // The last streams close once their printers are idle.
  auto finished = steady::now();
  std::this_thread::sleep_for(3s);
  stop = true;
  watch.join();
  bench::process_memory hwm = died ? bench::process_memory() : bench::memory_of(app.pid);
  std::string evidence;
  if (died || open > 0)
    evidence = keep_evidence(app);

  // What the printers got: each page's copies by its code.
  std::map<unsigned, int> copies_of; /* page code to whole copies received */
  std::map<unsigned, bytes> first_copy;
  size_t bitmaps = 0, unreadable = 0, differing = 0, faults_in_streams = 0, streams = 0;
  for (const auto &sim : sims)
    for (const bytes &stream : sim->jobs()) {
      streams++;
      decode_result decoded = decode_stream(stream);
      const decode_summary &s = decoded.summary;
      faults_in_streams += s.crc_errors + s.problems + s.unknown_bytes + s.sync_losses + (s.stop_offset != -1);
      for (auto &[rows, bpl] : bitmaps_of(stream, decoded.records)) {
        bitmaps++;
        int code = read_code(rows, bpl);
        if (code < 0) {
          unreadable++;
          continue;
        }
        copies_of[unsigned(code)]++;
        auto [it, first] = first_copy.emplace(unsigned(code), rows);
        differing += !first && it->second != rows;
      }
    }

  // What became of each job.
  int printed = 0, cancelled = 0, cancelled_pages = 0, cancel_late = 0, lost = 0, extra = 0, refused = 0;
  std::map<std::string, int> aborted, lost_why, refusals;
  std::set<unsigned> codes_of_jobs;
  for (const soak_job &j : all) {
    if (!j.form)
      continue; // not sent: the time ran out
    if (!j.id) {
      refused++;
      refusals[j.refused]++;
      continue;
    }
    int short_pages = 0, over_pages = 0, got = 0;
    for (unsigned p = 0; p < j.form->pages; p++) {
      unsigned code = page_code(j.serial, p);
      codes_of_jobs.insert(code);
      int n = copies_of.count(code) ? copies_of[code] : 0;
      got += n;
      short_pages += n < int(j.copies);
      over_pages += n > int(j.copies);
    }
    auto lose = [&](const std::string &why) {
      lost++;
      lost_why[why]++;
      printf("  lost: job %d (printer p%d, %s, %u copies%s): %s, job-state-reasons %s, \"%s\", %d impressions, %d "
             "pages at the printer\n",
             j.id, j.printer, j.form->name, j.copies,
             j.cancel_asked ? (j.cancel_taken ? ", cancelled" : ", cancel refused") : "", j.state.c_str(),
             j.reasons.c_str(), j.message.c_str(), j.impressions, got);
    };
    if (j.state == "completed") {
      if (short_pages)
        lose("completed, but a page reached the printer fewer times than its copies");
      else
        printed++;
      extra += over_pages > 0;
      cancel_late += j.cancel_asked;
    } else if (j.state == "canceled") {
      if (j.cancel_asked && j.cancel_taken && contains(j.reasons, "job-canceled-by-user")) {
        cancelled++;
        cancelled_pages += got;
      } else {
        lose("canceled without being cancelled (" + j.reasons + ")");
      }
    } else if (j.state == "aborted") {
      if (j.message.empty() || j.reasons.empty() || j.reasons == "none")
        lose("aborted without a reason");
      else
        aborted[j.reasons + ": " + j.message]++;
    } else {
      lose("never ended (" + (j.state.empty() ? std::string("not seen") : j.state) + ")");
    }
  }
  size_t strays = 0;
  for (const auto &[code, n] : copies_of)
    strays += codes_of_jobs.count(code) ? 0 : size_t(n);

  double wall = std::chrono::duration<double>(finished - started).count();
  int aborted_count = 0;
  for (const auto &[why, n] : aborted)
    aborted_count += n;
  printf("ended in %.1f s (%.1f jobs a second): %d printed with every copy whole (%d of them asked to cancel once "
         "printed), %d cancelled as asked (%d pages had reached the printer), %d aborted with a reason, %d refused, %d "
         "lost\n",
         wall, taken / wall, printed, cancel_late, cancelled, cancelled_pages, aborted_count, refused, lost);
  for (const auto &[why, n] : aborted)
    printf("  aborted %d: %s\n", n, why.c_str());
  for (const auto &[why, n] : refusals)
    printf("  refused %d: %s\n", n, why.c_str());
  for (const auto &[why, n] : lost_why)
    printf("  LOST %d: %s\n", n, why.c_str());
  printf("printers: %zu streams, %zu bitmaps, %zu unreadable, %zu copies unlike their first, %zu of no job, %zu "
         "faults in the streams; %d jobs with a page printed more often than its copies\n",
         streams, bitmaps, unreadable, differing, strays, faults_in_streams, extra);
  printf("server: resident memory %.1f MiB at the start, %.1f MiB at most while watched (every 0.5 s), peak %.1f MiB "
         "(VmHWM); slowest Get-Jobs %lld ms, %d not answered%s\n",
         start_rss, peak_rss, hwm.peak_mib, slowest_ms.load(), unanswered.load(), died ? "; THE SERVER DIED" : "");
  if (!evidence.empty())
    printf("evidence kept in %s\n", evidence.c_str());
  bool failed =
      died || unanswered > 0 || lost > 0 || unreadable > 0 || differing > 0 || strays > 0 || faults_in_streams > 0;
  return failed ? 1 : 0;
}
