/*
 * devmode.cpp - the device object: the settings record with its defaults,
 * filled from the printer model, the PPD's defaults and the job's options,
 * and dumped to the spooler log.
 */
#include "devmode.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <cups/cups.h>
#include <cups/ppd.h>

#include "ovik_error.h"
#include "ovik_printer_model.h"
#include "ovik_trace.h"
#include "rastertoovik.h"
#include "util.h"

/* Stores the settings every job starts from. */
void init_dev_mode(dev_mode *s)
{
  s->model = 0x1001;
  s->type = (0x1001u << 16) | 1;
  s->printer_width = 48;
  s->max_render_height = 14;
  s->resolution = 203;
  s->dot_unit = static_cast<float>(25.4 / 203);
  s->speed = -1;
  s->density = -1;
  s->linespacing = -1;
  s->beeptimes = 1;
  s->externalbeeptimes = 1;
  s->postprintaction = 2;
  s->cutdistance = -1;
  s->papersavebottom = 1;
}

namespace {

/* atoi's reading of a number (blanks, sign, digits, stop at anything else),
 * but a value beyond int saturates instead of being undefined. */
int32_t to_int(const char *text)
{
  errno = 0;
  long long v = strtoll(text, nullptr, 10);
  if (v > INT_MAX)
    return INT_MAX;
  if (v < INT_MIN)
    return INT_MIN;
  return static_cast<int32_t>(v);
}

struct option_sources {
  ppd_file_t *ppd;
  int num_options;
  cups_option_t *options;
};

/* The job option of that name, else the PPD's marked choice, else none. */
const char *lookup(const option_sources &src, const char *keyword)
{
  if (const char *value = cupsGetOption(keyword, src.num_options, src.options))
    return value;
  if (ppd_choice_t *choice = ppdFindMarkedChoice(src.ppd, keyword))
    return choice->choice;
  return nullptr;
}

/* The highest resolution taken: far above any print head, and low enough
 * that the widths and strips computed from it stay small. */
constexpr int32_t max_resolution = 9600;

/* Resolution: dots per inch, and the millimetres of one dot. */
void set_resolution(dev_mode &s, const char *value, const option_sources &)
{
  int32_t dpi = to_int(value);
  if (dpi <= 0 || dpi > max_resolution) {
    // No usable dots per inch: the resolution in force stays.
    char why[48] = "gives no dots per inch", line[256];
    if (dpi > 0)
      snprintf(why, sizeof why, "is above %d dpi", max_resolution);
    snprintf(line, sizeof line, "Resolution %.64s %s; keeping %d dpi", value, why, s.resolution);
    mask_controls(line, sizeof line);
    msg(MSG_DEBUG, line);
    return;
  }
  s.resolution = dpi;
  s.motion_v = s.dot_unit = static_cast<float>(254.0 / dpi / 10.0);
}

/* PageSize, first reading: a width from the leading digits of the size name. */
void set_width_from_name(dev_mode &s, const char *value, const option_sources &)
{
  s.printer_width = to_int(value);
  if (s.printer_width != 0)
    s.max_render_height = 1024 / s.printer_width;
}

/* PageSize, second reading: bytes per line from the size's imageable width. */
void set_width_from_size(dev_mode &s, const char *value, const option_sources &src)
{
  if (ppd_size_t *size = ppdPageSize(src.ppd, value))
    s.printer_width = trunc_to_int((s.resolution * (size->right / 72.0) + 7.0) / 8.0);
}

void set_postprintaction(dev_mode &s, const char *value, const option_sources &)
{
  s.postprintaction = to_int(value);
  if (s.postprintaction == 3)
    s.is_page_cut = true;
}

void set_density(dev_mode &s, const char *value, const option_sources &)
{
  s.density = std::strcmp(value, "None") == 0 ? -1 : to_int(value);
}

/* The keywords in the order they are applied: a plain number into a field,
 * or a conversion of its own. */
struct keyword_row {
  const char *keyword;
  int32_t dev_mode::*field;
  void (*convert)(dev_mode &, const char *, const option_sources &);
};

const keyword_row keyword_table[] = {
    {"Resolution", nullptr, set_resolution},
    {"PageSize", nullptr, set_width_from_name},
    {"PaperType", &dev_mode::papertype, nullptr},
    {"PageSize", nullptr, set_width_from_size},
    {"PrintLogo", &dev_mode::printlogo, nullptr},
    {"LogoIndex", &dev_mode::logoindex, nullptr},
    {"LogoAlign", &dev_mode::logoalign, nullptr},
    {"BeepControl", &dev_mode::beepcontrol, nullptr},
    {"BeepDuration", &dev_mode::beepduration, nullptr},
    {"BeepInterval", &dev_mode::beepinterval, nullptr},
    {"BeepRepeat", &dev_mode::beeptimes, nullptr},
    {"ExternalBeepControl", &dev_mode::externalbeepcontrol, nullptr},
    {"ExternalBeepDuration", &dev_mode::externalbeepduration, nullptr},
    {"ExternalBeepInterval", &dev_mode::externalbeepinterval, nullptr},
    {"ExternalBeepRepeat", &dev_mode::externalbeeptimes, nullptr},
    {"Drawer1", &dev_mode::drawer1, nullptr},
    {"Drawer2", &dev_mode::drawer2, nullptr},
    {"BitmapCompression", &dev_mode::compression, nullptr},
    {"PaperSaveMode", &dev_mode::papersavemode, nullptr},
    {"PaperSaveBottom", &dev_mode::papersavebottom, nullptr},
    {"PostPrintAction", nullptr, set_postprintaction},
    {"FormfeedLength", &dev_mode::feeddistance, nullptr},
    {"CutMode", &dev_mode::finalcut, nullptr},
    {"CutPaperLength", &dev_mode::cutdistance, nullptr},
    {"PrintDensity", nullptr, set_density},
};

} // namespace

/* Copies the identity, class and width of the named catalogue model. */
int get_model_info(dev_mode *s, const char *name)
{
  ovik_printer_model *model = nullptr;
  int code = name ? ovik_printer_model_creator2(name, &model) : OVIK_ERR_MODEL;
  if (code != 0)
    return msgerrno(MSG_DEBUG, code);
  s->model = static_cast<uint32_t>(model->id);
  s->name = model->name;
  s->type = model->type;
  s->printer_width = model->width_dots / 8;
  s->motion_v = model->motion_v;
  ovik_printer_model_destroy(model);
  return 0;
}

/* Fills the settings from the model, then each keyword from the job's
 * options or the PPD's defaults. Every failure ends the job. */
void get_options(ovik_printer_dev *dev, const char *options)
{
  dev_mode &s = *dev->settings;
  ovik_trace("+get_options() start.\n");

  const char *ppd_path = getenv("PPD");
  if (!ppd_path) {
    ovik_trace("\tPPD environment variable not set!\n");
    error("PPD environment variable not set");
  }
  ovik_trace("\tget_options PPD:%s.\n", ppd_path);

  option_sources src{};
  src.ppd = ppdOpenFile(ppd_path);
  if (!src.ppd) {
    ovik_trace("\tppdOpenFile failed!\n");
    error("ppdOpenFile failed");
  }
  ppdMarkDefaults(src.ppd);
  if (options)
    src.num_options = cupsParseOptions(options, 0, &src.options);

  const char *nick = src.ppd->shortnickname;
  ovik_trace("\tget_options modelname:%s.\n", nick ? nick : "(null)");
  if (get_model_info(&s, nick) != 0) {
    ovik_trace("-wrong ppd modelname!\n");
    error("wrong ppd modelname!");
  }

  for (const keyword_row &row : keyword_table) {
    const char *value = lookup(src, row.keyword);
    if (!value)
      continue;
    if (row.field)
      s.*row.field = to_int(value);
    else
      row.convert(s, value, src);
  }

  if (options)
    cupsFreeOptions(src.num_options, src.options);
  ppdClose(src.ppd);
  if (options) {
    std::string shown = options;
    mask_controls(shown.data(), shown.size());
    msg(MSG_DUMP, shown.c_str());
  }
  ovik_trace("-get options finished.\n");
}

namespace {

enum class shown { hex, text, number, flag, real };

struct dump_row {
  const char *format;
  shown kind;
  size_t offset;
};

#define ROW(format, kind, field)                                                                                       \
  {                                                                                                                    \
    format, shown::kind, offsetof(dev_mode, field)                                                                     \
  }
const dump_row dump_table[] = {
    ROW("model            = 0x%x", hex, model),
    ROW("name             = %s", text, name),
    ROW("type             = 0x%x", hex, type),
    ROW("printer_width    = %d bytes", number, printer_width),
    ROW("max_render_height= %d", number, max_render_height),
    ROW("issupportshiftline= %s", flag, issupportshiftline),
    ROW("islabelprinter   = %s", flag, islabelprinter),
    ROW("cut_spacing     = %f", real, cut_spacing),
    ROW("motion_v        = %f", real, motion_v),
    ROW("dot_unit         = %f", real, dot_unit),
    ROW("compression         = %d", number, compression),
    ROW("papertype        = %d", number, papertype),
    ROW("pagemode         = %s", flag, pagemode),
    ROW("ticketmode       = %s", flag, ticketmode),
    ROW("finalcut         = %d", number, finalcut),
    ROW("is_page_cut      = %s", flag, is_page_cut),
    ROW("fwdfeed          = %d", number, fwdfeed),
    ROW("backfeed         = %d", number, backfeed),
    ROW("speed            = %d", number, speed),
    ROW("density          = %d", number, density),
    ROW("linespacing      = %d", number, linespacing),
    ROW("printlogo        = %d", number, printlogo),
    ROW("logoindex        = %d", number, logoindex),
    ROW("logoalign        = %d", number, logoalign),
    ROW("beepcontrol        = %d", number, beepcontrol),
    ROW("beepduration        = %d", number, beepduration),
    ROW("beepinterval        = %d", number, beepinterval),
    ROW("beeptimes        = %d", number, beeptimes),
    ROW("externalbeepcontrol        = %d", number, externalbeepcontrol),
    ROW("externalbeepduration        = %d", number, externalbeepduration),
    ROW("externalbeepinterval        = %d", number, externalbeepinterval),
    ROW("externalbeeptimes        = %d", number, externalbeeptimes),
    ROW("drawer1        = %d", number, drawer1),
    ROW("drawer2        = %d", number, drawer2),
    ROW("postprintaction       =%d", number, postprintaction),
    ROW("feeddistance        = %d", number, feeddistance),
    ROW("cutdistance        = %d", number, cutdistance),
    ROW("papersavemode        = %d", number, papersavemode),
    ROW("papersavebottom        = %d", number, papersavebottom),
};
#undef ROW

} // namespace

/* Reports the final settings of the job, one DEBUG line each. */
void dump_options(const dev_mode *s)
{
  msg(MSG_DUMP, "CUPS printing options");
  char line[255] = {};
  const char *base = reinterpret_cast<const char *>(s);
  for (const dump_row &row : dump_table) {
    const void *field = base + row.offset;
    switch (row.kind) {
    case shown::hex:
      snprintf(line, sizeof line, row.format, *static_cast<const uint32_t *>(field));
      break;
    case shown::text: {
      const char *text = *static_cast<const char *const *>(field);
      snprintf(line, sizeof line, row.format, text ? text : "(null)");
      break;
    }
    case shown::number:
      snprintf(line, sizeof line, row.format, *static_cast<const int32_t *>(field));
      break;
    case shown::flag:
      snprintf(line, sizeof line, row.format, *static_cast<const bool *>(field) ? "YES" : "NO");
      break;
    case shown::real:
      snprintf(line, sizeof line, row.format, static_cast<double>(*static_cast<const float *>(field)));
      break;
    }
    msg(MSG_DUMP, line);
  }
}

/* printer_width x max_render_height, the size of one render strip; a product
 * below zero counts as an empty strip, one beyond the page limit (only an
 * absurd Resolution or PageSize gets there) as no memory. */
static int32_t strip_size(const dev_mode &s, int32_t extra, const char *failure)
{
  long long size = static_cast<long long>(s.printer_width) * s.max_render_height;
  if (size < 0)
    size = 0;
  if (size + extra > static_cast<long long>(max_page_bytes))
    error(failure);
  return static_cast<int32_t>(size + extra);
}

/* Creates the device object of the job from its options string. */
int ovik_printer_dev_creator(const char *options, ovik_printer_dev **out)
{
  auto *settings = static_cast<dev_mode *>(calloc(1, sizeof(dev_mode)));
  if (!settings)
    error("Cannot allocate devOptions buffer");
  auto *state = static_cast<job_state_record *>(calloc(1, sizeof(job_state_record)));
  if (!state) {
    free(settings);
    error("Cannot allocate rending buffer");
  }
  auto *dev = static_cast<ovik_printer_dev *>(calloc(1, sizeof(ovik_printer_dev)));
  if (!dev) {
    free(state);
    free(settings);
    error("Cannot allocate dev buffer");
  }
  init_dev_mode(settings);
  dev->job_state = state;
  dev->settings = settings;

  get_options(dev, options);
  dump_options(settings);
  ovik_trace("-dump options finished.\n");

  dev->render_buf_size = strip_size(*settings, 0, "Cannot allocate rending data buffer");
  dev->render_buf = static_cast<uint8_t *>(calloc(1, dev->render_buf_size ? dev->render_buf_size : 1));
  if (!dev->render_buf) {
    free(settings);
    free(state);
    free(dev);
    error("Cannot allocate rending data buffer");
  }
  dev->data_buf_size = strip_size(*settings, 20, "Cannot allocate data buffer");
  dev->data_buf = static_cast<uint8_t *>(calloc(1, dev->data_buf_size));
  if (!dev->data_buf) {
    free(dev->render_buf);
    free(settings);
    free(state);
    free(dev);
    error("Cannot allocate data buffer");
  }
  *out = dev;
  return 0;
}

/* Releases the device object and everything it owns. */
int ovik_printer_dev_destroy(ovik_printer_dev *dev)
{
  free(dev->data_buf);
  free(dev->render_buf);
  free(dev->job_state);
  free(dev->settings);
  free(dev);
  return 0;
}
