/*
 * ovik_driver.cpp - the Ovik driver of the printer application.
 *
 * A printer's job runs through five raster callbacks, each a thin
 * translation into the job engine (ovik_engine.h):
 *
 *   start job    settings from the job's options -> ovik_printer_dev_creator,
 *                ovik_job_begin (document packets and start actions)
 *   start page   printer status between pages (waits while paper is out),
 *                ovik_page_start
 *   write line   ovik_page_add_rows, one 1-bit row at a time
 *   end page     ovik_page_end (page header and bitmap packets, page cut)
 *   end job      ovik_job_end (end actions, final feed and cut), unless the
 *                job was cancelled
 *
 * The engine writes through a sink onto the PAPPL device. Settings are
 * built as the CUPS filter builds them, from the same keyword table and the
 * same value texts, so both give the same bytes for the same settings.
 * Around the jobs: the driver callback (driver data from the model's
 * catalogue row), status, identify (the beeper) and the test page.
 */
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "ovik_app.h"
#include "ovik_printer_helper_cmd.h"

namespace {

/* ---------- the drivers, from the model catalogue ---------- */

/* One driver: the catalogue row it is made from and the texts PAPPL shows. */
struct model_driver {
  const ovik_model_brief *row;
  std::string name;         /* the PPD file name less ".ppd": "ovik-tern-80a" */
  std::string manufacturer; /* "Ovik" when the row names none, as the PPDs do */
  std::string make_model;   /* "Ovik Tern 80A" */
  std::string device_id;    /* "MFG:Ovik;MDL:Tern 80A;CMD:OVIK,ESC/POS;" */
  std::vector<std::string> media;
};

std::vector<model_driver> model_drivers;
std::vector<pappl_pr_driver_t> driver_table;

/* The shortest and narrowest custom roll size, in hundredths of millimetres. */
constexpr int custom_min = 2500;

constexpr int resolution = 203;

/* Darkness steps: the printer's own setting and the 8 density levels. */
constexpr int darkness_steps = 9;

/* The density of a darkness: nine steps, the printer's darkness moved by
 * the job's; the lowest step (0 %) leaves the printer's own setting (-1),
 * the others are density levels 0 to 7. */
int density_level(int configured, int job)
{
  int step = (std::clamp(configured + job, 0, 100) * (darkness_steps - 1) + 50) / 100;
  return step - 1;
}

/* The printer's own data stream, printed as it is. */
constexpr const char *native_format = "application/vnd.ovik-printer";

/* A model's driver name: its PPD's file name less ".ppd". */
std::string driver_name(const char *model_name)
{
  char name[128];
  ovik_driver_name(model_name, name, sizeof name);
  return name;
}

/* The width in hundredths of millimetres that holds every dot of the head. */
int width_hmm(int dots)
{
  return static_cast<int>(std::ceil(dots * 2540.0 / resolution));
}

/* The PWG media names of a model: one per PPD page size, then the custom
 * roll range. */
std::vector<std::string> media_names(int dots)
{
  std::vector<std::string> names;
  char name[64], keyword[128];
  size_t count = 0;
  const int *lengths = ovik_page_lengths_mm(&count, nullptr);
  for (size_t i = 0; i < count; i++) {
    snprintf(name, sizeof name, "%dx%dmm", ovik_roll_mm(dots), lengths[i]);
    pwgFormatSizeName(keyword, sizeof keyword, "om", name, width_hmm(dots), lengths[i] * 100, "mm");
    names.emplace_back(keyword);
  }
  pwgFormatSizeName(keyword, sizeof keyword, "roll", "max", width_hmm(dots), lengths[count - 1] * 100, "mm");
  names.emplace_back(keyword);
  pwgFormatSizeName(keyword, sizeof keyword, "roll", "min", custom_min, custom_min, "mm");
  names.emplace_back(keyword);
  return names;
}

/* The driver of a name, or NULL. */
const model_driver *find_driver(const char *name)
{
  for (const model_driver &d : model_drivers)
    if (name && d.name == name)
      return &d;
  return nullptr;
}

/* What kind of printer a catalogue row describes: its category word. */
pappl_kind_t model_kind(const ovik_model_brief *row)
{
  const char *description = row->description ? row->description : "";
  if (std::strstr(description, "Label/Receipt"))
    return PAPPL_KIND_LABEL | PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL;
  if (std::strstr(description, "Label"))
    return PAPPL_KIND_LABEL | PAPPL_KIND_ROLL;
  return PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL;
}

/* ---------- printers ---------- */

/* What the driver keeps per printer (driver data extension). */
struct printer_state {
  const model_driver *driver;
  std::mutex lock; /* guards pacing */
  ovik_status_pacing pacing{};
};

/* Releases a printer's state with the printer. */
void delete_cb(pappl_printer_t *, pappl_pr_driver_data_t *data)
{
  delete static_cast<printer_state *>(data->extension);
  data->extension = nullptr;
}

/* The driver state of a printer. */
printer_state *state_of(pappl_printer_t *printer)
{
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  return static_cast<printer_state *>(data.extension);
}

/* ---------- status ---------- */

/* The printer's supply: its paper roll, as full, low or out. */
void set_paper_supply(pappl_printer_t *printer, const ovik_condition &c)
{
  pappl_supply_t supply{};
  supply.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  snprintf(supply.description, sizeof supply.description, "Paper roll");
  supply.is_consumed = true;
  supply.level = !c.answered                           ? -1
                 : (c.found & OVIK_STATUS_MEDIA_EMPTY) ? 0
                 : (c.found & OVIK_STATUS_MEDIA_LOW)   ? 10
                                                       : 100;
  supply.type = PAPPL_SUPPLY_TYPE_OTHER;
  papplPrinterSetSupplies(printer, 1, &supply);
}

/* Asks the printer through device when a request is due, and shows the
 * answer as printer-state-reasons and supply level. False when nothing was
 * asked; c holds the condition otherwise. */
bool update_status(pappl_printer_t *printer, pappl_device_t *device, ovik_condition &c, bool in_job)
{
  printer_state *st = state_of(printer);
  if (!st)
    return false;
  {
    // A job asks a printer that answers every time; a silent one as paced.
    std::lock_guard<std::mutex> hold(st->lock);
    if (!(in_job && st->pacing.silences == 0) && !ovik_app_status_due(&st->pacing, time(nullptr)))
      return false;
  }
  if (!ovik_app_status_query(device, st->driver->row->printer_class, &c))
    return false;
  {
    std::lock_guard<std::mutex> hold(st->lock);
    ovik_app_status_record(&st->pacing, c.answered, time(nullptr));
  }
  pappl_preason_t now = ovik_app_status_reasons(&c);
  papplPrinterSetReasons(printer, now, OVIK_STATUS_REASONS & ~now);
  set_paper_supply(printer, c);
  return true;
}

/* Status callback, when the printer is idle: opens the device for the
 * requests (not while a job has it). */
bool status_cb(pappl_printer_t *printer)
{
  printer_state *st = state_of(printer);
  if (!st)
    return true;
  {
    std::lock_guard<std::mutex> hold(st->lock);
    if (!ovik_app_status_due(&st->pacing, time(nullptr)))
      return true;
  }
  pappl_device_t *device = papplPrinterOpenDevice(printer);
  if (!device)
    return true;
  ovik_condition c;
  update_status(printer, device, c, false);
  papplPrinterCloseDevice(printer);
  return true;
}

/* Between pages: the status when due; while the paper is out the job waits
 * for it (media-needed) until it is loaded or the job is cancelled. */
void wait_for_paper(pappl_job_t *job, pappl_device_t *device)
{
  pappl_printer_t *printer = papplJobGetPrinter(job);
  ovik_condition c;
  if (!update_status(printer, device, c, true) || !c.answered || !(c.found & OVIK_STATUS_MEDIA_EMPTY))
    return;
  papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
  papplJobSetMessage(job, "Waiting for paper");
  papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Out of paper, waiting for paper.");
  while (!papplJobIsCanceled(job)) {
    sleep(1);
    if (update_status(printer, device, c, true) && c.answered && !(c.found & OVIK_STATUS_MEDIA_EMPTY))
      break;
  }
  papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_NEEDED);
  papplJobSetMessage(job, "Printing");
}

/* ---------- identify ---------- */

/* Beeps for Identify-Printer with action sound: two beeps through the
 * printer's integrated beeper. */
void identify_cb(pappl_printer_t *printer, pappl_identify_actions_t actions, const char *)
{
  printer_state *st = state_of(printer);
  if (!st || !(actions & PAPPL_IDENTIFY_ACTIONS_SOUND))
    return;
  uint8_t command[16];
  uint32_t length = 0;
  if (ovik_cmd_beep_integrated_beeper(st->driver->row->printer_class, 2, 3, 3, command, sizeof command, &length) != 0) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "This model has no beeper command.");
    return;
  }
  pappl_device_t *device = papplPrinterOpenDevice(printer);
  if (!device) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Printer busy, cannot beep now.");
    return;
  }
  if (papplDeviceWrite(device, command, length) < 0)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to send the beeper command.");
  papplDeviceFlush(device);
  papplPrinterCloseDevice(printer);
}

/* ---------- test page ---------- */

/* Writes the test receipt into the spool and hands its name to PAPPL. */
const char *testpage_cb(pappl_printer_t *printer, char *buffer, size_t size)
{
  printer_state *st = state_of(printer);
  if (!st)
    return nullptr;
  int fd = papplPrinterOpenFile(printer, buffer, size, nullptr, "testpage", "png", "w");
  if (fd < 0)
    return nullptr;
  close(fd);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  int darkness = density_level(data.darkness_configured, data.darkness_default);
  int length_dots = static_cast<int>(data.media_default.size_length * static_cast<long>(resolution) / 2540);
  if (!ovik_testpage_write(buffer, st->driver->make_model.c_str(), st->driver->row->width_dots, length_dots,
                           darkness)) {
    unlink(buffer);
    return nullptr;
  }
  return buffer;
}

/* ---------- job settings ---------- */

/* The value text a vendor option carries for a keyword: the choice whose
 * IPP keyword it is, or the number itself. */
const char *vendor_value(const ovik_keyword &row, const char *ipp_value)
{
  if (row.ipp_integer)
    return ipp_value;
  for (int i = 0; i < row.num_choices; i++)
    if (row.choices[i].ipp && std::strcmp(row.choices[i].ipp, ipp_value) == 0)
      return row.choices[i].value;
  return nullptr;
}

/* The PPD page size name and imageable width in points of the job's media:
 * the model's own sizes by the name the PPD gives them, others by their
 * dimensions. */
std::string page_size(const pappl_media_col_t &media, const model_driver &d, double *width_points)
{
  const char *name = media.size_name;
  if (std::strncmp(name, "om_", 3) == 0) {
    const char *end = std::strchr(name + 3, '_');
    std::string ppd_name(name + 3, end ? static_cast<size_t>(end - name - 3) : std::strlen(name + 3));
    for (const std::string &m : d.media)
      if (m == name) {
        *width_points = ovik_page_width_points(d.row->width_dots);
        return ppd_name;
      }
  }
  *width_points = media.size_width * 72.0 / 2540.0;
  char text[64];
  snprintf(text, sizeof text, "%gx%gmm", media.size_width / 100.0, media.size_length / 100.0);
  return text;
}

/* The PaperType choice of the job's media type (or, without one, of its
 * tracking): labels with gaps, black marks, tickets or continuous. */
const char *paper_type(const ovik_keyword &row, const pappl_media_col_t &media)
{
  for (int i = 0; i < row.num_choices; i++)
    if (row.choices[i].ipp && std::strcmp(row.choices[i].ipp, media.type) == 0)
      return row.choices[i].value;
  if (media.tracking == PAPPL_MEDIA_TRACKING_GAP)
    return "1";
  if (media.tracking == PAPPL_MEDIA_TRACKING_MARK)
    return "2";
  return "0";
}

/* PrintDensity's value text for the job's darkness. */
std::string density(const pappl_pr_options_t &o)
{
  int level = density_level(o.darkness_configured, o.print_darkness);
  return level < 0 ? "None" : std::to_string(level);
}

/* Builds a job's settings as the CUPS filter does: defaults, the model,
 * then every keyword in table order with the value text the job's options
 * give. finishings trim asks for the cutter. */
int job_settings(const model_driver &d, const pappl_pr_options_t &o, ipp_t *defaults, const ovik_job_io *io,
                 dev_mode *s)
{
  init_dev_mode(s);
  if (int code = get_model_info(s, d.row->name, io))
    return code;
  bool trim = (o.finishings & PAPPL_FINISHINGS_TRIM) != 0;
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  for (size_t k = 0; k < count; k++) {
    const ovik_keyword &row = table[k];
    std::string text;
    const char *value = nullptr;
    char text_value[64];
    double width_points = 0;
    if (row.conversion == ovik_resolution) {
      text = std::to_string(o.printer_resolution[1] > 0 ? o.printer_resolution[1] : resolution) + "dpi";
    } else if (row.conversion == ovik_page_size) {
      text = page_size(o.media, d, &width_points);
    } else if (row.conversion == ovik_density) {
      text = density(o);
    } else if (std::strcmp(row.keyword, "PaperType") == 0) {
      value = paper_type(row, o.media);
    } else if (row.ipp_name) {
      // The job's value, else the printer's default (PAPPL hands on only the job's).
      const char *v = cupsGetOption(row.ipp_name, o.num_vendor, o.vendor);
      std::string default_name = std::string(row.ipp_name) + "-default";
      ipp_attribute_t *attr = defaults ? ippFindAttribute(defaults, default_name.c_str(), IPP_TAG_ZERO) : nullptr;
      if (!v && attr && ippAttributeString(attr, text_value, sizeof text_value) > 0)
        v = text_value;
      if (v)
        value = vendor_value(row, v);
    }
    if (!value && !text.empty())
      value = text.c_str();
    if (!value)
      continue;
    ovik_settings_apply(s, &row, value, io);
    if (row.conversion == ovik_page_size)
      ovik_settings_width_from_area(s, width_points);
  }
  if (trim) {
    // The cutter after the job, unless the settings already cut after every page.
    if (s->postprintaction != 3)
      s->postprintaction = 2;
    if (s->finalcut == 0)
      s->finalcut = 2;
  }
  return 0;
}

/* ---------- jobs ---------- */

/* One job's connection to the engine. */
struct job_context {
  pappl_job_t *job;
  pappl_device_t *device;
  ovik_printer_dev *engine;
  bool failed;
};

/* Sink: the engine's bytes onto the device; a cancel request on the way
 * reaches the engine, which stops between two copies of a page. */
int sink_write(void *context, const void *data, size_t length)
{
  auto *ctx = static_cast<job_context *>(context);
  if (papplJobIsCanceled(ctx->job)) // the engine stops at the next copy
    ovik_job_cancel(ctx->engine);
  return papplDeviceWrite(ctx->device, data, length) < 0 ? EIO : 0;
}

/* Sink: what was written goes on to the printer. */
int sink_flush(void *context)
{
  papplDeviceFlush(static_cast<job_context *>(context)->device);
  return 0;
}

/* The engine's status and debug lines into the job's log. */
void job_message(void *context, int level, const char *text)
{
  auto *ctx = static_cast<job_context *>(context);
  papplLogJob(ctx->job, level == MSG_INFO ? PAPPL_LOGLEVEL_INFO : PAPPL_LOGLEVEL_DEBUG, "%s", text);
}

/* Ends a job step that failed: the reason goes to the log. */
bool job_failed(job_context *ctx, const char *step)
{
  papplLogJob(ctx->job, PAPPL_LOGLEVEL_ERROR, "%s: %s", step, ovik_job_error(ctx->engine));
  ctx->failed = true;
  return false;
}

/* The job's context, with the engine told of a cancel request. */
job_context *context_of(pappl_job_t *job)
{
  auto *ctx = static_cast<job_context *>(papplJobGetData(job));
  if (ctx && ctx->engine && papplJobIsCanceled(job))
    ovik_job_cancel(ctx->engine);
  return ctx;
}

/* Start job: the settings, the engine's job, the document start. */
bool rstartjob_cb(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device)
{
  printer_state *st = state_of(papplJobGetPrinter(job));
  auto *ctx = new job_context{job, device, nullptr, false};
  papplJobSetData(job, ctx);

  ovik_job_io io{};
  io.write = sink_write;
  io.flush = sink_flush;
  io.sink_context = ctx;
  io.message = job_message;
  io.message_context = ctx;
  io.cancel_between_copies = 1;

  dev_mode settings;
  ipp_t *defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
  int code = job_settings(*st->driver, *options, defaults, &io, &settings);
  ippDelete(defaults);
  if (code != 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Model %s not in the catalogue (%d).", st->driver->row->name, code);
    ctx->failed = true;
    return false;
  }
  wait_for_paper(job, device);
  if (ovik_printer_dev_creator(&settings, &io, &ctx->engine) != 0)
    return job_failed(ctx, "Cannot start the job");
  if (ovik_job_begin(ctx->engine) != 0)
    return job_failed(ctx, "Cannot start the document");
  return true;
}

/* Start page: status between pages, then the engine's page. */
bool rstartpage_cb(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page)
{
  job_context *ctx = context_of(job);
  if (!ctx || !ctx->engine)
    return false;
  if (page > 0)
    wait_for_paper(job, device);
  context_of(job);
  // PAPPL repeats the pages of images for copies; raster streams come once
  // and the engine sends each page as many times as asked.
  const auto &h = options->header;
  const char *format = papplJobGetFormat(job);
  bool stream = format && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
  uint32_t copies = stream && options->copies > 1 ? static_cast<uint32_t>(options->copies) : 1;
  ovik_page p{h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine, h.cupsBitsPerPixel, copies};
  if (ovik_page_start(ctx->engine, &p) != 0)
    return job_failed(ctx, "Cannot start the page");
  return true;
}

/* Write line: one row of 1-bit black dots. */
bool rwriteline_cb(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned, const unsigned char *line)
{
  auto *ctx = static_cast<job_context *>(papplJobGetData(job));
  if (!ctx || !ctx->engine)
    return false;
  if (ovik_page_add_rows(ctx->engine, line, 1) != 0)
    return job_failed(ctx, "Cannot take the row");
  return true;
}

/* End page: the page's packets (none once the job is cancelled). */
bool rendpage_cb(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned)
{
  job_context *ctx = context_of(job);
  if (!ctx || !ctx->engine)
    return false;
  if (ovik_page_end(ctx->engine) != 0)
    return job_failed(ctx, "Cannot print the page");
  return true;
}

/* End job: the document end unless cancelled; the engine's job released. */
bool rendjob_cb(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *)
{
  job_context *ctx = context_of(job);
  if (!ctx)
    return false;
  bool ok = !ctx->failed;
  if (ctx->engine && ok && ovik_job_end(ctx->engine) != 0)
    ok = job_failed(ctx, "Cannot end the document");
  ovik_printer_dev_destroy(ctx->engine);
  papplJobSetData(job, nullptr);
  delete ctx;
  return ok;
}

/* A print stream made for the printer already (the native format): its
 * bytes go to the device unchanged. */
bool printfile_cb(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device)
{
  int fd = open(papplJobGetFilename(job), O_RDONLY);
  if (fd < 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the print file: %s", strerror(errno));
    return false;
  }
  bool ok = true;
  char buffer[65536];
  ssize_t n;
  while (ok && (n = read(fd, buffer, sizeof buffer)) > 0)
    ok = papplDeviceWrite(device, buffer, static_cast<size_t>(n)) >= 0;
  close(fd);
  papplDeviceFlush(device);
  papplJobSetImpressions(job, 1);
  papplJobSetImpressionsCompleted(job, 1);
  return ok;
}

/* ---------- driver data ---------- */

/* A dither matrix of 16 x 16 thresholds in Bayer order, for photos. */
void bayer(pappl_dither_t &d)
{
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) {
      int v = 0, xc = x, yc = x ^ y;
      for (int bit = 0; bit < 4; bit++) {
        v = (v << 2) | ((yc >> (3 - bit) & 1) << 1) | (xc >> (3 - bit) & 1);
      }
      d[y][x] = static_cast<unsigned char>(v);
    }
}

/* Adds a vendor option's default and supported values to the driver's attributes. */
void add_vendor_attrs(ipp_t *attrs, const ovik_keyword &row)
{
  std::string dflt = std::string(row.ipp_name) + "-default";
  std::string supp = std::string(row.ipp_name) + "-supported";
  if (row.ipp_integer) {
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, dflt.c_str(), atoi(row.default_value));
    ippAddRange(attrs, IPP_TAG_PRINTER, supp.c_str(), row.min, row.max);
    return;
  }
  std::vector<const char *> keywords;
  const char *default_keyword = nullptr;
  for (int i = 0; i < row.num_choices; i++) {
    keywords.push_back(row.choices[i].ipp);
    if (std::strcmp(row.choices[i].value, row.default_value) == 0)
      default_keyword = row.choices[i].ipp;
  }
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, dflt.c_str(), nullptr, default_keyword);
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supp.c_str(), static_cast<int>(keywords.size()), nullptr,
                keywords.data());
}

} // namespace

/* ---------- entry points ---------- */

/* The drivers, built once from the catalogue: one per model name with a
 * print width, from the first row of that name. */
pappl_pr_driver_t *ovik_app_drivers(int *count)
{
  if (model_drivers.empty()) {
    model_drivers.reserve(OVIK_MODEL_COUNT);
    for (const ovik_model_brief &row : model_brief_table) {
      if (row.width_dots <= 0 || !row.name || !*row.name || find_driver(driver_name(row.name).c_str()))
        continue;
      model_driver d;
      d.row = &row;
      d.name = driver_name(row.name);
      d.manufacturer = row.manufacturer && *row.manufacturer ? row.manufacturer : "Ovik";
      d.make_model = d.manufacturer + " " + row.name;
      d.device_id = "MFG:" + d.manufacturer + ";MDL:" + row.name +
                    ";CMD:" + ((row.printer_class & 1) ? "OVIK,ESC/POS;" : "OVIK;");
      d.media = media_names(row.width_dots);
      model_drivers.push_back(std::move(d));
    }
    for (const model_driver &d : model_drivers)
      driver_table.push_back({d.name.c_str(), d.make_model.c_str(), d.device_id.c_str(), nullptr});
  }
  *count = static_cast<int>(driver_table.size());
  return driver_table.data();
}

/* The driver of a device ID: its manufacturer and model, else the model alone. */
const char *ovik_app_autoadd_cb(const char *, const char *, const char *device_id, void *)
{
  cups_option_t *pairs = nullptr;
  int n = papplDeviceParseID(device_id, &pairs);
  const char *mfg = cupsGetOption("MFG", n, pairs);
  if (!mfg)
    mfg = cupsGetOption("MANUFACTURER", n, pairs);
  const char *mdl = cupsGetOption("MDL", n, pairs);
  if (!mdl)
    mdl = cupsGetOption("MODEL", n, pairs);
  const char *found = nullptr;
  for (int pass = 0; pass < 2 && mdl && !found; pass++)
    for (const model_driver &d : model_drivers)
      if (std::strcmp(d.row->name, mdl) == 0 && (pass == 1 || (mfg && d.manufacturer == mfg))) {
        found = d.name.c_str();
        break;
      }
  cupsFreeOptions(n, pairs);
  return found;
}

/* Fills the driver data of a new printer from its model. */
bool ovik_app_driver_cb(pappl_system_t *system, const char *driver_name, const char *, const char *,
                        pappl_pr_driver_data_t *data, ipp_t **attrs, void *)
{
  const model_driver *d = find_driver(driver_name);
  if (!d) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No driver named '%s'.", driver_name);
    return false;
  }
  auto *st = new printer_state;
  st->driver = d;
  data->extension = st;
  data->delete_cb = delete_cb;
  data->identify_cb = identify_cb;
  data->printfile_cb = printfile_cb;
  data->format = native_format;
  data->rendjob_cb = rendjob_cb;
  data->rendpage_cb = rendpage_cb;
  data->rstartjob_cb = rstartjob_cb;
  data->rstartpage_cb = rstartpage_cb;
  data->rwriteline_cb = rwriteline_cb;
  data->status_cb = status_cb;
  data->testpage_cb = testpage_cb;

  snprintf(data->make_and_model, sizeof data->make_and_model, "%s", d->make_model.c_str());
  data->ppm = 10;
  data->kind = model_kind(d->row);
  data->has_supplies = true;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_1;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->finishings = PAPPL_FINISHINGS_TRIM;
  std::memset(data->gdither, 127, sizeof data->gdither);
  bayer(data->pdither);

  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = resolution;
  data->x_default = data->y_default = resolution;
  // The head spans the media width and prints to its ends; a 1 mm top and
  // bottom margin is offered beside the borderless sizes, so that clients
  // which name their sizes by margins (CUPS's driverless PPDs) find the
  // default size among them.
  data->borderless = true;
  data->left_right = 0;
  data->bottom_top = 100;

  // Media: the PPD page sizes of the roll and the custom range.
  data->num_media = static_cast<int>(d->media.size());
  for (size_t i = 0; i < d->media.size(); i++)
    data->media[i] = d->media[i].c_str();
  data->num_source = 1;
  data->source[0] = "main-roll";
  data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS | PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK;
  const ovik_keyword *paper = ovik_keyword_find("PaperType");
  data->num_type = 0;
  for (int i = 0; paper && i < paper->num_choices && i < PAPPL_MAX_TYPE; i++)
    data->type[data->num_type++] = paper->choices[i].ipp;

  pappl_media_col_t &m = data->media_ready[0];
  size_t count_lengths = 0;
  int default_length = 0;
  const int *lengths = ovik_page_lengths_mm(&count_lengths, &default_length);
  size_t default_index = static_cast<size_t>(std::find(lengths, lengths + count_lengths, default_length) - lengths);
  snprintf(m.size_name, sizeof m.size_name, "%s", d->media[default_index].c_str());
  m.size_width = width_hmm(d->row->width_dots);
  m.size_length = default_length * 100;
  snprintf(m.source, sizeof m.source, "main-roll");
  snprintf(m.type, sizeof m.type, "%s", data->type[0]);
  m.tracking = PAPPL_MEDIA_TRACKING_CONTINUOUS;
  data->media_default = m;

  // Darkness: the printer's own setting (0 %), then density levels 0 to 7.
  data->darkness_supported = darkness_steps;
  data->darkness_configured = 0;
  data->darkness_default = 0;

  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_SOUND;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;

  // Every other job setting of the PPDs: a vendor attribute of the keyword's IPP name.
  *attrs = ippNew();
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  data->num_vendor = 0;
  for (size_t k = 0; k < count && data->num_vendor < PAPPL_MAX_VENDOR; k++) {
    if (!table[k].ipp_name)
      continue;
    data->vendor[data->num_vendor++] = table[k].ipp_name;
    add_vendor_attrs(*attrs, table[k]);
  }

  // What IPP Everywhere clients look for that PAPPL leaves to the driver.
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr, "normal");
  static const char *const overrides[] = {"document-number", "pages"};
  ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, overrides);
  return true;
}
