/*
 * bench.cpp - what rastertoovik costs a print server.
 *
 * Usage: ovik-bench [--runs N] [--work DIR] [--filter PATH]
 *
 * --filter runs another build of rastertoovik (an older one, say) in place of
 * the one built beside this program; the in-process figures stay this build's.
 *
 * Writes the benchmark jobs as CUPS raster, runs the filter and its
 * references as separate processes (through ovik-bench-spawn, which takes
 * their wall time, CPU time and peak resident set), times the packet CRC,
 * the writer and the top and gap trim in-process, and prints one table.
 * Every figure is a ratio of medians of N runs of both sides, taken in turn
 * in the same run of this program, after one warm-up run of each side. A
 * second table gives the paper receipts take, with the trim off and on
 * (paper.cpp).
 */
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include <cups/raster.h>

#include "content.h"
#include "job.h"
#include "packet.h"
#include "page.h"
#include "paper.h"
#include "servers.h"
#include "sequence.h"
#include "spooler.h"

namespace {

/* ---------- the jobs ---------- */

constexpr unsigned job_pages = 50;
constexpr unsigned page_rows = 4000;
constexpr size_t page_bytes = size_t{bench::row_bytes} * page_rows;
/* The memory figure's large page: 32 MiB of rows, one page. */
constexpr unsigned big_rows = (32u << 20) / bench::row_bytes;
constexpr size_t big_bytes = size_t{bench::row_bytes} * big_rows;

/* The page header a RIP writes for a 203 dpi, 1-bit page of rows rows. */
cups_page_header2_t page_header(unsigned rows)
{
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.cupsWidth = bench::dots;
  h.cupsHeight = rows;
  h.cupsBytesPerLine = bench::row_bytes;
  h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
  h.cupsColorSpace = CUPS_CSPACE_K;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.NumCopies = 1;
  h.PageSize[0] = bench::dots * 72 / 203;
  h.PageSize[1] = rows * 72 / 203;
  std::strcpy(h.MediaType, "receipt");
  return h;
}

/* One raster stream being written. */
struct raster_file {
  std::string path;
  cups_mode_t mode;
  int fd = -1;
  cups_raster_t *ras = nullptr;
};

/* Writes the same job of pages pages of rows rows into every stream, row by
 * row, so that no page is ever held whole by this process. */
void write_job(std::vector<raster_file> files, unsigned pages, unsigned rows)
{
  for (raster_file &f : files) {
    f.fd = open(f.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    f.ras = f.fd < 0 ? nullptr : cupsRasterOpen(f.fd, f.mode);
    if (!f.ras) {
      fprintf(stderr, "ovik-bench: cannot write %s\n", f.path.c_str());
      exit(1);
    }
  }
  uint8_t row[bench::row_bytes];
  for (unsigned p = 0; p < pages; p++) {
    cups_page_header2_t h = page_header(rows);
    for (raster_file &f : files)
      cupsRasterWriteHeader2(f.ras, &h);
    for (unsigned y = 0; y < rows; y++) {
      bench::render_row(p, y, rows, row);
      for (raster_file &f : files)
        cupsRasterWritePixels(f.ras, row, sizeof row);
    }
  }
  for (raster_file &f : files) {
    cupsRasterClose(f.ras);
    close(f.fd);
  }
}

/* Reads a file once, so that every measured run finds it in the page cache. */
void warm(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  char buffer[65536];
  while (in.read(buffer, sizeof buffer))
    ;
}

/* Size of a file in bytes, 0 when it can't be read. */
off_t file_size(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

/* ---------- running programs ---------- */

/* What one run of a program cost. */
struct cost {
  double wall_ms, cpu_ms, rss_mib;
  int status;
};

/* A program with its arguments, environment and standard streams. */
struct command {
  std::vector<std::string> argv;
  std::vector<std::string> env;
  std::string in, out = "/dev/null", err = "/dev/null";
};

/* A vector of C strings over strings, ended by a null pointer. */
std::vector<char *> c_strings(std::vector<std::string> &strings)
{
  std::vector<char *> v;
  for (std::string &s : strings)
    v.push_back(s.data());
  v.push_back(nullptr);
  return v;
}

/* Runs c once through the spawn helper and reads back its cost. */
cost run(const command &c)
{
  std::vector<std::string> args = {OVIK_BENCH_SPAWN, c.in, c.out, c.err};
  args.insert(args.end(), c.argv.begin(), c.argv.end());
  std::vector<std::string> env = c.env;
  std::vector<char *> argv = c_strings(args), envp = c_strings(env);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    perror("ovik-bench: pipe");
    exit(1);
  }
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&files, pipe_fds[0]);
  pid_t pid;
  int failed = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&files);
  close(pipe_fds[1]);
  std::string reply;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    reply.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  close(pipe_fds[0]);
  int status = 0;
  if (!failed)
    waitpid(pid, &status, 0);

  long long wall, user, sys;
  long rss;
  int child_status;
  if (failed) {
    fprintf(stderr, "ovik-bench: cannot run %s: %s\n", argv[0], strerror(failed));
    exit(1);
  }
  if (sscanf(reply.c_str(), "%lld %lld %lld %ld %d", &wall, &user, &sys, &rss, &child_status) != 5) {
    fprintf(stderr, "ovik-bench: could not run %s (see the message above)\n", c.argv[0].c_str());
    exit(1);
  }
  return {wall / 1e6, (user + sys) / 1e6, rss / 1024.0, child_status};
}

/* Medians of many runs of one program. */
struct costs {
  double wall_ms, cpu_ms, rss_mib;
};

/* The medians of each measure over runs. */
costs medians(const std::vector<cost> &runs)
{
  std::vector<double> wall, cpu, rss;
  for (const cost &c : runs) {
    wall.push_back(c.wall_ms);
    cpu.push_back(c.cpu_ms);
    rss.push_back(c.rss_mib);
  }
  return {bench::median_of(wall), bench::median_of(cpu), bench::median_of(rss)};
}

/* Runs every command once to warm up, then runs times in turn; a run that
 * fails ends the benchmark, since its time would mean nothing. */
std::vector<costs> measure(const std::vector<command> &commands, int runs)
{
  std::vector<std::vector<cost>> all(commands.size());
  for (int i = -1; i < runs; i++)
    for (size_t k = 0; k < commands.size(); k++) {
      cost c = run(commands[k]);
      if (c.status != 0) {
        fprintf(stderr, "ovik-bench: %s exited with status %d\n", commands[k].argv[0].c_str(), c.status);
        exit(1);
      }
      if (i >= 0)
        all[k].push_back(c);
    }
  std::vector<costs> result;
  for (const auto &runs_of_one : all)
    result.push_back(medians(runs_of_one));
  return result;
}

/* ---------- timing in this process ---------- */

/* Median nanoseconds of samples calls of fn; prepare runs untimed before each. */
double median_ns(
    int samples, const std::function<void()> &fn, const std::function<void()> &prepare = [] {})
{
  std::vector<double> ns;
  for (int i = -1; i < samples; i++) {
    prepare();
    auto start = std::chrono::steady_clock::now();
    fn();
    auto end = std::chrono::steady_clock::now();
    if (i >= 0)
      ns.push_back(std::chrono::duration<double, std::nano>(end - start).count());
  }
  return bench::median_of(ns);
}

/* ---------- the table ---------- */

/* One line of the table, each cell as printed. */
struct table_row {
  std::string figure, ours, reference, ratio, cpu_ratio, goal, verdict;
};

/* One number formatted as printf would. */
std::string format(const char *f, double v)
{
  char text[64];
  snprintf(text, sizeof text, f, v);
  return text;
}

/* Milliseconds and mebibytes as the table shows them. */
std::string ms(double v)
{
  return format("%.1f ms", v);
}
std::string mib(double v)
{
  return format("%.1f MiB", v);
}

/* A row comparing our time with a reference time; goal is the largest
 * acceptable ratio (strict: the ratio must stay below it), 0 for none. */
table_row time_row(const std::string &figure, const costs &ours, const costs &ref, double goal, bool strict = false)
{
  double wall = ours.wall_ms / ref.wall_ms, cpu = ours.cpu_ms / ref.cpu_ms;
  bool met = strict ? wall < goal : wall <= goal;
  return {figure,
          ms(ours.wall_ms),
          ms(ref.wall_ms),
          format("%.2f", wall),
          format("%.2f", cpu),
          goal == 0 ? "record" : format(strict ? "< %.2f" : "<= %.2f", goal),
          goal == 0 ? ""
          : met     ? "met"
                    : "MISSED"};
}

/* A row of peak memory against the page size; goal: page + 8 MiB at most. */
table_row memory_row(const std::string &figure, const costs &ours, size_t page)
{
  double page_mib = page / 1048576.0, over = ours.rss_mib - page_mib;
  return {figure, mib(ours.rss_mib), format("page %.1f MiB", page_mib), format("%+.1f MiB", over),
          "",     "page + 8 MiB",    over <= 8 ? "met" : "MISSED"};
}

/* Prints the rows under a header, each column as wide as its widest cell. */
void print_table(const std::vector<table_row> &rows,
                 const std::array<const char *, 7> &head = {"figure", "ours", "reference", "ratio", "cpu ratio", "goal",
                                                            ""})
{
  size_t width[7] = {};
  auto cells = [](const table_row &r) {
    return std::vector<const std::string *>{&r.figure,    &r.ours, &r.reference, &r.ratio,
                                            &r.cpu_ratio, &r.goal, &r.verdict};
  };
  for (int k = 0; k < 7; k++)
    width[k] = strlen(head[k]);
  for (const table_row &r : rows) {
    auto c = cells(r);
    for (int k = 0; k < 7; k++)
      width[k] = std::max(width[k], c[k]->size());
  }
  for (int k = 0; k < 7; k++)
    printf("%-*s%s", static_cast<int>(width[k]), head[k], k < 6 ? "  " : "\n");
  for (const table_row &r : rows) {
    auto c = cells(r);
    for (int k = 0; k < 7; k++)
      printf(k == 0 || k == 6 ? "%-*s%s" : "%*s%s", static_cast<int>(width[k]), c[k]->c_str(), k < 6 ? "  " : "\n");
  }
}

/* The first line of /proc/cpuinfo naming the processor model. */
std::string cpu_model()
{
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("model name", 0) == 0)
      return line.substr(line.find(':') + 2);
  return "unknown";
}

/* The filters an administrator has at hand: CUPS's own, each with its PPD. */
struct reference_filter {
  const char *name, *program, *ppd;
};
const reference_filter references[] = {
    {"rastertolabel Dymo", "rastertolabel", OVIK_BENCH_LABEL_PPD_DIR "/bench-dymo.ppd"},
    {"rastertolabel Zebra EPL2", "rastertolabel", OVIK_BENCH_LABEL_PPD_DIR "/bench-epl2.ppd"},
    {"rastertolabel Zebra ZPL", "rastertolabel", OVIK_BENCH_LABEL_PPD_DIR "/bench-zpl.ppd"},
    {"rastertoepson 24-pin", "rastertoepson", OVIK_BENCH_SAMPLE_PPD_DIR "/epson24.ppd"},
};
constexpr size_t reference_count = std::size(references);

/* Writes the filter's jobs, measures its figures against the floor and
 * CUPS's filters, and prints their table. */
void filter_table(int runs, const std::string &work, const std::string &filter)
{
  auto in_work = [&](const char *name) { return work + "/" + name; };
  const std::string jobs[2] = {in_work("job50-v3.ras"), in_work("job50-v2.ras")};
  const char *job_names[2] = {"v3 uncompressed", "v2 compressed"};
  const std::string one_page = in_work("page1-v3.ras"), big_page = in_work("big-v3.ras");
  const std::string trace = in_work("trace");

  // Inputs: written first, while this process is still small.
  write_job({{jobs[0], CUPS_RASTER_WRITE}, {jobs[1], CUPS_RASTER_WRITE_COMPRESSED}}, job_pages, page_rows);
  write_job({{one_page, CUPS_RASTER_WRITE}}, 1, page_rows);
  write_job({{big_page, CUPS_RASTER_WRITE}}, 1, big_rows);
  for (const std::string &f : {jobs[0], jobs[1], one_page, big_page})
    warm(f);

  printf("rastertoovik benchmark: median of %d runs of each side, the sides taken in turn, after one warm-up run\n",
         runs);
  printf("filter: %s\n", filter.c_str());
  printf("job: %u pages of %u x %u dots, %zu bytes a page (%.1f MB of pixels); raster v3 uncompressed %.1f MB, "
         "v2 compressed %.1f MB\n",
         job_pages, bench::dots, page_rows, page_bytes, job_pages * page_bytes / 1e6, file_size(jobs[0]) / 1e6,
         file_size(jobs[1]) / 1e6);
  printf("one page: the job's first page alone; large page: 1 page of %u x %u dots (%.1f MiB)\n", bench::dots, big_rows,
         big_bytes / 1048576.0);
  printf("every program: raster on standard input, standard output and error to /dev/null;\n"
         "trace on: %s (a regular file, replaced by each run); times are wall clock\n\n",
         trace.c_str());

  // The programs.
  auto ours = [&](const std::string &in, bool traced, const std::string &options = "") {
    return command{
        {filter, "1", "bench", "receipt", "1", options},
        {"PPD=" OVIK_BENCH_PPD, "OVIK_TRACE=" + (traced ? trace : std::string()), "OVIK_HOLD=" + in_work("hold")},
        in};
  };
  auto theirs = [&](const reference_filter &f, const std::string &in) {
    return command{{std::string(OVIK_CUPS_FILTER_DIR "/") + f.program, "1", "bench", "receipt", "1", ""},
                   {std::string("PPD=") + f.ppd},
                   in};
  };
  auto floor = [&](const std::string &in) { return command{{OVIK_BENCH_FLOOR}, {}, in}; };
  auto label = [](int number, const std::string &what) { return std::to_string(number) + ". " + what; };

  // The jobs through the filter, the floor and CUPS's filters, in turn.
  costs job[2][2 + reference_count], traced[2][2];
  for (int v = 0; v < 2; v++) {
    std::vector<command> all = {ours(jobs[v], false), floor(jobs[v])};
    for (const reference_filter &f : references)
      all.push_back(theirs(f, jobs[v]));
    std::vector<costs> m = measure(all, runs);
    std::copy(m.begin(), m.end(), job[v]);
    m = measure({ours(jobs[v], true), ours(jobs[v], false)}, runs);
    std::copy(m.begin(), m.end(), traced[v]);
  }
  std::vector<costs> big = measure({ours(big_page, false), ours(big_page, true)}, runs);
  std::vector<command> single = {ours(one_page, false)};
  for (const reference_filter &f : references)
    single.push_back(theirs(f, one_page));
  std::vector<costs> one = measure(single, runs);
  // The top and gap trim: the PPD's 2 mm top alone, and with a 10 mm and a
  // 5 mm gap (the page's section gaps are 5 mm and a row), against no trim.
  const int trim_gaps[] = {0, 10, 5};
  std::vector<command> trimmed;
  for (int gap : trim_gaps)
    trimmed.push_back(ours(jobs[0], false, "PaperSaveGap=" + std::to_string(gap)));
  trimmed.push_back(ours(jobs[0], false, "PaperSaveTop=-1"));
  std::vector<costs> trim = measure(trimmed, runs);

  std::vector<table_row> rows;
  for (int v = 0; v < 2; v++)
    rows.push_back(time_row(label(1, "50 pages, ") + job_names[v] + ": filter / floor", job[v][0], job[v][1], 1.25));
  for (int v = 0; v < 2; v++)
    for (size_t k = 0; k < reference_count; k++)
      rows.push_back(time_row(label(2, "50 pages, ") + job_names[v] + ": filter / " + references[k].name, job[v][0],
                              job[v][2 + k], 1, true));
  for (int v = 0; v < 2; v++)
    rows.push_back(time_row(label(3, "50 pages, ") + job_names[v] + ": trace on / off", traced[v][0], traced[v][1], 2));
  rows.push_back(memory_row(label(4, "peak RSS, 50 pages, trace off"), job[0][0], page_bytes));
  rows.push_back(memory_row(label(4, "peak RSS, 50 pages, trace on"), traced[0][0], page_bytes));
  rows.push_back(memory_row(label(4, "peak RSS, large page, trace off"), big[0], big_bytes));
  rows.push_back(memory_row(label(4, "peak RSS, large page, trace on"), big[1], big_bytes));
  table_row floor_memory = memory_row(label(4, "peak RSS of the floor, 50 pages"), job[0][1], page_bytes);
  floor_memory.goal = "record";
  floor_memory.verdict = "";
  rows.push_back(floor_memory);
  for (size_t k = 0; k < reference_count; k++)
    rows.push_back(time_row(label(5, "one page: filter / ") + references[k].name, one[0], one[1 + k], 1, true));

  // 6: the packet CRC against memcpy on one page of the job, in this process.
  std::vector<uint8_t> page(page_bytes), copy(page_bytes);
  for (unsigned y = 0; y < page_rows; y++)
    bench::render_row(0, y, page_rows, page.data() + size_t{y} * bench::row_bytes);
  const int samples = std::max(21, runs);
  const int repeat = 50;
  auto per_page_ns = [&](const std::function<void()> &step) {
    return median_ns(samples,
                     [&] {
                       for (int i = 0; i < repeat; i++)
                         step();
                     }) /
           repeat;
  };
  double copy_ns = per_page_ns([&] {
    std::memcpy(copy.data(), page.data(), page_bytes);
    asm volatile("" : : "r"(copy.data()) : "memory");
  });
  double crc_ns = per_page_ns([&] { packet_crc32(0xFFFFFFFFu, page.data(), page_bytes); });
  double zlib_ns = per_page_ns([&] { crc32(0xFFFFFFFFul, page.data(), page_bytes); });
  auto speed = [](double ns) { return format("%.1f GB/s", page_bytes / ns); };
  rows.push_back({label(6, "packet CRC / memcpy, one page"), speed(crc_ns), speed(copy_ns),
                  format("%.2f", crc_ns / copy_ns), "", "record", ""});
  rows.push_back({label(6, "zlib crc32 / memcpy, one page"), speed(zlib_ns), speed(copy_ns),
                  format("%.2f", zlib_ns / copy_ns), "", "record", ""});
  rows.push_back({label(6, "packet CRC of the 50 pages / filter, v3"), ms(crc_ns * job_pages / 1e6),
                  ms(job[0][0].wall_ms), format("%.2f", crc_ns * job_pages / 1e6 / job[0][0].wall_ms), "", "record",
                  ""});

  // 7: write_bytes of 1 MiB of the job's pixels with the trace on and off.
  // The printer stream and the trace are regular files, emptied before each
  // sample; a trace on /dev/null shows the cost of the hex text alone.
  {
    std::vector<uint8_t> block(1 << 20);
    for (size_t i = 0; i < block.size(); i++)
      block[i] = page[i % page_bytes];
    fflush(stdout);
    int saved = dup(1);
    int out = open(in_work("stdout").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    auto empty_stdout = [] {
      fflush(stdout);
      if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0)
        perror("ovik-bench: stdout");
    };
    // A job of the filter's: the printer stream on standard output.
    ovik_job_io io = spooler_io(nullptr);
    io.message = nullptr; // its settings dump stays out of the table
    dev_mode settings;
    init_dev_mode(&settings);
    ovik_printer_dev *job = nullptr;
    ovik_printer_dev_creator(&settings, &io, &job);
    auto write_mib = [&] {
      write_bytes(job->out, block.data(), static_cast<int>(block.size()));
      fflush(stdout);
    };
    auto traced_to = [&](const std::string &path) {
      return median_ns(samples, write_mib, [&] {
        empty_stdout();
        if (job->io.trace)
          fclose(job->io.trace);
        job->io.trace = fopen(path.c_str(), "wb");
      });
    };
    double plain = median_ns(samples, write_mib, empty_stdout);
    double traced = traced_to(trace);
    double text_only = traced_to("/dev/null");
    if (job->io.trace)
      fclose(job->io.trace);
    job->io.trace = nullptr;
    ovik_printer_dev_destroy(job);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(out);
    rows.push_back({label(7, "write_bytes of 1 MiB: trace on / off"), ms(traced / 1e6), ms(plain / 1e6),
                    format("%.2f", traced / plain), "", "<= 3.00", traced <= 3 * plain ? "met" : "MISSED"});
    rows.push_back({label(7, "write_bytes of 1 MiB: trace on /dev/null / off"), ms(text_only / 1e6), ms(plain / 1e6),
                    format("%.2f", text_only / plain), "", "record", ""});
  }

  // 8: the top and gap trim of one page of the job, in this process, after
  // its bottom trim as the filter does it, against the filter's time a page.
  const float dot = 25.4f / 203;
  auto trim_ns = [&](int gap_mm) {
    std::vector<row_span> spans;
    spans.reserve(page_rows);
    uint64_t size = 0, kept = 0;
    return median_ns(
        samples,
        [&] {
          DoSavePaperTop(page.data(), &size, bench::dots, &kept, mm_to_dots(2, dot),
                         gap_mm ? mm_to_dots(gap_mm, dot) : 0, spans);
          asm volatile("" : : "r"(kept), "r"(spans.data()) : "memory");
        },
        [&] {
          size = page_bytes;
          kept = page_rows;
          DoSavePaper(page.data(), &size, bench::dots, &kept);
        });
  };
  double per_page_ms = job[0][0].wall_ms / job_pages;
  for (size_t k = 0; k < std::size(trim_gaps); k++) {
    std::string what = trim_gaps[k] ? "top 2 mm, gap " + std::to_string(trim_gaps[k]) + " mm" : "top 2 mm";
    rows.push_back(time_row(label(8, "50 pages, v3: ") + what + " / no trim", trim[k], trim.back(), 1.02));
    double ms_trim = trim_ns(trim_gaps[k]) / 1e6;
    rows.push_back({label(8, "trim of one page, ") + what + " / filter a page, v3", format("%.4f ms", ms_trim),
                    format("%.3f ms", per_page_ms), format("%.3f", ms_trim / per_page_ms), "", "<= 0.02",
                    ms_trim <= 0.02 * per_page_ms ? "met" : "MISSED"});
  }

  print_table(rows);
  // The rasters stay for runs by hand; the large outputs go.
  unlink(trace.c_str());
  unlink(in_work("stdout").c_str());
}

/* The paper receipts take with the trim off and on, and its table. */
void paper_table(const std::string &work, const std::string &filter)
{
  bench::runner run_program = [&](const std::vector<std::string> &argv, const std::vector<std::string> &env,
                                  const std::string &in, const std::string &out) {
    return run(command{argv, env, in, out}).status;
  };
  std::string missing;
  std::vector<bench::paper_figure> paper = bench::paper_figures(work, filter, OVIK_BENCH_PPD, run_program, &missing);
  printf("\npaper fed per receipt (ovik-decode's paper_fed_mm), against the height printed: trim off is\n"
         "PaperSaveTop=-1 PaperSaveGap=0 (a PPD without the keywords), on is PaperSaveTop=2 (the PPD default)\n"
         "PaperSaveGap=10; content runs from the first to the last dotted row, less the blank runs longer\n"
         "than the gap, and the trim may keep 2 mm above it and 10 mm of each such run\n\n");
  std::vector<table_row> paper_rows;
  for (const bench::paper_figure &f : paper) {
    double goal = f.content + f.margins + 1;
    bool met = f.label ? f.on == f.off : f.on <= goal;
    paper_rows.push_back({f.job, format("%.1f mm", f.on), format("%.1f mm", f.off), format("%.1f mm", f.content),
                          format("%.1f mm", f.margins), f.label ? "= trim off" : format("<= %.1f mm", goal),
                          met ? "met" : "MISSED"});
  }
  print_table(paper_rows, {"job", "trim on", "trim off", "content", "margins", "goal", ""});
  if (!missing.empty())
    printf("not measured: %s\n", missing.c_str());
}

/* The print servers side by side, and their table: the application's
 * figure over the classic path's; for jobs a second the inverse goal. */
void server_table(int runs)
{
  std::string missing;
  printf("\nprint servers: ovik-printer-app (the systemd unit's options) against a private cupsd with the Tern 80A\n"
         "PPD and this filter, each printing to ovik-sim on loopback; median of %d runs of each side, the sides\n"
         "taken in turn, after one warm-up run; a time ends at the last byte at the printer\n\n",
         runs);
  std::vector<bench::server_figure> figures = bench::server_figures(runs, &missing);
  std::vector<table_row> rows;
  for (const bench::server_figure &f : figures) {
    auto value = [&](double v) {
      return v < 0                             ? std::string("failed")
             : std::strcmp(f.unit, "ms") == 0  ? ms(v)
             : std::strcmp(f.unit, "MiB") == 0 ? mib(v)
                                               : format("%.1f jobs/s", v);
    };
    bool measured = f.ours > 0 && f.theirs > 0;
    double ratio = measured ? f.ours / f.theirs : 0;
    bool met = f.higher_is_better ? ratio >= 2 : ratio <= 0.5;
    rows.push_back({f.figure, value(f.ours), value(f.theirs), measured ? format("%.2f", ratio) : "", f.reference,
                    f.record             ? "record"
                    : f.higher_is_better ? ">= 2.00"
                                         : "<= 0.50",
                    !measured || f.record ? ""
                    : met                 ? "met"
                                          : "MISSED"});
    if (!f.note.empty() && !measured)
      missing += " " + f.figure + ": " + f.note + ";";
  }
  print_table(rows, {"figure", "application", "classic", "ratio", "classic path", "goal", ""});
  if (!missing.empty())
    printf("not measured:%s\n", missing.c_str());
}

} // namespace

/* Measures the parts asked for (all by default) and prints their tables. */
int main(int argc, char **argv)
{
  int runs = 11, server_runs = 5;
  std::string work = OVIK_BENCH_WORK, filter = OVIK_FILTER_BIN, parts = "filter,paper,servers";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::max(1, atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--server-runs") == 0)
      server_runs = std::max(1, atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--work") == 0)
      work = argv[i + 1];
    else if (std::strcmp(argv[i], "--filter") == 0)
      filter = argv[i + 1];
    else if (std::strcmp(argv[i], "--parts") == 0)
      parts = argv[i + 1];
  }
  if (mkdir(work.c_str(), 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "ovik-bench: cannot make %s: %s\n", work.c_str(), strerror(errno));
    return 1;
  }
  auto part = [&](const char *name) {
    return ("," + parts + ",").find(std::string(",") + name + ",") != std::string::npos;
  };
  printf("machine: %s, %ld CPUs, %.1f GiB memory; filter built %s\n", cpu_model().c_str(),
         sysconf(_SC_NPROCESSORS_ONLN), sysconf(_SC_PHYS_PAGES) * double(sysconf(_SC_PAGESIZE)) / (1 << 30),
         OVIK_BENCH_BUILD);
  if (part("filter"))
    filter_table(runs, work, filter);
  if (part("paper"))
    paper_table(work, filter);
  if (part("servers"))
    server_table(server_runs);
  return 0;
}
