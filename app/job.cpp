/*
 * job.cpp - a job of the printer application, from its document to the
 * printer: the document filter of every format PAPPL hands us.
 *
 *   settings   the job's IPP attributes and the printer's defaults through
 *              the engine's settings builder (ovik_settings_build)
 *   status     asked before the first page: a printer out of paper, with its
 *              cover open or offline keeps the job waiting, its state shown
 *   pages      the document read into 1-bit pages (document.cpp), each into
 *              the engine (ovik_page_*), every copy written to the printer
 *   copies     after each copy, when the printer answers status requests,
 *              its answer is awaited: the printer has then read the whole
 *              copy, so a cancel stops at the next copy with nothing of the
 *              job left in buffers, and impressions count what it took
 *   end        the document end (ovik_job_end), then the printer's answer:
 *              a job is completed only once the printer has read all of it
 *
 * A printer that hangs up mid-job gets the job again from its first page
 * once it is back (at most five times, as CUPS retries a job); a document
 * that cannot be printed ends the job as aborted, with its reason in the
 * job's message, its reasons and the log.
 */
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <malloc.h>
#include <string>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

#include "ovik_app.h"
#include "ovik_printer_helper_cmd.h"

namespace {

using namespace std::chrono_literals;

/* Attempts at a job whose printer hangs up, and the pause between them. */
constexpr int max_attempts = 5;
constexpr auto reconnect_pause = 5s;

/* After this long without a reply the printer is shown as not taking data. */
constexpr int stalled_after_ms = 2000;

/* ---------- the job's message ---------- */

/* PAPPL 1.3.1 answers Get-Job-Attributes and Get-Jobs with the
 * job-state-message it reads without the job's lock
 * (ipp_get_job_attributes, ipp_get_jobs), while papplJobSetMessage frees
 * the message it replaces: a client that asks as the message changes reads
 * freed memory. A job's message is therefore made once, with room for any
 * of ours, and written over in place: a client may read it half-written,
 * never freed. Its last byte stays the end of the text. */
constexpr size_t message_room = 256;

void set_message(pappl_job_t *job, std::string text)
{
  text.resize(std::min(text.size(), message_room - 1));
  auto *m = const_cast<char *>(papplJobGetMessage(job));
  if (!m) {
    papplJobSetMessage(job, "%s", std::string(message_room - 1, ' ').c_str());
    m = const_cast<char *>(papplJobGetMessage(job));
  }
  if (!m || malloc_usable_size(m) < message_room) {
    papplJobSetMessage(job, "%s", text.c_str()); // not one of ours
    return;
  }
  std::memcpy(m, text.c_str(), text.size() + 1);
}

/* ---------- settings ---------- */

/* The job's IPP attributes and the printer's defaults as a settings source. */
struct ipp_source {
  const model_driver &driver;
  const pappl_pr_options_t &options;
  ipp_t *defaults;
  std::string refused; /* a value out of its range, in words */
};

/* The PPD name of the job's media: the model's own sizes by the name the
 * PPD gives them, others by their dimensions. */
std::string page_size_name(const ipp_source &src)
{
  const pappl_media_col_t &m = src.options.media;
  if (std::strncmp(m.size_name, "om_", 3) == 0 &&
      std::find(src.driver.media.begin(), src.driver.media.end(), m.size_name) != src.driver.media.end()) {
    const char *end = std::strchr(m.size_name + 3, '_');
    return std::string(m.size_name + 3,
                       end ? static_cast<size_t>(end - m.size_name - 3) : std::strlen(m.size_name + 3));
  }
  char text[64];
  snprintf(text, sizeof text, "%gx%gmm", m.size_width / 100.0, m.size_length / 100.0);
  return text;
}

/* The value a standard IPP attribute gives a keyword without a vendor
 * attribute of its own. */
const char *standard_value(ipp_source &src, const ovik_keyword &row, char *buffer, size_t size)
{
  const pappl_pr_options_t &o = src.options;
  switch (row.conversion) {
  case ovik_resolution:
    snprintf(buffer, size, "%ddpi", o.printer_resolution[1] > 0 ? o.printer_resolution[1] : app_resolution);
    return buffer;
  case ovik_page_size:
    snprintf(buffer, size, "%s", page_size_name(src).c_str());
    return buffer;
  case ovik_density: {
    int level = ovik_app_density_level(o.darkness_configured, o.print_darkness);
    snprintf(buffer, size, level < 0 ? "None" : "%d", level);
    return buffer;
  }
  default:
    break;
  }
  // media-type: a choice by its IPP keyword, else by the media's tracking.
  if (const ovik_choice *choice = ovik_keyword_choice_of_ipp(&row, o.media.type))
    return choice->value;
  const char *tracking = o.media.tracking == PAPPL_MEDIA_TRACKING_GAP    ? "gap"
                         : o.media.tracking == PAPPL_MEDIA_TRACKING_MARK ? "mark"
                                                                         : "continuous";
  for (int i = 0; i < row.num_choices; i++)
    if (row.choices[i].tracking && std::strcmp(row.choices[i].tracking, tracking) == 0)
      return row.choices[i].value;
  return nullptr;
}

/* A keyword's value: the job's vendor attribute, else the printer's default;
 * for the keywords IPP carries in a standard attribute, that one; finishings
 * trim raises the cut. A value out of range is refused, never used. */
const char *ipp_value(void *context, const ovik_keyword *row, char *buffer, size_t size)
{
  auto &src = *static_cast<ipp_source *>(context);
  const char *value = nullptr;
  if (row->ipp_name) {
    const char *v = cupsGetOption(row->ipp_name, src.options.num_vendor, src.options.vendor);
    bool from_job = v != nullptr;
    char text[64];
    std::string default_name = std::string(row->ipp_name) + "-default";
    ipp_attribute_t *attr = src.defaults ? ippFindAttribute(src.defaults, default_name.c_str(), IPP_TAG_ZERO) : nullptr;
    if (!v && attr && ippAttributeString(attr, text, sizeof text) > 0)
      v = text;
    if (v) {
      value = ovik_keyword_value_of_ipp(row, v);
      if (!value || !ovik_keyword_accepts(row, value)) {
        if (src.refused.empty())
          src.refused = std::string(from_job ? "The job's " : "The printer's default ") + row->ipp_name + " (" + v +
                        ") is not one of the values offered";
        return nullptr;
      }
      snprintf(buffer, size, "%s", value);
      value = buffer;
    }
  } else if (row->ipp_standard) {
    value = standard_value(src, *row, buffer, size);
  }
  if (row->trim_value && (src.options.finishings & PAPPL_FINISHINGS_TRIM)) {
    const char *now = value ? value : row->default_value;
    if (atoi(now) < row->trim_below)
      value = row->trim_value;
  }
  return value;
}

/* The imageable right edge of the job's media: the model's print width for
 * its own sizes, else the media's width. */
double ipp_page_right(void *context, const char *)
{
  auto &src = *static_cast<ipp_source *>(context);
  const pappl_media_col_t &m = src.options.media;
  if (std::strncmp(m.size_name, "om_", 3) == 0)
    return ovik_page_width_points(src.driver.row->width_dots);
  return m.size_width * 72.0 / 2540.0;
}

/* The settings of a job's options over the printer's defaults; false with
 * why when a value is refused. */
bool build_settings(pappl_printer_t *printer, const model_driver &driver, const pappl_pr_options_t &o,
                    dev_mode &settings, std::string &why)
{
  ipp_t *defaults = papplPrinterGetDriverAttributes(printer);
  ipp_source src{driver, o, defaults, {}};
  ovik_settings_source source{ipp_value, ipp_page_right, &src};
  bool ok = false;
  if (ovik_settings_build(&settings, driver.row->name, &source, nullptr) != 0)
    why = "The printer's model is not in the catalogue";
  else if (!src.refused.empty())
    why = src.refused;
  else
    ok = true;
  ippDelete(defaults);
  return ok;
}

/* ---------- one run of the job ---------- */

struct job_run {
  job_run(pappl_job_t *j, printer_state &s) : job(j), st(s) {}
  pappl_job_t *job;
  printer_state &st;
  device_port port;
  dev_mode settings{};
  ovik_printer_dev *engine = nullptr;
  ovik_status_job status{};
  uint32_t copies = 1;
  int impressions = 0;  /* page copies the printer took */
  bool failed = false;  /* the document cannot be printed: not tried again */
  bool hung_up = false; /* the printer went away: tried again */
  std::string why;
  bool stalled = false;
  int write_error = 0;
  bool begun = false; /* the document start has been sent */
};

/* A job being shut down with the server is not cancelled: it goes on until
 * PAPPL ends the server, and its saved state prints it again after a
 * restart. */
bool cancelled(const job_run &r)
{
  return papplJobIsCanceled(r.job);
}

/* Sink: the engine's bytes to the printer. */
int sink_write(void *context, const void *data, size_t length)
{
  auto &r = *static_cast<job_run *>(context);
  if (papplJobIsCanceled(r.job))
    ovik_job_cancel(r.engine); // the engine stops at the next copy
  int error = port_write(r.port, data, length);
  if (error && !r.write_error) {
    r.write_error = error;
    r.hung_up = true;
    r.why = error == EPIPE || error == ECONNRESET ? "The printer closed the connection"
                                                  : std::string("The printer connection failed: ") + strerror(error);
  }
  return error;
}

void job_message(void *context, int level, const char *text)
{
  auto &r = *static_cast<job_run *>(context);
  papplLogJob(r.job, level == MSG_INFO ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_DEBUG, "%s", text);
}

/* Status answers: the printer's state, the job's message and reasons. */
void report(void *context, unsigned, unsigned now, int)
{
  auto &r = *static_cast<job_run *>(context);
  ovik_app_show_conditions(r.st, now, true);
  const ovik_status_condition *c = ovik_status_first(ovik_status_waiting(now));
  if (c) {
    set_message(r.job, std::string("Waiting: ") + c->text);
    papplJobSetReasons(r.job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
  } else {
    set_message(r.job, "Printing");
    papplJobSetReasons(r.job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
  }
}

void gave_up(void *context, const char *why)
{
  auto &r = *static_cast<job_run *>(context);
  if (!r.port.hung_up) // a hang-up is told once, by the job
    papplLogJob(r.job, PAPPL_LOGLEVEL_INFO, "%s", why);
}

int is_cancelled(void *context)
{
  return cancelled(*static_cast<job_run *>(context));
}

/* A waiting job's pause, ended early by a cancel. */
void pause_ms(void *context, int ms)
{
  auto &r = *static_cast<job_run *>(context);
  for (int waited = 0; waited < ms && !cancelled(r); waited += 100)
    std::this_thread::sleep_for(100ms);
}

/* A reply that is late: after a while the printer is shown as not taking
 * data; the wait goes on until it answers, hangs up or the job is cancelled. */
int keep_waiting(void *context, int waited_ms)
{
  auto &r = *static_cast<job_run *>(context);
  if (cancelled(r))
    return 0;
  if (waited_ms >= stalled_after_ms && !r.stalled) {
    r.stalled = true;
    ovik_app_show_conditions(r.st, r.status.held | OVIK_STATUS_STALLED, true);
    set_message(r.job, std::string("Waiting: ") + ovik_status_first(OVIK_STATUS_STALLED)->text);
    papplJobSetReasons(r.job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
    papplLogJob(r.job, PAPPL_LOGLEVEL_WARN, "The printer is not taking data; waiting for it.");
  }
  return 1;
}

/* Asks the printer where the job stands; waits while it cannot print. False
 * when the job cannot go on (cancelled, or the printer hung up). */
bool check_printer(job_run &r)
{
  ovik_status_job_check(&r.status);
  if (r.stalled) {
    r.stalled = false;
    ovik_app_show_conditions(r.st, r.status.held, true);
  }
  if (r.port.hung_up && !r.hung_up) {
    r.hung_up = true;
    r.why = "The printer closed the connection";
  }
  return !r.hung_up && !r.write_error && !cancelled(r);
}

/* After each copy: the printer's answer, when it gives one, proves it took
 * the copy. */
int copy_sent(void *context)
{
  auto &r = *static_cast<job_run *>(context);
  if (r.status.asking && !check_printer(r))
    return 1;
  if (r.write_error)
    return 1;
  r.impressions++;
  papplJobSetImpressionsCompleted(r.job, 1);
  if (cancelled(r)) {
    ovik_job_cancel(r.engine);
    return 1;
  }
  return 0;
}

/* ---------- pages into the engine ---------- */

bool page_begin(void *context, uint32_t width, uint32_t height)
{
  auto &r = *static_cast<job_run *>(context);
  if (cancelled(r))
    return false;
  // The document starts with its first page: a document that cannot be
  // read sends the printer nothing.
  if (!r.begun) {
    r.begun = true;
    if (ovik_job_begin(r.engine) != 0) {
      r.failed = !r.hung_up;
      if (r.why.empty())
        r.why = ovik_job_error(r.engine);
      return false;
    }
  }
  ovik_page page{width, height, (width + 7) / 8, 1, r.copies};
  papplJobSetImpressions(r.job, papplJobGetImpressions(r.job) + static_cast<int>(r.copies));
  if (ovik_page_start(r.engine, &page) != 0) {
    r.failed = true;
    r.why = ovik_job_error(r.engine);
    return false;
  }
  return true;
}

bool page_rows(void *context, const uint8_t *rows, uint32_t count)
{
  auto &r = *static_cast<job_run *>(context);
  return ovik_page_add_rows(r.engine, rows, count) == 0 && !cancelled(r);
}

bool page_end(void *context)
{
  auto &r = *static_cast<job_run *>(context);
  if (ovik_page_end(r.engine) != 0 && !r.hung_up && !r.failed) {
    r.failed = true;
    r.why = ovik_job_error(r.engine);
  }
  return !r.failed && !r.hung_up && !cancelled(r);
}

/* The printer's own stream, as it is. */
bool send_native(job_run &r, const char *path)
{
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    r.failed = true;
    r.why = std::string("Cannot open the document: ") + strerror(errno);
    return false;
  }
  char buffer[65536];
  ssize_t n;
  while (!cancelled(r) && (n = read(fd, buffer, sizeof buffer)) > 0)
    if (sink_write(&r, buffer, static_cast<size_t>(n)) != 0)
      break;
  close(fd);
  if (!r.write_error) {
    r.impressions = 1;
    papplJobSetImpressions(r.job, 1);
    papplJobSetImpressionsCompleted(r.job, 1);
  }
  return !r.write_error;
}

/* How the job's document is laid on the paper. */
layout layout_of(const job_run &r, const pappl_pr_options_t &o)
{
  size_t count = 0;
  const int *lengths = ovik_page_lengths_mm(&count, nullptr);
  layout l{};
  l.width_dots = static_cast<uint32_t>(r.st.driver->row->width_dots);
  l.length_rows = r.settings.papertype == 0 ? 0 : static_cast<uint32_t>(o.media.size_length * app_resolution / 2540);
  l.max_rows = static_cast<uint32_t>(lengths[count - 1] * app_resolution * 10 / 254);
  l.scaling = o.print_scaling;
  l.photo = o.print_content_optimize == PAPPL_CONTENT_PHOTO;
  return l;
}

/* One attempt at the whole job on device: status, document start, pages,
 * document end, the printer's last answer. */
void run_once(job_run &r, pappl_device_t *device, document_kind kind, const pappl_pr_options_t &o)
{
  r.port.write_since_ms = &r.st.write_since_ms;
  port_open(r.port, device, papplPrinterGetDeviceURI(r.st.printer));
  r.st.port_active = true;
  ovik_status_port *port = nullptr;
  uint8_t probe[8];
  uint32_t probe_length = 0;
  if (ovik_cmd_transmit_real_time_status(r.settings.type, 1, probe, sizeof probe, &probe_length) == 0)
    port = &r.port.port;
  ovik_status_job_begin(&r.status, r.settings.type, port);
  r.status.report = report;
  r.status.gave_up = gave_up;
  r.status.cancelled = is_cancelled;
  r.status.pause = pause_ms;
  r.status.keep_waiting = keep_waiting;
  r.status.context = &r;

  ovik_job_io io{};
  io.write = sink_write;
  io.sink_context = &r;
  io.message = job_message;
  io.message_context = &r;
  io.cancel_between_copies = 1;
  io.copy_sent = copy_sent;

  // A cancel during the first status request stops the job before it prints.
  bool ok = (!r.status.asking || check_printer(r)) && !cancelled(r);
  if (ok && kind == document_kind::native) {
    ok = send_native(r, papplJobGetFilename(r.job));
  } else if (ok) {
    r.begun = false;
    if (ovik_printer_dev_creator(&r.settings, &io, &r.engine) != 0) {
      r.failed = !r.hung_up;
      if (r.why.empty())
        r.why = ovik_job_error(r.engine);
      ok = false;
    }
    if (ok) {
      page_sink sink{page_begin, page_rows, page_end, &r};
      std::string why;
      ok = ovik_app_read_document(papplJobGetFilename(r.job), kind, layout_of(r, o), sink, why);
      if (!ok && !r.failed && !r.hung_up && !cancelled(r)) {
        r.failed = true;
        r.why = why;
      }
    }
    if (ok && r.begun && !cancelled(r) && ovik_job_end(r.engine) != 0 && !r.hung_up) {
      r.failed = true;
      r.why = ovik_job_error(r.engine);
    }
    ovik_printer_dev_destroy(r.engine);
    r.engine = nullptr;
  }
  // The last answer: the printer has read everything before it.
  if (!r.failed && !r.hung_up && !cancelled(r) && r.status.asking)
    check_printer(r);
  r.st.port_active = false;
  port_close(r.port);
}

/* Waits for a printer that hung up to be back; its new connection, or NULL
 * when the job was cancelled meanwhile. */
pappl_device_t *reconnect(job_run &r)
{
  const char *uri = papplPrinterGetDeviceURI(r.st.printer);
  ovik_app_show_conditions(r.st, OVIK_STATUS_UNREACHABLE, false);
  set_message(r.job, std::string("Waiting: ") + ovik_status_first(OVIK_STATUS_UNREACHABLE)->text);
  papplJobSetReasons(r.job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
  while (!cancelled(r)) {
    for (auto waited = 0ms; waited < reconnect_pause && !cancelled(r); waited += 100ms)
      std::this_thread::sleep_for(100ms);
    if (cancelled(r))
      break;
    if (pappl_device_t *device =
            papplDeviceOpen(uri, papplJobGetName(r.job), papplLogDevice, papplPrinterGetSystem(r.st.printer))) {
      ovik_app_show_conditions(r.st, 0, false);
      papplJobSetReasons(r.job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
      return device;
    }
  }
  return nullptr;
}

/* A job's end as our filter leaves it (PAPPL then sets its state): its
 * reason in place of the wait's, its message, its saved state. PAPPL
 * 1.3.1's finish_job marks a job canceled without adding its reason, and a
 * job that carries reasons shows those alone: a job cancelled while it
 * waited would say "printer-stopped", "Waiting: ...". */
void end_job(pappl_job_t *job, ipp_jstate_t state, pappl_jreason_t reason, const std::string &message)
{
  papplJobSetReasons(job, reason, PAPPL_JREASON_PRINTER_STOPPED);
  set_message(job, message);
  ovik_app_save_ended(job, state, ovik_app_state_path());
}

/* The job whose filter runs on this thread (every job has a thread of its
 * own), while PAPPL ends it. */
thread_local pappl_job_t *ending_job = nullptr;

} // namespace

/* PAPPL 1.3.1 lists a job among the completed ones twice, and later frees
 * it while it is still listed once, in two ways. _papplPrinterCheckJobs
 * starts a job on a thread of its own, and the job is processing only once
 * that thread runs start_job: a cancel in between (papplJobCancel,
 * papplPrinterCancelAllJobs) finds the job pending and lists it completed,
 * start_job makes it processing again, and finish_job lists it again. The
 * same check may also start one job twice, and each start ends in
 * finish_job. libcups's cupsArrayAdd, then, except for the job ending on
 * this thread when it is listed already. */
extern "C" int cupsArrayAdd(cups_array_t *a, void *e)
{
  using add_fn = int (*)(cups_array_t *, void *);
  static add_fn real = reinterpret_cast<add_fn>(dlsym(RTLD_NEXT, "cupsArrayAdd"));
  if (e && e == ending_job && cupsArrayFind(a, e) == e)
    return 1;
  return real(a, e);
}

/* The settings of the printer's defaults, as a job without attributes of
 * its own gets them. */
bool ovik_app_printer_settings(pappl_printer_t *printer, const printer_state &st, dev_mode &settings, std::string &why)
{
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  pappl_pr_options_t o{};
  o.copies = 1;
  o.media = data.media_default;
  o.print_content_optimize = data.content_default;
  o.print_darkness = data.darkness_default;
  o.darkness_configured = data.darkness_configured;
  o.print_scaling = data.scaling_default;
  o.printer_resolution[0] = o.printer_resolution[1] = app_resolution;
  return build_settings(printer, *st.driver, o, settings, why);
}

/* The document filter of every format: the job from its document to the printer. */
bool ovik_app_print_cb(pappl_job_t *job, pappl_device_t *device, void *data)
{
  auto kind = static_cast<document_kind>(reinterpret_cast<intptr_t>(data));
  pappl_printer_t *printer = papplJobGetPrinter(job);
  printer_state *st = ovik_app_state(printer);
  if (!st)
    return false;
  ending_job = job;
  // One job at a time on a printer. PAPPL 1.3.1 may start a second one
  // while the first prints (_papplPrinterCheckJobs tests processing_job
  // before it takes the printer's lock, and not again after): it waits here,
  // and the two go to the printer one after the other.
  struct inside {
    std::atomic<int> &n;
    explicit inside(std::atomic<int> &c) : n(c) { n++; }
    ~inside() { n--; }
  } counted(st->jobs_inside);
  std::lock_guard<std::mutex> one_job(st->job_lock);
  // The same race may start one job twice: the second start prints nothing.
  int id = papplJobGetID(job);
  if (std::find(st->jobs_started.begin(), st->jobs_started.end(), id) != st->jobs_started.end()) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Started again by PAPPL while printing; printed once.");
    return papplJobGetState(job) != IPP_JSTATE_ABORTED;
  }
  st->jobs_started.push_back(id);
  if (st->jobs_started.size() > 64)
    st->jobs_started.pop_front();
  // A job cancelled as PAPPL started it (see cupsArrayAdd above): the
  // cancel removed its document, start_job made it processing again.
  // Cancelled again, now that it is processing, it ends canceled with
  // nothing printed.
  if (!papplJobGetFilename(job)) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Canceled as it started; nothing printed.");
    papplJobCancel(job);
    end_job(job, IPP_JSTATE_CANCELED, PAPPL_JREASON_JOB_CANCELED_BY_USER, "Canceled");
    return true;
  }
  job_run r(job, *st);

  pappl_pr_options_t *o = papplJobCreatePrintOptions(job, 1, false);
  r.failed = !build_settings(printer, *st->driver, *o, r.settings, r.why);
  r.copies = static_cast<uint32_t>(std::max(1, o->copies));

  pappl_device_t *own = nullptr; // a connection of our own after a hang-up
  for (int attempt = 1; !r.failed && attempt <= max_attempts && !cancelled(r); attempt++) {
    r.hung_up = false;
    r.write_error = 0;
    r.why.clear();
    run_once(r, own ? own : device, kind, *o);
    if (!r.hung_up || cancelled(r))
      break;
    if (attempt == max_attempts)
      break;
    papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                "%s after %d page copies; the job is printed again from its first page "
                "once the printer is back (attempt %d of %d).",
                r.why.c_str(), r.impressions, attempt + 1, max_attempts);
    if (own)
      papplDeviceClose(own);
    if (!(own = reconnect(r)))
      break;
    papplJobSetImpressionsCompleted(job, -r.impressions);
    papplJobSetImpressions(job, 0);
    r.impressions = 0;
  }
  if (own)
    papplDeviceClose(own);
  papplJobDeletePrintOptions(o);

  if (cancelled(r)) {
    end_job(job, IPP_JSTATE_CANCELED, PAPPL_JREASON_JOB_CANCELED_BY_USER, "Canceled");
    return true;
  }
  if (r.failed || r.hung_up) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s.", r.why.c_str());
    end_job(job, IPP_JSTATE_ABORTED,
            r.failed ? PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR : PAPPL_JREASON_ABORTED_BY_SYSTEM, r.why);
    return false;
  }
  end_job(job, IPP_JSTATE_COMPLETED, PAPPL_JREASON_NONE, "Printed");
  return true;
}
