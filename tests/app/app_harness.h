/*
 * app_harness.h - the printer application under test: a real
 * ovik-printer-app server on a loopback port with its own state, spool and
 * log folder, printers that are ovik-sim simulators on loopback ports, and
 * IPP requests made with libcups as a client makes them.
 */
#ifndef OVIK_APP_HARNESS_H
#define OVIK_APP_HARNESS_H

#include <algorithm>
#include <sstream>
#include <chrono>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>

#include <cups/cups.h>
#include <jpeglib.h>
#include <png.h>

#include "decoder.h"
#include "filter_harness.h"

extern char **environ;

namespace app_test {

using namespace harness;

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

/* A free TCP port on 127.0.0.1, as the kernel hands one out. */
inline int free_port()
{
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

/* Starts a program with extra environment, output into a file; its pid.
 * The program is told to end when the test ends, however the test ends. */
inline pid_t spawn(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                   const std::string &output)
{
  std::vector<std::string> envs;
  for (char **e = environ; *e; e++) {
    std::string kv = *e;
    if (!env.count(kv.substr(0, kv.find('='))))
      envs.push_back(kv);
  }
  for (const auto &[k, v] : env)
    envs.push_back(k + "=" + v);
  c_strings argv(args), envp(envs);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
      _exit(127);
    int in = open("/dev/null", O_RDONLY);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execve(args[0].c_str(), argv.get(), envp.get());
    _exit(127);
  }
  return pid;
}

/* True when something accepts connections on a loopback port. */
inline bool port_open(int port)
{
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

/* Waits at most limit for a process to end; its exit status, or -1. */
inline int wait_for(pid_t pid, std::chrono::milliseconds limit)
{
  auto end = steady::now() + limit;
  while (steady::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(20ms);
  }
  return -2;
}

/* Ends a process we started: SIGTERM, then SIGKILL when it does not go. */
inline void stop(pid_t pid)
{
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  if (wait_for(pid, 10s) == -2) {
    kill(pid, SIGKILL);
    wait_for(pid, 5s);
  }
}

/* Polls until done() holds or limit passes; true when it held. */
inline bool eventually(const std::function<bool()> &done, std::chrono::milliseconds limit = 30s)
{
  auto end = steady::now() + limit;
  while (steady::now() < end) {
    if (done())
      return true;
    std::this_thread::sleep_for(100ms);
  }
  return done();
}

/* ---------- the printer: ovik-sim ---------- */

/* One simulated printer on a loopback port; its condition set through its
 * state file, its jobs read from its output folder. */
struct printer_sim {
  temp_dir dir;
  pid_t pid = -1;
  int port = 0;

  explicit printer_sim(const char *condition = "ready", const std::vector<std::string> &faults = {})
  {
    set(condition);
    std::vector<std::string> args = {OVIK_SIM_BIN, "--port",        "0",       "--port-file",     dir.file("port"),
                                     "--out",      dir.file("out"), "--state", dir.file("state"), "--max-time",
                                     "600"};
    args.insert(args.end(), faults.begin(), faults.end());
    pid = spawn(args, {}, dir.file("sim.log"));
    eventually([&] { return !read_text(dir.file("port")).empty(); }, 10s);
    port = atoi(read_text(dir.file("port")).c_str());
  }
  ~printer_sim() { stop(pid); }

  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port); }

  /* Changes the printer's condition: ready, near-end, paper-out, cover-open, offline, silent. */
  void set(const char *condition)
  {
    write_text(dir.file("state.new"), std::string(condition) + "\n");
    rename(dir.file("state.new").c_str(), dir.file("state").c_str());
  }

  /* Every connection's bytes so far, in order. */
  std::vector<bytes> connections() const
  {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.file("out").c_str())) {
      while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 4 && n.substr(n.size() - 4) == ".prn")
          names.push_back(n);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<bytes> all;
    for (const std::string &n : names)
      all.push_back(read_file(dir.file("out/" + n)));
    return all;
  }

  /* The connections that carried a document (packets), in order. */
  std::vector<bytes> jobs() const
  {
    std::vector<bytes> with_packets;
    for (const bytes &b : connections())
      if (decode_stream(b).summary.packets > 0)
        with_packets.push_back(b);
    return with_packets;
  }
};

/* A stream less its status requests (DLE EOT n): what the job itself sent. */
inline bytes without_status_requests(const bytes &stream)
{
  bytes out;
  for (const decode_record &r : decode_stream(stream).records)
    if (std::strcmp(r.name, "DLE EOT") != 0)
      out.insert(out.end(), stream.begin() + static_cast<long>(r.offset),
                 stream.begin() + static_cast<long>(r.offset + r.length));
  return out;
}

/* ---------- the printer application ---------- */

/* One job attribute: an integer, an enum (finishings), a keyword, or a
 * media type (sent in media-col). */
struct job_attr {
  std::string name, value;
};

/* The server command line the systemd unit ships (OVIK_SHIPPED_OPTIONS,
 * read from the unit at build time), with a port, spool folder and log file
 * of the test's. */
inline std::vector<std::string> shipped_server_args(int port, const std::string &spool, const std::string &log)
{
  std::vector<std::string> args = {OVIK_PRINTER_APP_BIN, "server"};
  std::istringstream words(OVIK_SHIPPED_OPTIONS);
  for (std::string w; words >> w;) {
    if (w.rfind("server-port=", 0) == 0)
      w = "server-port=" + std::to_string(port);
    else if (w.rfind("spool-directory=", 0) == 0)
      w = "spool-directory=" + spool;
    else if (w.rfind("log-file=", 0) == 0)
      w = "log-file=" + log;
    args.push_back(w);
  }
  return args;
}

/* A running ovik-printer-app server with its own folder, started as the
 * systemd unit starts it; extra is more environment for the server and its
 * sub-commands. */
struct app_server {
  temp_dir dir;
  int port = free_port();
  pid_t pid = -1;
  std::map<std::string, std::string> extra;

  explicit app_server(std::map<std::string, std::string> extra_env = {}) : extra(std::move(extra_env)) { start(); }
  ~app_server() { stop(pid); }

  /* Starts the server (again, after kill) on the same folder and port. */
  void start()
  {
    mkdir(dir.file("spool").c_str(), 0700);
    pid = spawn(shipped_server_args(port, dir.file("spool"), dir.file("log")), env(), dir.file("server.out"));
    // Only then may sub-commands run: one that finds no server starts one.
    eventually([&] { return port_open(port) && access(dir.file("ovik-printer-app.sock").c_str(), F_OK) == 0; }, 15s);
  }

  /* Ends the server at once, as a power cut or kill -9 does. */
  void kill_now()
  {
    kill(pid, SIGKILL);
    wait_for(pid, 5s);
    pid = -1;
  }

  /* Where this instance keeps its state file and control socket. */
  std::map<std::string, std::string> env() const
  {
    std::map<std::string, std::string> all = extra;
    all.insert({{"SNAP_COMMON", dir.path}, {"XDG_CONFIG_HOME", dir.path}, {"HOME", dir.path}});
    return all;
  }

  /* Runs a sub-command against this server; its exit status. */
  int cli(const std::vector<std::string> &args, std::string *output = nullptr) const
  {
    std::vector<std::string> argv = {OVIK_PRINTER_APP_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out = dir.file("cli.out");
    unlink(out.c_str());
    pid_t p = spawn(argv, env(), out);
    int status = wait_for(p, 30s);
    if (output)
      *output = read_text(out);
    return status;
  }

  /* The end of the server's log, for failure messages. */
  std::string log_tail(size_t n = 3000) const
  {
    std::string log = read_text(dir.file("log"));
    return log.size() > n ? log.substr(log.size() - n) : log;
  }

  std::string uri(const std::string &printer) const
  {
    return "ipp://localhost:" + std::to_string(port) + "/ipp/print/" + printer;
  }

  /* Adds a printer of a driver on a device; true when the server took it. */
  bool add(const std::string &name, const std::string &driver, const std::string &device) const
  {
    return cli({"add", "-d", name, "-m", driver, "-v", device}) == 0;
  }

  /* A new IPP request for a printer, its target and user set. */
  ipp_t *new_request(ipp_op_t op, const std::string &printer) const
  {
    ipp_t *req = ippNewRequest(op);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri(printer).c_str());
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    return req;
  }

  /* Sends an IPP request for a printer; the response (caller frees). */
  ipp_t *request(ipp_t *req, const std::string &printer, const std::string &file = "") const
  {
    http_t *http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
    if (!http) {
      ippDelete(req);
      return nullptr;
    }
    std::string resource = "/ipp/print/" + printer;
    ipp_t *resp = cupsDoFileRequest(http, req, resource.c_str(), file.empty() ? nullptr : file.c_str());
    httpClose(http);
    return resp;
  }

  /* Adds attributes to a group of a request: numbers as integers, finishings
   * as an enum, media-type inside media-col, the rest as keywords. */
  static void add_attrs(ipp_t *req, ipp_tag_t group, const std::vector<job_attr> &attrs)
  {
    for (const job_attr &a : attrs) {
      bool number = !a.value.empty() && a.value.find_first_not_of("-0123456789") == std::string::npos;
      if (a.name == "media-type") {
        ipp_t *col = ippNew();
        ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-type", nullptr, a.value.c_str());
        ippAddCollection(req, group, "media-col", col);
        ippDelete(col);
      } else if (a.name.rfind("finishings", 0) == 0) {
        ippAddInteger(req, group, IPP_TAG_ENUM, a.name.c_str(), atoi(a.value.c_str()));
      } else if (number) {
        ippAddInteger(req, group, IPP_TAG_INTEGER, a.name.c_str(), atoi(a.value.c_str()));
      } else {
        ippAddString(req, group, IPP_TAG_KEYWORD, a.name.c_str(), nullptr, a.value.c_str());
      }
    }
  }

  /* Sends a request of op with attributes (job attributes, or printer
   * attributes for Set-Printer-Attributes) and a file; the response. */
  ipp_t *send(ipp_op_t op, const std::string &printer, const std::vector<job_attr> &attrs, const char *format = nullptr,
              const std::string &file = "") const
  {
    ipp_t *req = new_request(op, printer);
    if (format)
      ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    add_attrs(req, op == IPP_OP_SET_PRINTER_ATTRIBUTES ? IPP_TAG_PRINTER : IPP_TAG_JOB, attrs);
    return request(req, printer, file);
  }

  /* Prints a file with job attributes; the job id, or 0. */
  int print(const std::string &printer, const std::string &file, const char *format,
            const std::vector<job_attr> &attrs = {}) const
  {
    ipp_t *resp = send(IPP_OP_PRINT_JOB, printer, attrs, format, file);
    int id = 0;
    if (resp && ippGetStatusCode(resp) <= IPP_STATUS_OK_EVENTS_COMPLETE)
      id = ippGetInteger(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), 0);
    ippDelete(resp);
    return id;
  }

  /* An attribute of the answer to req as text ("" when missing). */
  std::string attr_text(ipp_t *req, const std::string &printer, const char *name) const
  {
    ipp_t *resp = request(req, printer);
    char text[4096] = "";
    if (ipp_attribute_t *a = resp ? ippFindAttribute(resp, name, IPP_TAG_ZERO) : nullptr)
      ippAttributeString(a, text, sizeof text);
    ippDelete(resp);
    return text;
  }

  /* A job attribute as text ("" when missing). */
  std::string job_attr_text(const std::string &printer, int job, const char *name) const
  {
    ipp_t *req = new_request(IPP_OP_GET_JOB_ATTRIBUTES, printer);
    ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
    return attr_text(req, printer, name);
  }

  /* A printer attribute as text ("" when missing). */
  std::string printer_attr_text(const std::string &printer, const char *name) const
  {
    ipp_t *req = new_request(IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
    return attr_text(req, printer, name);
  }

  /* Cancels a job; true when the server took the request. */
  bool cancel(const std::string &printer, int job) const
  {
    ipp_t *req = new_request(IPP_OP_CANCEL_JOB, printer);
    ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
    ipp_t *resp = request(req, printer);
    bool ok = resp && ippGetStatusCode(resp) == IPP_STATUS_OK;
    ippDelete(resp);
    return ok;
  }

  /* A job's state keyword ("completed", "processing", ...). */
  std::string job_state(const std::string &printer, int job) const
  {
    std::string state = job_attr_text(printer, job, "job-state");
    return state.empty() ? "unknown" : state;
  }

  /* Waits for a job to end; its final state. */
  std::string finish(const std::string &printer, int job, std::chrono::milliseconds limit = 60s) const
  {
    std::string state;
    eventually(
        [&] {
          state = job_state(printer, job);
          return state == "completed" || state == "aborted" || state == "canceled";
        },
        limit);
    return state;
  }

  /* The printer's printer-state-reasons, joined by commas. */
  std::string reasons(const std::string &printer) const { return printer_attr_text(printer, "printer-state-reasons"); }

  /* True when the printer's printer-state-reasons hold reason. */
  bool has_reason(const std::string &printer, const std::string &reason) const
  {
    return ("," + reasons(printer) + ",").find("," + reason + ",") != std::string::npos;
  }
};

/* ---------- images ---------- */

/* One pixel of a test image: colour and alpha, 0 to 255. */
struct rgba {
  uint8_t r, g, b, a;
};

/* Writes a PNG of any form: color_type and bit_depth as libpng names them
 * (PNG_COLOR_TYPE_PALETTE takes a palette of the image's colours, with a
 * tRNS chunk when one of them is transparent; gray forms take r). */
inline void write_png_file(const std::string &path, unsigned w, unsigned h, int color_type, int depth,
                           const std::function<rgba(unsigned, unsigned)> &pixel)
{
  FILE *fp = fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, fp);
  png_set_IHDR(png, info, w, h, depth, color_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<rgba> palette;
  if (color_type == PNG_COLOR_TYPE_PALETTE) {
    for (unsigned y = 0; y < h; y++)
      for (unsigned x = 0; x < w; x++) {
        rgba p = pixel(x, y);
        if (std::none_of(palette.begin(), palette.end(),
                         [&](const rgba &q) { return q.r == p.r && q.g == p.g && q.b == p.b && q.a == p.a; }))
          palette.push_back(p);
      }
    std::vector<png_color> colors;
    std::vector<png_byte> alphas;
    for (const rgba &p : palette) {
      colors.push_back({p.r, p.g, p.b});
      alphas.push_back(p.a);
    }
    png_set_PLTE(png, info, colors.data(), static_cast<int>(colors.size()));
    if (std::any_of(alphas.begin(), alphas.end(), [](png_byte a) { return a != 255; }))
      png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
  }
  png_write_info(png, info);
  int channels = color_type == PNG_COLOR_TYPE_RGB          ? 3
                 : color_type == PNG_COLOR_TYPE_RGBA       ? 4
                 : color_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                           : 1;
  unsigned max = (1u << depth) - 1;
  std::vector<uint8_t> row(w * channels * 2 + 8);
  for (unsigned y = 0; y < h; y++) {
    std::fill(row.begin(), row.end(), 0);
    for (unsigned x = 0; x < w; x++) {
      rgba p = pixel(x, y);
      unsigned values[4] = {p.r, p.g, p.b, p.a};
      if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA)
        values[1] = p.a;
      if (color_type == PNG_COLOR_TYPE_PALETTE) {
        for (size_t i = 0; i < palette.size(); i++)
          if (palette[i].r == p.r && palette[i].g == p.g && palette[i].b == p.b && palette[i].a == p.a)
            values[0] = static_cast<unsigned>(i);
      }
      for (int c = 0; c < channels; c++) {
        unsigned v = color_type == PNG_COLOR_TYPE_PALETTE ? values[c] : (values[c] * max + 127) / 255;
        size_t bit = (size_t(x) * channels + c) * depth;
        if (depth == 16) {
          row[bit / 8] = static_cast<uint8_t>(v >> 8);
          row[bit / 8 + 1] = static_cast<uint8_t>(v);
        } else if (depth == 8) {
          row[bit / 8] = static_cast<uint8_t>(v);
        } else {
          row[bit / 8] |= static_cast<uint8_t>(v << (8 - depth - bit % 8));
        }
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  fclose(fp);
}

/* Writes a JPEG of gray or colour pixels at a quality. */
inline void write_jpeg_file(const std::string &path, unsigned w, unsigned h, bool color, int quality,
                            const std::function<rgba(unsigned, unsigned)> &pixel)
{
  FILE *fp = fopen(path.c_str(), "wb");
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, fp);
  c.image_width = w;
  c.image_height = h;
  c.input_components = color ? 3 : 1;
  c.in_color_space = color ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(w * 3);
  while (c.next_scanline < h) {
    for (unsigned x = 0; x < w; x++) {
      rgba p = pixel(x, c.next_scanline);
      if (color) {
        row[3 * x] = p.r;
        row[3 * x + 1] = p.g;
        row[3 * x + 2] = p.b;
      } else {
        row[x] = p.r;
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  fclose(fp);
}

/* The rows of the first bitmap packet of a stream (1-bit, as sent), with
 * their bytes per line; empty when there is none. */
inline bytes first_bitmap(const bytes &stream, uint32_t *bytes_per_line = nullptr)
{
  for (const decode_record &r : decode_stream(stream).records)
    if (r.effect == paper_effect::bitmap) {
      if (bytes_per_line)
        *bytes_per_line = r.row_bytes;
      return bytes(stream.begin() + static_cast<long>(r.data_offset),
                   stream.begin() + static_cast<long>(r.data_offset + r.data_length));
    }
  return {};
}

/* ---------- pages ---------- */

/* Pages of 1-bit black rows as a PWG raster stream (what IPP Everywhere
 * clients send, and what the filter reads as well), with copies in each
 * page header. */
inline bytes pwg_raster(const std::vector<page_spec> &pages, unsigned copies = 1)
{
  bytes out;
  cups_raster_t *r = cupsRasterOpenIO(append_to_bytes, &out, CUPS_RASTER_WRITE_PWG);
  for (const page_spec &p : pages) {
    cups_page_header2_t h;
    pwg_media_t *media =
        pwgMediaForSize(static_cast<int>(p.width * 2540 / 203 + 1), static_cast<int>(p.height * 2540 / 203 + 1));
    cupsRasterInitPWGHeader(&h, media, "black_1", 203, 203, "one-sided", nullptr);
    h.cupsWidth = p.width;
    h.cupsHeight = p.height;
    h.cupsBytesPerLine = p.bpl();
    h.NumCopies = copies;
    cupsRasterWriteHeader2(r, &h);
    bytes data = p.data();
    cupsRasterWritePixels(r, data.data(), static_cast<unsigned>(data.size()));
  }
  cupsRasterClose(r);
  return out;
}

/* One page as a PWG raster stream. */
inline bytes pwg_raster(const page_spec &p, unsigned copies = 1)
{
  return pwg_raster(std::vector<page_spec>{p}, copies);
}

/* A receipt-like page as long as its media (PAPPL hands the driver pages of
 * the job's media size; 1678 rows are 210 mm): text-sized blocks of dots on
 * the upper rows and blank rows at the bottom, which paper saving leaves out. */
inline page_spec receipt_page(unsigned width = 576, unsigned height = 1678, unsigned variant = 0)
{
  page_spec p;
  p.width = width;
  p.height = height;
  for (unsigned y = 8; y < height / 3 + 40 * variant; y++)
    for (unsigned x = 16; x + 16 < width; x++)
      if ((y / 12) % 2 == 0 ? ((x / 6 + y / 3 + variant) % 5 < 2) : (y % 12 == 6 && x % 3 == 0))
        p.dot(x, y);
  return p;
}

/* The filter's stream for a raster with the model's PPD and options. */
inline bytes filter_stream(const std::string &driver, const bytes &raster, const std::string &options)
{
  run_options o;
  o.args = {"1", "tester", "title", "1", options};
  o.env = {{"PPD", std::string(OVIK_PPD_DIR) + "/" + driver + ".ppd"}};
  o.input = raster;
  return run_filter(o).out;
}

} // namespace app_test

#endif
