/*
 * driver.cpp - the Ovik drivers of the printer application: one per model
 * of the catalogue, the driver data PAPPL asks for (media, darkness, the
 * vendor attributes of the job keywords), a printer's state from its
 * creation to its deletion, Identify-Printer (the beeper) and the test page.
 * Jobs go through our document filters (job.cpp), not PAPPL's raster
 * callbacks.
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

std::vector<model_driver> model_drivers;
std::vector<pappl_pr_driver_t> driver_table;

/* The shortest and narrowest custom roll size, in hundredths of millimetres. */
constexpr int custom_min = 2500;

/* Darkness steps: the printer's own setting and the 8 density levels. */
constexpr int darkness_steps = 9;

/* A model's driver name: its PPD's file name less ".ppd". */
std::string driver_name(const char *model_name)
{
  char name[128];
  ovik_driver_name(model_name, name, sizeof name);
  return name;
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
    pwgFormatSizeName(keyword, sizeof keyword, "om", name, ovik_app_width_hmm(dots), lengths[i] * 100, "mm");
    names.emplace_back(keyword);
  }
  pwgFormatSizeName(keyword, sizeof keyword, "roll", "max", ovik_app_width_hmm(dots), lengths[count - 1] * 100, "mm");
  names.emplace_back(keyword);
  pwgFormatSizeName(keyword, sizeof keyword, "roll", "min", custom_min, custom_min, "mm");
  names.emplace_back(keyword);
  return names;
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

/* Releases a printer's state with the printer, its monitor stopped first
 * (when the printer was not deleted by papplPrinterDelete, whose event
 * stops it: at the server's end). */
void delete_cb(pappl_printer_t *, pappl_pr_driver_data_t *data)
{
  auto *st = static_cast<printer_state *>(data->extension);
  if (st) {
    ovik_app_forget(*st);
    delete st;
  }
  data->extension = nullptr;
}

} // namespace

/* A new printer: its monitor starts. Added while the server runs, it answers
 * its first request at least a second old (printer-up-time counts whole
 * seconds from its creation, and clients expect it above 0). */
void ovik_app_create_cb(pappl_printer_t *printer, void *)
{
  printer_state *st = ovik_app_state(printer);
  if (!st)
    return;
  st->printer = printer;
  ovik_app_add_tools_page(printer);
  ovik_app_registry_add(st);
  ovik_app_add_printer_pages(printer);
  ovik_app_monitor_start(*st);
  if (papplSystemIsRunning(papplPrinterGetSystem(printer))) {
    time_t created = time(nullptr);
    while (time(nullptr) <= created)
      usleep(20 * 1000);
  }
}

namespace {

/* Raster callbacks: PAPPL requires them, but every document reaches the
 * printer through our filters (vet.cpp keeps raster from being streamed). */
bool rstartjob_cb(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *)
{
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Streamed raster is not printed by this driver.");
  return false;
}
bool rstartpage_cb(pappl_job_t *, pappl_pr_options_t *, pappl_device_t *, unsigned)
{
  return false;
}
bool rwriteline_cb(pappl_job_t *, pappl_pr_options_t *, pappl_device_t *, unsigned, const unsigned char *)
{
  return false;
}
bool rendpage_cb(pappl_job_t *, pappl_pr_options_t *, pappl_device_t *, unsigned)
{
  return false;
}
bool rendjob_cb(pappl_job_t *, pappl_pr_options_t *, pappl_device_t *)
{
  return false;
}

/* ---------- identify ---------- */

/* Beeps for Identify-Printer with action sound: two beeps through the
 * printer's integrated beeper. */
void identify_cb(pappl_printer_t *printer, pappl_identify_actions_t actions, const char *)
{
  printer_state *st = ovik_app_state(printer);
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
  printer_state *st = ovik_app_state(printer);
  if (!st)
    return nullptr;
  int fd = papplPrinterOpenFile(printer, buffer, size, nullptr, "testpage", "png", "w");
  if (fd < 0)
    return nullptr;
  close(fd);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  int darkness = ovik_app_density_level(data.darkness_configured, data.darkness_default);
  int length_dots = static_cast<int>(data.media_default.size_length * static_cast<long>(app_resolution) / 2540);
  if (!ovik_testpage_write(buffer, st->driver->make_model.c_str(), st->driver->row->width_dots, length_dots,
                           darkness)) {
    unlink(buffer);
    return nullptr;
  }
  return buffer;
}

/* ---------- driver data ---------- */

/* Adds a vendor option's default (the one the PPDs offer) and supported
 * values to the driver's attributes. */
void add_vendor_attrs(ipp_t *attrs, const ovik_keyword &row)
{
  std::string dflt = std::string(row.ipp_name) + "-default";
  std::string supp = std::string(row.ipp_name) + "-supported";
  const char *offered = ovik_keyword_offered_default(&row);
  if (row.ipp_integer) {
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, dflt.c_str(), atoi(offered));
    ippAddRange(attrs, IPP_TAG_PRINTER, supp.c_str(), row.min, row.max);
    return;
  }
  std::vector<const char *> keywords;
  const char *default_keyword = nullptr;
  for (int i = 0; i < row.num_choices; i++) {
    keywords.push_back(row.choices[i].ipp);
    if (std::strcmp(row.choices[i].value, offered) == 0)
      default_keyword = row.choices[i].ipp;
  }
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, dflt.c_str(), nullptr, default_keyword);
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supp.c_str(), static_cast<int>(keywords.size()), nullptr,
                keywords.data());
}

} // namespace

/* ---------- entry points ---------- */

/* The driver of a name, or NULL. */
const model_driver *ovik_app_driver(const char *name)
{
  for (const model_driver &d : model_drivers)
    if (name && d.name == name)
      return &d;
  return nullptr;
}

/* The width in hundredths of millimetres that holds every dot of the head. */
int ovik_app_width_hmm(int dots)
{
  return static_cast<int>(std::ceil(dots * 2540.0 / app_resolution));
}

/* The density of a darkness: nine steps, the printer's darkness moved by
 * the job's; the lowest step (0 %) leaves the printer's own setting (-1),
 * the others are density levels 0 to 7. */
int ovik_app_density_level(int configured, int job)
{
  int step = (std::clamp(configured + job, 0, 100) * (darkness_steps - 1) + 50) / 100;
  return step - 1;
}

/* A printer on its way out: its monitor stopped, the save told. Called from
 * PAPPL's deletion event, under no more than the system's read lock (the
 * monitor never needs the system's write lock), and again at deletion. */
void ovik_app_forget(printer_state &st)
{
  ovik_app_monitor_stop(st);
  ovik_app_registry_remove(&st);
}

/* The driver state of a printer. */
printer_state *ovik_app_state(pappl_printer_t *printer)
{
  pappl_pr_driver_data_t data;
  if (!printer || !papplPrinterGetDriverData(printer, &data))
    return nullptr;
  return static_cast<printer_state *>(data.extension);
}

/* The drivers, built once from the catalogue: one per model name with a
 * print width, from the first row of that name. */
pappl_pr_driver_t *ovik_app_drivers(int *count)
{
  if (model_drivers.empty()) {
    model_drivers.reserve(OVIK_MODEL_COUNT);
    for (const ovik_model_brief &row : model_brief_table) {
      if (row.width_dots <= 0 || !row.name || !*row.name || ovik_app_driver(driver_name(row.name).c_str()))
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
  const model_driver *d = ovik_app_driver(driver_name);
  if (!d) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No driver named '%s'.", driver_name);
    return false;
  }
  auto *st = new printer_state;
  st->driver = d;
  data->extension = st;
  data->delete_cb = delete_cb;
  data->identify_cb = identify_cb;
  data->format = native_format;
  data->rendjob_cb = rendjob_cb;
  data->rendpage_cb = rendpage_cb;
  data->rstartjob_cb = rstartjob_cb;
  data->rstartpage_cb = rstartpage_cb;
  data->rwriteline_cb = rwriteline_cb;
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

  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = app_resolution;
  data->x_default = data->y_default = app_resolution;
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
  m.size_width = ovik_app_width_hmm(d->row->width_dots);
  m.size_length = default_length * 100;
  snprintf(m.source, sizeof m.source, "main-roll");
  snprintf(m.type, sizeof m.type, "%s", data->type[0]);
  m.tracking = PAPPL_MEDIA_TRACKING_CONTINUOUS;
  data->media_default = m;

  // Darkness: the printer's own setting (0 %), then density levels 0 to 7.
  data->darkness_supported = darkness_steps;
  data->darkness_configured = 0;
  data->darkness_default = 0;

  // Our icon, small, medium and large.
  for (int i = 0; i < 3; i++) {
    data->icons[i].data = ovik_app_icon(i).data();
    data->icons[i].datalen = ovik_app_icon(i).size();
  }

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
