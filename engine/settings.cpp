/*
 * settings.cpp - the settings record: its defaults, the job keywords that
 * change it (one table, read by every front end and by the PPD generator),
 * the printer model's part, the settings dump, and the buffer sizes they give.
 */
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "job.h"
#include "ovik_error.h"
#include "ovik_printer_model.h"
#include "packet.h"

/* Stores the settings every job starts from. */
void init_dev_mode(dev_mode *s)
{
  *s = dev_mode{};
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
  s->papersavetop = -1;
}

namespace {

/* ---------- the job keywords ---------- */

// The table rows name the columns they use; the columns after them are zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#define CHOICES(name, ...)                                                                                             \
  constexpr ovik_choice name[] = {__VA_ARGS__};                                                                        \
  constexpr int name##_count = sizeof name / sizeof name[0]

CHOICES(resolution_choices, {"203dpi", "203 DPI", nullptr});
CHOICES(paper_type_choices, {"0", "Continuous roll", "continuous", "continuous"},
        {"1", "Labels with gaps", "labels", "gap"}, {"2", "Paper with black marks", "black-mark", "mark"},
        {"3", "Tickets", "ticket", nullptr});
CHOICES(when_choices, {"0", "Never", "none"}, {"1", "At start of job", "job-start"}, {"2", "At end of job", "job-end"});
CHOICES(logo_choices, {"0", "No", "none"}, {"1", "At start of job", "job-start"}, {"2", "At end of job", "job-end"});
CHOICES(drawer_choices, {"0", "Keep closed", "none"}, {"1", "Open at start of job", "job-start"},
        {"2", "Open at end of job", "job-end"});
CHOICES(logo_index_choices, {"0", "0", nullptr}, {"1", "1", nullptr}, {"2", "2", nullptr}, {"3", "3", nullptr},
        {"4", "4", nullptr}, {"5", "5", nullptr}, {"6", "6", nullptr}, {"7", "7", nullptr}, {"8", "8", nullptr},
        {"9", "9", nullptr}, {"10", "10", nullptr});
CHOICES(logo_align_choices, {"0", "Unchanged", "unchanged"}, {"1", "Left", "left"}, {"2", "Centre", "center"},
        {"3", "Right", "right"});
CHOICES(beep_times, {"0", "0 ms", nullptr}, {"1", "100 ms", nullptr}, {"2", "200 ms", nullptr},
        {"3", "300 ms", nullptr}, {"4", "400 ms", nullptr}, {"5", "500 ms", nullptr}, {"6", "600 ms", nullptr},
        {"7", "700 ms", nullptr}, {"8", "800 ms", nullptr}, {"9", "900 ms", nullptr});
CHOICES(one_to_nine, {"1", "1", nullptr}, {"2", "2", nullptr}, {"3", "3", nullptr}, {"4", "4", nullptr},
        {"5", "5", nullptr}, {"6", "6", nullptr}, {"7", "7", nullptr}, {"8", "8", nullptr}, {"9", "9", nullptr});
CHOICES(pulse_times, {"0", "0 ms", nullptr}, {"1", "100 ms", nullptr}, {"2", "200 ms", nullptr},
        {"3", "300 ms", nullptr}, {"4", "400 ms", nullptr}, {"5", "500 ms", nullptr});
CHOICES(on_off_choices, {"0", "Off", "off"}, {"1", "On", "on"});
CHOICES(paper_save_choices, {"0", "No", "none"}, {"1", "By a quarter", "quarter"}, {"2", "By half", "half"},
        {"3", "By three quarters", "three-quarters"});
CHOICES(page_end_choices, {"0", "Print it", "keep"}, {"1", "Leave it out", "trim"});
CHOICES(page_top_choices, {"-1", "Print it", nullptr}, {"0", "Leave it out", nullptr}, {"2", "Keep 2 mm", nullptr},
        {"5", "Keep 5 mm", nullptr}, {"10", "Keep 10 mm", nullptr});
CHOICES(page_gap_choices, {"0", "Print them", nullptr}, {"5", "Shorten to 5 mm", nullptr},
        {"10", "Shorten to 10 mm", nullptr}, {"20", "Shorten to 20 mm", nullptr});
CHOICES(post_print_choices, {"0", "Nothing", "none"}, {"1", "Feed at end of job", "feed-at-end"},
        {"2", "Feed and cut at end of job", "cut-at-end"}, {"3", "Feed and cut after every page", "cut-every-page"});
CHOICES(cut_mode_choices, {"0", "No cut", "none"}, {"1", "Partial cut", "partial"}, {"2", "Full cut", "full"});
CHOICES(cut_length_choices, {"-1", "None", nullptr}, {"0", "0 mm", nullptr}, {"5", "5 mm", nullptr},
        {"10", "10 mm", nullptr}, {"15", "15 mm", nullptr}, {"20", "20 mm", nullptr}, {"30", "30 mm", nullptr},
        {"40", "40 mm", nullptr});
CHOICES(feed_length_choices, {"0", "None", nullptr}, {"5", "5 mm", nullptr}, {"10", "10 mm", nullptr},
        {"15", "15 mm", nullptr}, {"20", "20 mm", nullptr}, {"30", "30 mm", nullptr}, {"40", "40 mm", nullptr});
CHOICES(density_choices, {"None", "Printer's own setting", nullptr}, {"0", "Level 0 (lightest)", nullptr},
        {"1", "Level 1", nullptr}, {"2", "Level 2", nullptr}, {"3", "Level 3", nullptr}, {"4", "Level 4", nullptr},
        {"5", "Level 5", nullptr}, {"6", "Level 6", nullptr}, {"7", "Level 7 (darkest)", nullptr});
#undef CHOICES

constexpr const char *general = "General/General";
constexpr const char *logo = "Logo/Stored Logo";
constexpr const char *beeper = "Beeper/Beeper";
constexpr const char *drawer = "Drawer/Cash Drawer";
constexpr const char *cutting = "Cutting/Feed and Cut";

#define FIELD(f) offsetof(dev_mode, f)
#define LIST(c) c, c##_count
/* keyword, label, group, IPP name, default, choices, IPP integer?, min, max, conversion, field, the
 * standard IPP attribute that carries it, finishings trim's value and the values it raises, the
 * default PPDs and the printer application offer when it is not the settings' own */
const ovik_keyword keyword_table[] = {
    {"Resolution", "Resolution", nullptr, nullptr, "203dpi", LIST(resolution_choices), 1, 1, 9600, ovik_resolution, 0,
     "printer-resolution"},
    {"PageSize", "Media Size", nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, ovik_page_size, 0, "media"},
    {"PaperType", "Paper Type", general, nullptr, "0", LIST(paper_type_choices), 0, 0, 3, ovik_number, FIELD(papertype),
     "media-type"},
    {"PrintLogo", "Print Logo", logo, "print-logo", "0", LIST(logo_choices), 0, 0, 2, ovik_number, FIELD(printlogo)},
    {"LogoIndex", "Logo Number", logo, "logo-index", "0", LIST(logo_index_choices), 1, 0, 10, ovik_number,
     FIELD(logoindex)},
    {"LogoAlign", "Logo Position", logo, "logo-align", "0", LIST(logo_align_choices), 0, 0, 3, ovik_number,
     FIELD(logoalign)},
    {"BeepControl", "Beep", beeper, "beep-control", "0", LIST(when_choices), 0, 0, 2, ovik_number, FIELD(beepcontrol)},
    {"BeepDuration", "Beep Length", beeper, "beep-duration", "0", LIST(beep_times), 1, 0, 9, ovik_number,
     FIELD(beepduration)},
    {"BeepInterval", "Pause Between Beeps", beeper, "beep-interval", "0", LIST(beep_times), 1, 0, 9, ovik_number,
     FIELD(beepinterval)},
    {"BeepRepeat", "Number of Beeps", beeper, "beep-repeat", "1", LIST(one_to_nine), 1, 1, 9, ovik_number,
     FIELD(beeptimes)},
    {"ExternalBeepControl", "External Buzzer", beeper, "external-beep-control", "0", LIST(when_choices), 0, 0, 2,
     ovik_number, FIELD(externalbeepcontrol)},
    {"ExternalBeepDuration", "Buzzer On Time", beeper, "external-beep-duration", "0", LIST(pulse_times), 1, 0, 5,
     ovik_number, FIELD(externalbeepduration)},
    {"ExternalBeepInterval", "Buzzer Off Time", beeper, "external-beep-interval", "0", LIST(pulse_times), 1, 0, 5,
     ovik_number, FIELD(externalbeepinterval)},
    {"ExternalBeepRepeat", "Number of Buzzer Pulses", beeper, "external-beep-repeat", "1", LIST(one_to_nine), 1, 1, 9,
     ovik_number, FIELD(externalbeeptimes)},
    {"Drawer1", "Cash Drawer 1", drawer, "drawer-1", "0", LIST(drawer_choices), 0, 0, 2, ovik_number, FIELD(drawer1)},
    {"Drawer2", "Cash Drawer 2", drawer, "drawer-2", "0", LIST(drawer_choices), 0, 0, 2, ovik_number, FIELD(drawer2)},
    {"BitmapCompression", "Raster Compression", general, "bitmap-compression", "0", LIST(on_off_choices), 0, 0, 1,
     ovik_number, FIELD(compression)},
    {"PaperSaveMode", "Shorten Blank Feeds", cutting, "paper-save-mode", "0", LIST(paper_save_choices), 0, 0, 3,
     ovik_number, FIELD(papersavemode)},
    {"PaperSaveBottom", "Blank Space at Page End", general, "paper-save-bottom", "1", LIST(page_end_choices), 0, 0, 1,
     ovik_number, FIELD(papersavebottom)},
    {"PaperSaveTop", "Blank Space at Page Top", general, "paper-save-top", "-1", LIST(page_top_choices), 1, -1, 100,
     ovik_number, FIELD(papersavetop), nullptr, nullptr, 0, "2"},
    {"PaperSaveGap", "Long Blank Spaces in a Page", general, "paper-save-gap", "0", LIST(page_gap_choices), 1, 0, 100,
     ovik_number, FIELD(papersavegap)},
    {"PostPrintAction", "After Printing", cutting, "post-print-action", "2", LIST(post_print_choices), 0, 0, 3,
     ovik_post_print_action, FIELD(postprintaction), nullptr, "2", 3},
    {"FormfeedLength", "Feed at End of Job", cutting, "formfeed-length", "0", LIST(feed_length_choices), 1, 0, 100,
     ovik_number, FIELD(feeddistance)},
    {"CutMode", "Cut", cutting, "cut-mode", "0", LIST(cut_mode_choices), 0, 0, 2, ovik_number, FIELD(finalcut), nullptr,
     "2", 1},
    {"CutPaperLength", "Feed Before Cut", cutting, "cut-paper-length", "-1", LIST(cut_length_choices), 1, -1, 100,
     ovik_number, FIELD(cutdistance)},
    {"PrintDensity", "Print Density", general, nullptr, "None", LIST(density_choices), 1, 0, 7, ovik_density,
     FIELD(density), "print-darkness"},
};
#undef LIST
#undef FIELD
#pragma GCC diagnostic pop

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

/* The highest resolution taken: far above any print head, and low enough
 * that the widths and strips computed from it stay small. */
constexpr int32_t max_resolution = 9600;

/* Resolution: dots per inch, and the millimetres of one dot; 1 when the
 * value gives no usable resolution and the one in force stays. */
int set_resolution(dev_mode &s, const char *value, const ovik_job_io *io)
{
  int32_t dpi = to_int(value);
  if (dpi <= 0 || dpi > max_resolution) {
    char why[48] = "gives no dots per inch", line[256];
    if (dpi > 0)
      snprintf(why, sizeof why, "is above %d dpi", max_resolution);
    snprintf(line, sizeof line, "Resolution %.64s %s; keeping %d dpi", value, why, s.resolution);
    ovik_mask_controls(line, sizeof line);
    ovik_message(io, MSG_DEBUG, line);
    return 1;
  }
  s.resolution = dpi;
  s.motion_v = s.dot_unit = static_cast<float>(254.0 / dpi / 10.0);
  return 0;
}

} // namespace

/* The job keywords in the order they are applied. */
const ovik_keyword *ovik_keyword_table(size_t *count)
{
  if (count)
    *count = sizeof keyword_table / sizeof keyword_table[0];
  return keyword_table;
}

/* The row of keyword, or NULL. */
const ovik_keyword *ovik_keyword_find(const char *keyword)
{
  for (const ovik_keyword &row : keyword_table)
    if (keyword && std::strcmp(row.keyword, keyword) == 0)
      return &row;
  return nullptr;
}

/* What a keyword's PPD option and IPP attribute offer as default. */
const char *ovik_keyword_offered_default(const ovik_keyword *row)
{
  return row->offered ? row->offered : row->default_value;
}

/* Applies one keyword's value text to the settings. */
int ovik_settings_apply(dev_mode *s, const ovik_keyword *row, const char *value, const ovik_job_io *io)
{
  switch (row->conversion) {
  case ovik_number:
    *reinterpret_cast<int32_t *>(reinterpret_cast<char *>(s) + row->field) = to_int(value);
    return 0;
  case ovik_resolution:
    return set_resolution(*s, value, io);
  case ovik_page_size:
    // A width from the leading digits of the size name; the size's imageable
    // area, where the front end knows it, then replaces it.
    s->printer_width = to_int(value);
    if (s->printer_width != 0)
      s->max_render_height = 1024 / s->printer_width;
    return 0;
  case ovik_post_print_action:
    s->postprintaction = to_int(value);
    if (s->postprintaction == 3)
      s->is_page_cut = true;
    return 0;
  case ovik_density:
    s->density = std::strcmp(value, "None") == 0 ? -1 : to_int(value);
    return 0;
  }
  return 1;
}

/* PageSize, second reading: bytes per line from the imageable width. */
void ovik_settings_width_from_area(dev_mode *s, double right_points)
{
  s->printer_width = trunc_to_int((s->resolution * (right_points / 72.0) + 7.0) / 8.0);
}

/* Builds the settings from a source, keyword by keyword in table order. */
int ovik_settings_build(dev_mode *s, const char *model_name, const ovik_settings_source *source, const ovik_job_io *io)
{
  init_dev_mode(s);
  if (int code = get_model_info(s, model_name, io))
    return code;
  for (const ovik_keyword &row : keyword_table) {
    char buffer[128];
    const char *value = source->value(source->context, &row, buffer, sizeof buffer);
    if (!value)
      continue;
    ovik_settings_apply(s, &row, value, io);
    // A page size the source knows gives the width of its imageable area.
    if (row.conversion == ovik_page_size && source->page_right_points) {
      double right = source->page_right_points(source->context, value);
      if (right >= 0)
        ovik_settings_width_from_area(s, right);
    }
  }
  return 0;
}

/* One of the keyword's choices, or a number in its range. */
bool ovik_keyword_accepts(const ovik_keyword *row, const char *value)
{
  if (!value)
    return false;
  for (int i = 0; i < row->num_choices; i++)
    if (std::strcmp(row->choices[i].value, value) == 0)
      return true;
  if (!row->ipp_integer || !*value)
    return false;
  char *end = nullptr;
  errno = 0;
  long long v = strtoll(value, &end, 10);
  return errno == 0 && *end == '\0' && v >= row->min && v <= row->max;
}

/* A choice by its IPP keyword, or the number of an integer keyword. */
const ovik_choice *ovik_keyword_choice_of_ipp(const ovik_keyword *row, const char *ipp_value)
{
  for (int i = 0; row && ipp_value && i < row->num_choices; i++)
    if (row->choices[i].ipp && std::strcmp(row->choices[i].ipp, ipp_value) == 0)
      return &row->choices[i];
  return nullptr;
}

const char *ovik_keyword_value_of_ipp(const ovik_keyword *row, const char *ipp_value)
{
  if (ipp_value && row->ipp_integer)
    return ipp_value;
  const ovik_choice *choice = ovik_keyword_choice_of_ipp(row, ipp_value);
  return choice ? choice->value : nullptr;
}

/* Copies the identity, class and width of the named catalogue model. */
int get_model_info(dev_mode *s, const char *name, const ovik_job_io *io)
{
  ovik_printer_model *model = nullptr;
  int code = name ? ovik_printer_model_creator2(name, &model) : OVIK_ERR_MODEL;
  if (code != 0)
    return msgerrno(io, MSG_DEBUG, code);
  s->model = static_cast<uint32_t>(model->id);
  s->name = model->name;
  s->type = model->type;
  s->printer_width = model->width_dots / 8;
  s->motion_v = model->motion_v;
  ovik_printer_model_destroy(model);
  return 0;
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
void dump_options(const dev_mode *s, const ovik_job_io *io)
{
  ovik_message(io, MSG_DUMP, "CUPS printing options");
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
    ovik_message(io, MSG_DUMP, line);
  }
}

/* printer_width x max_render_height, the size of one render strip, and the
 * staging buffer 20 bytes larger; a product below zero counts as an empty
 * strip, one beyond the page limit (only an absurd Resolution or PageSize
 * gets there) as no memory. */
int device_buffer_sizes(const dev_mode &s, int32_t *render_size, int32_t *data_size)
{
  long long size = static_cast<long long>(s.printer_width) * s.max_render_height;
  if (size < 0)
    size = 0;
  if (size > static_cast<long long>(max_page_bytes))
    return OVIK_JOB_ERR_RENDER_BUFFER;
  if (size + 20 > static_cast<long long>(max_page_bytes))
    return OVIK_JOB_ERR_DATA_BUFFER;
  *render_size = static_cast<int32_t>(size);
  *data_size = static_cast<int32_t>(size + 20);
  return 0;
}
