/*
 * servers.cpp - the print servers side by side. ovik-printer-app (started
 * as the systemd unit starts it) and the classic path (a private cupsd from
 * tools/cupsd-sandbox with queues of the Tern 80A PPD and the filter) print
 * to ovik-sim simulators on loopback; ovik-sim gives each stream file the
 * time its last byte arrived, which ends every time taken here.
 *
 * - one receipt: an IPP Print-Job of one PWG raster page, from the request
 *   to the last byte at the printer; the classic queue with
 *   socket://127.0.0.1:PORT and with socket://127.0.0.1:PORT/?snmp=false;
 * - the sample PDF through CUPS with lp: a driverless queue (lpadmin -m
 *   everywhere) on the application against a queue of the PPD;
 * - the resident memory of the server process with 1, 16 and 64 idle
 *   printers (queues), and at its peak while 8 printers print (for cupsd
 *   with the filters and backends it starts);
 * - 8 printers x 5 jobs sent at once: wall time to the last byte of the
 *   last job, and jobs a second.
 */
#include "servers.h"

#include <atomic>
#include <cctype>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <thread>

#include "app_harness.h"

namespace bench {

namespace {

using namespace app_test;

/* The wall clock in nanoseconds: the clock of ovik-sim's stream times. */
long long wall_ns()
{
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* ---------- what reaches the printers ---------- */

/* The streams a simulator has finished, each taken once: those whose
 * listing is written (the stream file is whole then, and carries the time
 * of its last byte). */
struct stream_watch {
  const printer_sim *sim;
  unsigned next = 1;

  /* Bitmaps in the streams finished since the last look, the latest last
   * byte among those that carried any, and how many were not whole. */
  void take(size_t *bitmaps, long long *last_byte_ns, size_t *broken)
  {
    for (;; next++) {
      char stem[32];
      std::snprintf(stem, sizeof stem, "out/job-%03u", next);
      std::string base = sim->dir.file(stem);
      struct stat st {};
      if (access((base + ".txt").c_str(), F_OK) != 0 || stat((base + ".prn").c_str(), &st) != 0)
        return;
      decode_summary s = decode_stream(read_file(base + ".prn")).summary;
      if (s.bitmaps == 0)
        continue; // the status questions of an idle printer
      *bitmaps += s.bitmaps;
      *last_byte_ns = std::max(*last_byte_ns, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
      *broken += s.crc_errors + s.problems + s.unknown_bytes + (s.stop_offset != -1);
    }
  }
};

/* Starts the sending (which may return before the jobs print), then waits
 * until the printers have had `bitmaps` more bitmaps in whole streams: the
 * milliseconds from the start to their last byte, or -1 with *why. */
double to_last_byte(std::vector<stream_watch> &watches, size_t bitmaps, const std::function<bool()> &send,
                    std::string *why)
{
  for (stream_watch &w : watches) { // streams of earlier runs still closing
    size_t ignored = 0, broken = 0;
    long long last = 0;
    w.take(&ignored, &last, &broken);
  }
  long long start = wall_ns(), last = 0;
  if (!send()) {
    *why = "a request was refused";
    return -1;
  }
  size_t got = 0, broken = 0;
  auto limit = steady::now() + 120s;
  while (got < bitmaps && broken == 0 && steady::now() < limit) {
    std::this_thread::sleep_for(5ms);
    for (stream_watch &w : watches)
      w.take(&got, &last, &broken);
  }
  if (got != bitmaps || broken) {
    *why = std::to_string(got) + " of " + std::to_string(bitmaps) + " pages arrived, " + std::to_string(broken) +
           " faults in the streams";
    return -1;
  }
  return (last - start) / 1e6;
}

/* ---------- the servers ---------- */

/* Runs a program to its end (60 s at most); its exit status, its output in *out. */
int run_program(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                std::string *out = nullptr)
{
  temp_dir dir;
  int status = wait_for(spawn(args, env, dir.file("out")), 60s);
  if (out)
    *out = read_text(dir.file("out"));
  return status;
}

/* A small file of /proc, read whole; "" when the process has gone (its
 * files then fail to read, which a stream would throw on). */
std::string proc_text(const std::string &path)
{
  char text[4096];
  int fd = open(path.c_str(), O_RDONLY);
  ssize_t n = fd < 0 ? -1 : read(fd, text, sizeof text - 1);
  if (fd >= 0)
    close(fd);
  return n > 0 ? std::string(text, size_t(n)) : "";
}

double rss_mib(pid_t pid)
{
  return memory_of(pid).rss_mib;
}

/* A private cupsd (tools/cupsd-sandbox) with the filters of this build, as
 * the classic path runs a shop's queues; reached on its Unix socket. */
struct cupsd_server {
  temp_dir dir;
  std::string sandbox = std::string(OVIK_SOURCE_DIR) + "/tools/cupsd-sandbox", root = dir.file("cupsd");
  bool up = false;

  cupsd_server()
  {
    chmod(dir.path.c_str(), 0755); // cupsd's filters run as lp
    std::string out;
    up = run_program({sandbox, "start", root, "--filter", OVIK_FILTER_BIN, "--filter", OVIK_COMMAND_FILTER_BIN}, {},
                     &out) == 0;
    if (!up)
      fprintf(stderr, "ovik-bench: cupsd did not start: %s\n", out.c_str());
  }
  ~cupsd_server()
  {
    if (up)
      run_program({sandbox, "stop", root}, {});
  }
  std::string socket() const { return root + "/cups.sock"; }
  pid_t pid() const { return atoi(read_text(root + "/cupsd.pid").c_str()); }

  /* Runs a CUPS command (lpadmin, lp) against this scheduler; its exit status. */
  int command(const std::vector<std::string> &args, std::string *out = nullptr) const
  {
    return run_program(args, {{"CUPS_SERVER", socket()}}, out);
  }

  /* Adds an enabled queue on a device, with a PPD file or "everywhere". */
  bool add_queue(const std::string &name, const std::string &device, const std::string &ppd) const
  {
    std::string out;
    bool ok = command({"/usr/sbin/lpadmin", "-p", name, "-E", "-v", device, ppd == "everywhere" ? "-m" : "-P", ppd},
                      &out) == 0;
    if (!ok)
      fprintf(stderr, "ovik-bench: lpadmin -p %s: %s\n", name.c_str(), out.c_str());
    return ok;
  }

  /* An IPP request to a queue over the socket; the response (caller frees). */
  ipp_t *request(ipp_op_t op, const std::string &queue, const char *attribute, const char *format = nullptr,
                 const std::string &file = "") const
  {
    http_t *http = httpConnect2(socket().c_str(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
    if (!http)
      return nullptr;
    ipp_t *req = ippNewRequest(op);
    std::string uri = "ipp://localhost/printers/" + queue;
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
    if (format)
      ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    if (attribute)
      ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, attribute);
    ipp_t *resp = cupsDoFileRequest(http, req, ("/printers/" + queue).c_str(), file.empty() ? nullptr : file.c_str());
    httpClose(http);
    return resp;
  }

  /* Sends a raster file to a queue with Print-Job; true when it was taken. */
  bool print(const std::string &queue, const std::string &file) const
  {
    ipp_t *resp = request(IPP_OP_PRINT_JOB, queue, nullptr, "application/vnd.cups-raster", file);
    bool ok = resp && ippGetStatusCode(resp) <= IPP_STATUS_OK_EVENTS_COMPLETE;
    ippDelete(resp);
    return ok;
  }

  /* The make and model of a queue: its PPD's, once cupsd has made one. */
  std::string model(const std::string &queue) const
  {
    ipp_t *resp = request(IPP_OP_GET_PRINTER_ATTRIBUTES, queue, "printer-make-and-model");
    ipp_attribute_t *a = resp ? ippFindAttribute(resp, "printer-make-and-model", IPP_TAG_TEXT) : nullptr;
    std::string text = a ? ippGetString(a, 0, nullptr) : "";
    ippDelete(resp);
    return text;
  }
};

/* The simulators every figure prints to, made once. */
struct printers {
  std::vector<std::unique_ptr<printer_sim>> sims;
  explicit printers(size_t n)
  {
    for (size_t i = 0; i < n; i++)
      sims.push_back(std::make_unique<printer_sim>("ready", std::vector<std::string>{"--max-time", "3600"}));
  }
  std::vector<stream_watch> watch(size_t first, size_t count) const
  {
    std::vector<stream_watch> w;
    for (size_t i = first; i < first + count; i++)
      w.push_back({sims[i].get()});
    return w;
  }
};

/* The socket URIs of a simulator: as lpinfo shows a network printer, and
 * without SNMP. */
std::string socket_uri(const printer_sim &sim, bool snmp)
{
  return sim.uri() + (snmp ? "" : "/?snmp=false");
}

/* Medians of runs of each side, taken in turn after one warm-up run each;
 * a side that fails gives -1 (and its reason in *why). */
std::vector<double> in_turn(int runs, const std::vector<std::function<double(std::string *)>> &sides, std::string *why)
{
  std::vector<std::vector<double>> all(sides.size());
  for (int i = -1; i < runs; i++)
    for (size_t k = 0; k < sides.size(); k++) {
      if (!all[k].empty() && all[k].back() < 0)
        continue;
      double v = sides[k](why);
      if (i >= 0 || v < 0)
        all[k].push_back(v);
    }
  std::vector<double> medians;
  for (std::vector<double> &v : all)
    medians.push_back(std::any_of(v.begin(), v.end(), [](double x) { return x < 0; }) ? -1 : median_of(v));
  return medians;
}

/* The resident set of a process and of every process in its session
 * (cupsd's sandbox leads one: its filters and backends), in MiB. */
double session_rss_mib(pid_t leader)
{
  double kib = 0;
  long page_kib = sysconf(_SC_PAGESIZE) / 1024;
  if (DIR *d = opendir("/proc")) {
    while (dirent *e = readdir(d)) {
      if (!isdigit(static_cast<unsigned char>(e->d_name[0])))
        continue;
      std::string proc = std::string("/proc/") + e->d_name, stat = proc_text(proc + "/stat");
      size_t close_paren = stat.rfind(')');
      int session = 0;
      if (close_paren == std::string::npos ||
          sscanf(stat.c_str() + close_paren + 1, " %*c %*d %*d %d", &session) != 1 || session != leader)
        continue;
      long size = 0, resident = 0;
      if (sscanf(proc_text(proc + "/statm").c_str(), "%ld %ld", &size, &resident) == 2)
        kib += double(resident * page_kib);
    }
    closedir(d);
  }
  return kib / 1024;
}

/* The CPU time a process has used, with that of the children it has
 * reaped (cupsd's filters and backends) when asked, in milliseconds. */
double cpu_ms(pid_t pid, bool children)
{
  std::string stat = proc_text("/proc/" + std::to_string(pid) + "/stat");
  size_t close_paren = stat.rfind(')');
  long long user = 0, system = 0, child_user = 0, child_system = 0;
  if (close_paren == std::string::npos ||
      sscanf(stat.c_str() + close_paren + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld %lld %lld", &user,
             &system, &child_user, &child_system) != 4)
    return 0;
  return double(user + system + (children ? child_user + child_system : 0)) * 1000 / double(sysconf(_SC_CLK_TCK));
}

/* The highest of a sample taken every 20 ms while work runs. */
double peak_while(const std::function<double()> &sample, const std::function<void()> &work)
{
  std::atomic<bool> done{false};
  double peak = 0;
  std::thread sampler([&] {
    while (!done) {
      peak = std::max(peak, sample());
      std::this_thread::sleep_for(20ms);
    }
  });
  work();
  done = true;
  sampler.join();
  return peak;
}

/* The memory figures: a fresh server of each kind, printers added on the
 * simulators up to each count; the resident set once they are idle. */
void memory_figures(const printers &p, std::vector<server_figure> &out, std::string *missing)
{
  app_server app;
  cupsd_server cupsd;
  if (!cupsd.up) {
    *missing += " memory (cupsd did not start)";
    return;
  }
  size_t added = 0;
  for (size_t count : {1, 16, 64}) {
    for (; added < count; added++) {
      std::string name = "m" + std::to_string(added);
      if (!app.add(name, "ovik-tern-80a", p.sims[added]->uri()) ||
          !cupsd.add_queue(name, socket_uri(*p.sims[added], false), std::string(OVIK_PPD_DIR) + "/ovik-tern-80a.ppd")) {
        *missing += " memory with " + std::to_string(count) + " printers (a printer could not be added)";
        return;
      }
    }
    // Idle: every printer asked once by the application's monitor, the
    // scheduler done with its PPDs.
    std::this_thread::sleep_for(5s);
    server_figure f;
    f.figure = "11. resident memory, " + std::to_string(count) + (count == 1 ? " idle printer" : " idle printers");
    f.reference = "cupsd, " + std::to_string(count) + (count == 1 ? " queue" : " queues");
    f.ours = rss_mib(app.pid);
    f.theirs = rss_mib(cupsd.pid());
    f.unit = "MiB";
    out.push_back(f);
  }
}

/* The two socket URI forms, as the rows name them. */
const char *uri_form(bool snmp)
{
  return snmp ? "socket://127.0.0.1:PORT" : "socket://127.0.0.1:PORT/?snmp=false";
}

} // namespace

double median_of(std::vector<double> v)
{
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

process_memory memory_of(pid_t pid)
{
  std::string status = proc_text("/proc/" + std::to_string(pid) + "/status");
  auto field = [&](const char *name) {
    size_t at = status.find(name);
    return at == std::string::npos ? 0.0 : atof(status.c_str() + at + std::strlen(name)) / 1024;
  };
  return {field("VmRSS:"), field("VmHWM:")};
}

std::vector<server_figure> server_figures(int runs, std::string *missing)
{
  std::vector<server_figure> out;
  if (geteuid() != 0 || access("/usr/sbin/cupsd", X_OK) != 0) {
    *missing += " the servers (cupsd runs as root)";
    return out;
  }
  auto add = [&](const std::string &figure, const std::string &reference, double ours, double theirs,
                 const char *unit = "ms", const std::string &why = "") {
    server_figure f;
    f.figure = figure;
    f.reference = reference;
    f.ours = ours;
    f.theirs = theirs;
    f.unit = unit;
    f.note = why;
    out.push_back(f);
    return &out.back();
  };
  constexpr int load_printers = 8, load_jobs = 5;
  // Simulators: 0-7 the application's, 8-15 the classic queues', 16 and 17
  // the driverless and the PPD queue's; all 64 for the memory figures.
  printers p(64);
  memory_figures(p, out, missing);

  app_server app;
  cupsd_server cupsd;
  if (!cupsd.up) {
    *missing += " the classic path (cupsd did not start)";
    return out;
  }
  const std::string ppd = std::string(OVIK_PPD_DIR) + "/ovik-tern-80a.ppd";
  bool ready = true;
  for (int i = 0; i < load_printers; i++) {
    std::string n = std::to_string(i);
    ready = ready && app.add("p" + n, "ovik-tern-80a", p.sims[i]->uri()) &&
            cupsd.add_queue("nosnmp" + n, socket_uri(*p.sims[8 + i], false), ppd) &&
            cupsd.add_queue("snmp" + n, socket_uri(*p.sims[8 + i], true), ppd);
  }
  ready = ready && app.add("drv", "ovik-tern-80a", p.sims[16]->uri()) &&
          cupsd.add_queue("everywhere", app.uri("drv"), "everywhere") &&
          cupsd.add_queue("ppd", socket_uri(*p.sims[17], false), ppd) &&
          cupsd.add_queue("ppdsnmp", socket_uri(*p.sims[17], true), ppd);
  if (!ready) {
    *missing += " the print times (a printer could not be added)";
    return out;
  }

  // The receipt: one page of the size PAPPL hands a driver, as PWG raster
  // (the application's format, and a raster the filter reads as it is).
  temp_dir files;
  std::string page = files.file("receipt.pwg");
  write_file(page, pwg_raster(receipt_page()));
  std::string why;

  // One receipt, to the last byte.
  auto app_receipt = [&](std::string *why) {
    std::vector<stream_watch> w = p.watch(0, 1);
    return to_last_byte(
        w, 1, [&] { return app.print("p0", page, "image/pwg-raster") > 0; }, why);
  };
  auto classic_receipt = [&](bool snmp) {
    return [&, snmp](std::string *why) {
      std::vector<stream_watch> w = p.watch(8, 1);
      return to_last_byte(
          w, 1, [&] { return cupsd.print(snmp ? "snmp0" : "nosnmp0", page); }, why);
    };
  };
  std::vector<double> receipt = in_turn(runs, {app_receipt, classic_receipt(false), classic_receipt(true)}, &why);
  for (int snmp = 0; snmp < 2; snmp++)
    add("9. one receipt, Print-Job to the last byte", std::string("cupsd, ") + uri_form(snmp), receipt[0],
        receipt[1 + snmp], "ms", why);

  // The sample PDF through CUPS, driverless and with the PPD; and what
  // CUPS's filters take of it alone (pdftopdf and gstoraster, with
  // rastertopwg for the driverless queue), through cupsfilter.
  std::string pdf = files.file("receipt.pdf");
  bool have_pdf = run_program({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-o", pdf,
                               std::string(OVIK_SOURCE_DIR) + "/samples/receipt.ps"},
                              {}) == 0;
  // cupsd makes the driverless queue's PPD in the background.
  bool have_queue =
      eventually([&] { return cupsd.model("everywhere").find("IPP Everywhere") != std::string::npos; }, 60s);
  if (have_pdf && have_queue) {
    auto lp = [&](const char *queue, size_t sim) {
      return [&, queue, sim](std::string *why) {
        std::vector<stream_watch> w = p.watch(sim, 1);
        return to_last_byte(
            w, 1,
            [&] {
              return cupsd.command({"/usr/bin/lp", "-d", queue, pdf}) == 0;
            },
            why);
      };
    };
    std::vector<double> pdfs = in_turn(runs, {lp("everywhere", 16), lp("ppd", 17), lp("ppdsnmp", 17)}, &why);
    for (int snmp = 0; snmp < 2; snmp++)
      add("10. lp of the sample PDF to the last byte, driverless queue on the application",
          std::string("PPD queue, ") + uri_form(snmp), pdfs[0], pdfs[1 + snmp], "ms", why);
    auto to_raster = [&](const std::string &queue_ppd, const char *format) {
      return [&, queue_ppd, format](std::string *why) {
        auto start = steady::now();
        if (run_program({"/usr/sbin/cupsfilter", "-p", queue_ppd, "-m", format, pdf}, {}) != 0) {
          *why = "cupsfilter failed";
          return -1.0;
        }
        return std::chrono::duration<double, std::milli>(steady::now() - start).count();
      };
    };
    std::vector<double> rip = in_turn(
        runs,
        {to_raster(cupsd.root + "/etc/ppd/everywhere.ppd", "image/urf"), to_raster(ppd, "application/vnd.cups-raster")},
        &why);
    add("10. of which CUPS's filters alone (cupsfilter), the driverless queue's PPD to image/urf",
        "the PPD to application/vnd.cups-raster", rip[0], rip[1], "ms", why)
        ->record = true;
  } else {
    *missing += have_pdf ? " the driverless queue (cupsd made no PPD for it)" : " the sample PDF (gs failed)";
  }

  // 8 printers x 5 jobs, all sent at once.
  auto all_at_once = [&](const std::function<bool(int)> &send_one) {
    return [&, send_one] {
      std::atomic<bool> taken{true};
      std::vector<std::thread> senders;
      for (int n = 0; n < load_printers * load_jobs; n++)
        senders.emplace_back([&, n] { taken = send_one(n % load_printers) && taken; });
      for (std::thread &t : senders)
        t.join();
      return taken.load();
    };
  };
  // The CPU time each server side took for the jobs (for cupsd with its
  // filters and backends), in the measured runs.
  std::vector<double> load_cpu[3];
  auto app_load = [&](std::string *why) {
    std::vector<stream_watch> w = p.watch(0, load_printers);
    double cpu = cpu_ms(app.pid, false);
    double ms = to_last_byte(
        w, load_printers * load_jobs,
        all_at_once([&](int i) { return app.print("p" + std::to_string(i), page, "image/pwg-raster") > 0; }), why);
    load_cpu[0].push_back(cpu_ms(app.pid, false) - cpu);
    return ms;
  };
  auto classic_load = [&](bool snmp) {
    return [&, snmp](std::string *why) {
      std::vector<stream_watch> w = p.watch(8, load_printers);
      // The backends end a moment after their last byte: cupsd has reaped
      // them all once every job has ended.
      double cpu = cpu_ms(cupsd.pid(), true);
      double ms = to_last_byte(
          w, load_printers * load_jobs,
          all_at_once([&](int i) { return cupsd.print((snmp ? "snmp" : "nosnmp") + std::to_string(i), page); }), why);
      run_program({cupsd.sandbox, "settle", cupsd.root, "30"}, {});
      load_cpu[1 + snmp].push_back(cpu_ms(cupsd.pid(), true) - cpu);
      return ms;
    };
  };
  std::vector<double> load = in_turn(runs, {app_load, classic_load(false), classic_load(true)}, &why);
  auto per_second = [](double ms) { return ms > 0 ? load_printers * load_jobs * 1000 / ms : -1; };
  for (int snmp = 0; snmp < 2; snmp++) {
    std::string classic = std::string("cupsd, ") + uri_form(snmp);
    add("12. 8 printers x 5 jobs at once, wall time to the last byte", classic, load[0], load[1 + snmp], "ms", why);
    add("12. 8 printers x 5 jobs at once, throughput", classic, per_second(load[0]), per_second(load[1 + snmp]),
        "jobs/s", why)
        ->higher_is_better = true;
  }

  add("12. of which the CPU time of the server for the 40 jobs", "cupsd with its filters and backends, ?snmp=false",
      median_of(load_cpu[0]), median_of(load_cpu[1]))
      ->record = true;

  // The memory while they print: one more run of each, sampled; for the
  // classic path cupsd with the filters and backends it starts.
  double app_peak = peak_while([&] { return rss_mib(app.pid); }, [&] { app_load(&why); });
  double classic_peak = peak_while([&] { return session_rss_mib(cupsd.pid()); }, [&] { classic_load(false)(&why); });
  add("11. resident memory at its peak while 8 printers x 5 jobs print",
      "cupsd and its filters and backends, ?snmp=false", app_peak, classic_peak, "MiB");
  std::stable_sort(out.begin(), out.end(), [](const server_figure &a, const server_figure &b) {
    return atoi(a.figure.c_str()) < atoi(b.figure.c_str());
  });
  return out;
}

} // namespace bench
