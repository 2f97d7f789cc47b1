/*
 * ovik_engine.h - the job engine: one print job for an Ovik printer, from
 * settings and 1-bit pages to the printer data stream.
 *
 * A job is one object (the device object) holding everything the job needs:
 * its settings, its job state, the packet sequence counters, the cancel
 * request and its buffers. Nothing is shared between jobs, so jobs may run on
 * as many threads at once as there are objects. The engine reads no
 * environment, no PPD and no file: settings come in as data, printer bytes go
 * out through the caller's sink, status lines through the caller's message
 * function, and every condition that ends a job comes back as a result code
 * with its text. Only a front end decides what ending a job means.
 *
 * A job runs:
 *   init_dev_mode, get_model_info, ovik_settings_apply ...   the settings
 *   ovik_printer_dev_creator                                 the job object
 *   ovik_job_begin                                           document start
 *   ovik_page_start, ovik_page_pixels | ovik_page_add_rows, ovik_page_end
 *                                                            every page
 *   ovik_job_end                                             document end
 *   ovik_printer_dev_destroy
 *
 * Usable from C and C++.
 */
#ifndef OVIK_ENGINE_H
#define OVIK_ENGINE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---------- settings ---------- */

/* Every job setting; field names are those of the settings dump. */
typedef struct dev_mode {
  uint32_t model;   /* catalogue model id */
  const char *name; /* the catalogue's static text, never freed */
  uint32_t type;    /* printer class word handed to every encoder */
  int32_t printer_width;
  int32_t max_render_height;
  bool issupportshiftline;
  bool islabelprinter;
  float cut_spacing;
  float motion_v;
  int32_t resolution;
  float dot_unit; /* millimetres per dot */
  int32_t compression;
  int32_t papertype;
  bool pagemode;
  bool ticketmode;
  int32_t finalcut;
  bool is_page_cut;
  int32_t fwdfeed;
  int32_t backfeed;
  int32_t speed;
  int32_t density;
  int32_t linespacing;
  int32_t beepcontrol;
  int32_t beepduration;
  int32_t beepinterval;
  int32_t beeptimes;
  int32_t externalbeepcontrol;
  int32_t externalbeepduration;
  int32_t externalbeepinterval;
  int32_t externalbeeptimes;
  int32_t drawer1;
  int32_t drawer2;
  int32_t postprintaction;
  int32_t feeddistance;
  int32_t cutdistance;
  int32_t printlogo;
  int32_t logoindex;
  int32_t logoalign;
  int32_t papersavemode;
  int32_t papersavebottom;
  /* Beyond the dump: paper saving at the top of a page and inside it, on
   * continuous paper only. */
  int32_t papersavetop; /* millimetres of blank kept above a page's first dot; below 0: the top is kept whole */
  int32_t papersavegap; /* longest blank run kept between a page's dots, millimetres; 0 or less: every run kept */
} dev_mode;

/* Stores the settings every job starts from. */
void init_dev_mode(dev_mode *settings);

/* One choice of a job keyword. */
typedef struct ovik_choice {
  const char *value;    /* the text the settings reader converts, as PPDs carry it ("10") */
  const char *label;    /* what a user reads ("10 mm") */
  const char *ipp;      /* the IPP keyword of this choice, for keyword attributes; else NULL */
  const char *tracking; /* PaperType: the media-tracking of this paper, when a client names no media-type */
} ovik_choice;

/* How a keyword's value text becomes settings. */
typedef enum ovik_conversion {
  ovik_number,            /* a number (read like atoi, saturating) into one field */
  ovik_resolution,        /* dots per inch: resolution, motion_v, dot_unit */
  ovik_page_size,         /* a page size name: printer_width, max_render_height */
  ovik_post_print_action, /* postprintaction, and is_page_cut for 3 */
  ovik_density,           /* "None" or a number */
} ovik_conversion;

/* One job keyword: how the settings reader takes it, and what PPDs and
 * the printer application offer for it. */
typedef struct ovik_keyword {
  const char *keyword;        /* PPD and job option keyword ("CutPaperLength") */
  const char *label;          /* option text ("Feed Before Cut") */
  const char *group;          /* PPD group ("Cutting/Feed and Cut"); NULL: not a generated option */
  const char *ipp_name;       /* IPP attribute ("cut-paper-length"); NULL: a standard attribute carries it */
  const char *default_value;  /* the choice that changes nothing: the settings' own default */
  const ovik_choice *choices; /* what the PPDs offer, the default among them */
  int num_choices;
  int ipp_integer; /* 1: an IPP integer in min..max; 0: an IPP keyword of the choices */
  int min, max;    /* the values that make sense */
  ovik_conversion conversion;
  size_t field; /* offset of the dev_mode field (ovik_number) */
  /* Where IPP carries the keyword when it has no vendor attribute of its own:
   * the standard attribute ("printer-resolution", "media", "media-type",
   * "print-darkness"), else NULL. */
  const char *ipp_standard;
  /* finishings trim (the cutter) asks for this choice when the value in
   * force is a number below trim_below; NULL: trim leaves the keyword alone. */
  const char *trim_value;
  int trim_below;
  /* The default PPDs and the printer application offer; NULL: default_value. */
  const char *offered;
} ovik_keyword;

/* The job keywords, in the order the settings reader applies them. */
const ovik_keyword *ovik_keyword_table(size_t *count);

/* The row of a keyword, or NULL. */
const ovik_keyword *ovik_keyword_find(const char *keyword);

/* The default a keyword's PPD option and IPP attribute offer: its offered
 * choice, else the settings' own default (NULL for none). */
const char *ovik_keyword_offered_default(const ovik_keyword *row);

/* ---------- a model's driver name and page sizes ---------- */

/* What the PPD of a model and the printer application's driver for it call
 * it and offer: one table and these routines, read by the PPD generator
 * (through ovik-models) and by the printer application alike. */

/* The driver name of a model: "ovik-" and the model name in lower case,
 * letters and digits, one hyphen for every other run ("ovik-tern-80a"). The
 * PPD file is this name with ".ppd". Cut to fit size bytes. */
void ovik_driver_name(const char *model_name, char *out, size_t size);

/* The roll a print width is sold as, in millimetres: 58 and 80 mm rolls,
 * else the print width rounded to millimetres. */
int ovik_roll_mm(int width_dots);

/* The page width, in points, of a print width, as the PPDs write it (four
 * decimals): what a PPD's imageable area gives back to the settings reader. */
double ovik_page_width_points(int width_dots);

/* The page lengths offered for every model, in millimetres, and the default. */
const int *ovik_page_lengths_mm(size_t *count, int *default_mm);

/* The words for a page size of a print width: a printf format of two
 * numbers, the roll's width (ovik_roll_mm) and the page length, both in
 * millimetres: "%d x %d mm roll" for the 58 and 80 mm rolls, "%d x %d mm"
 * for other widths. A front end that speaks another language translates the
 * format. */
const char *ovik_page_size_format(int width_dots);

/* ---------- where a job's output goes ---------- */

/* Message levels (exact values, not flags). */
#define MSG_INFO 0
#define MSG_DEBUG 1
#define MSG_ERROR 2
#define MSG_OUTPUT 32
#define MSG_DUMP 64

/* A job's connections to the world, all chosen by the front end. */
typedef struct ovik_job_io {
  /* The printer stream: takes all length bytes and returns 0, or an errno
   * value when they could not be written. */
  int (*write)(void *context, const void *data, size_t length);
  /* Pushes what write took on toward the printer: 0 or an errno value. May be NULL. */
  int (*flush)(void *context);
  void *sink_context;
  /* Status and debug lines, at MSG_INFO, MSG_DEBUG or MSG_DUMP; may be NULL. */
  void (*message)(void *context, int level, const char *text);
  void *message_context;
  /* The developer trace of this job, or NULL: a job without one pays nothing for it. */
  FILE *trace;
  /* 1: a cancel request ends a page between two of its copies; 0: a page
   * once begun goes out with all its copies. */
  int cancel_between_copies;
  /* Told after each copy of a page has been written and flushed, with the
   * sink's context: nonzero stops the page's remaining copies (the front end
   * ends the job). May be NULL. */
  int (*copy_sent)(void *context);
} ovik_job_io;

/* Reports text at level through io: its trace line, then the message function
 * (MSG_OUTPUT: the text goes to the printer stream instead). */
void ovik_message(const ovik_job_io *io, int level, const char *text);

/* Copies the identity, class and width of the named catalogue model into the
 * settings: 0, or the catalogue's code (reported at MSG_DEBUG through io). */
int get_model_info(dev_mode *settings, const char *name, const ovik_job_io *io);

/* Applies a keyword's value text to the settings, as the PPD reader does:
 * 0, or 1 when the value was not usable and the settings kept their value
 * (said at MSG_DEBUG through io). */
int ovik_settings_apply(dev_mode *settings, const ovik_keyword *row, const char *value, const ovik_job_io *io);

/* PageSize, second reading: bytes per line from the imageable right edge of
 * the page size, in points, at the resolution in force. */
void ovik_settings_width_from_area(dev_mode *settings, double right_points);

/* Where a front end finds a job's settings: the PPD and the job's options
 * for the filter, the job's IPP attributes and the printer's defaults for
 * the printer application. */
typedef struct ovik_settings_source {
  /* The value text of a keyword (a choice's value, as a PPD carries it), or
   * NULL when neither the job nor the printer sets it. A text the source
   * makes goes into buffer (size bytes). */
  const char *(*value)(void *context, const ovik_keyword *row, char *buffer, size_t size);
  /* The imageable right edge in points of a page size the source knows, or
   * a negative number. May be NULL. */
  double (*page_right_points)(void *context, const char *page_size);
  void *context;
} ovik_settings_source;

/* Builds a job's settings: the defaults, the identity of the named
 * catalogue model, then every keyword in table order with the value text
 * the source gives. 0, or the catalogue's code for an unknown model. */
int ovik_settings_build(dev_mode *settings, const char *model_name, const ovik_settings_source *source,
                        const ovik_job_io *io);

/* True when a value text is one the keyword offers: one of its choices, or
 * for an IPP integer a number in min..max. */
bool ovik_keyword_accepts(const ovik_keyword *row, const char *value);

/* The value text of an IPP value of a keyword: the choice of that IPP
 * keyword, or the number itself for an integer keyword; NULL for a keyword
 * none of the choices has. */
const char *ovik_keyword_value_of_ipp(const ovik_keyword *row, const char *ipp_value);

/* The choice of a keyword named by its IPP keyword; NULL for none. */
const ovik_choice *ovik_keyword_choice_of_ipp(const ovik_keyword *row, const char *ipp_value);

/* Replaces every control character of a text from outside by '?', up to its
 * terminator or length bytes: a line break there would start a status line
 * of the sender's choosing. */
void ovik_mask_controls(char *text, size_t length);

/* ---------- the job ---------- */

typedef struct ovik_printer_dev ovik_printer_dev;

/* Result codes beyond the library's: each ends the job. A positive code is
 * the errno value of a failed write to the printer stream. */
#define OVIK_JOB_ERR_DEVICE -101        /* "Cannot allocate dev buffer" */
#define OVIK_JOB_ERR_RENDER_BUFFER -102 /* "Cannot allocate rending data buffer" */
#define OVIK_JOB_ERR_DATA_BUFFER -103   /* "Cannot allocate data buffer" */
#define OVIK_JOB_ERR_PAGE_MEMORY -104   /* "not got enough memory" */
#define OVIK_JOB_ERR_PAGE_DEPTH -105    /* "page is not 1 bit per pixel" */
#define OVIK_JOB_ERR_PAGE_SIZE -106     /* "page too large" */
#define OVIK_JOB_ERR_DOTLINE -107       /* dot-line output cannot go on */

/* Creates a job from its settings (copied) and its io (copied), dumps the
 * settings and sizes its buffers. 0, or a result code: then *out is the job
 * when it was made (ovik_job_error tells why; destroy it) or NULL. */
int ovik_printer_dev_creator(const dev_mode *settings, const ovik_job_io *io, ovik_printer_dev **out);

/* Releases the job and everything it owns; NULL is ignored. */
int ovik_printer_dev_destroy(ovik_printer_dev *job);

/* The text of the condition that ended the job: for NULL, that of a job
 * that could not be made. */
const char *ovik_job_error(const ovik_printer_dev *job);

/* The settings in force for the job. */
const dev_mode *ovik_job_settings(const ovik_printer_dev *job);

/* Document start: the document packets and the start actions. 0 or a result code. */
int ovik_job_begin(ovik_printer_dev *job);

/* Document end, unless the job was cancelled: the final strip owed, the end
 * actions and the final feed or cut; then the stream is flushed. 0 or a result code. */
int ovik_job_end(ovik_printer_dev *job);

/* Sends bytes of the front end's own (a status request) on the job's
 * printer stream between pages, traced as every block is, and flushes the
 * stream: 0 or a result code. */
int ovik_job_send(ovik_printer_dev *job, const void *data, size_t length);

/* Asks the job to stop: the front end stops giving pages, and the document
 * end is skipped. Safe inside a signal handler and from any thread. */
void ovik_job_cancel(ovik_printer_dev *job);
bool ovik_job_cancelled(const ovik_printer_dev *job);

/* ---------- pages ---------- */

/* One page, as a raster page header describes it. */
typedef struct ovik_page {
  uint32_t width;          /* dots (cupsWidth) */
  uint32_t height;         /* rows (cupsHeight) */
  uint32_t bytes_per_line; /* cupsBytesPerLine */
  uint32_t bits_per_pixel; /* only 1 is printed */
  uint32_t copies;         /* NumCopies; 0 is the printer's default, one copy */
} ovik_page;

/* The copies a page gets: as many as asked, one for 0. */
uint32_t ovik_page_copies(const ovik_page *page);

/* Starts a page: refuses what cannot be printed and readies its buffer. 0 or
 * a result code. */
int ovik_page_start(ovik_printer_dev *job, const ovik_page *page);

/* The page buffer, height x bytes_per_line bytes, for a front end that fills
 * the whole page at once: every row of it counts as given. */
uint8_t *ovik_page_pixels(ovik_printer_dev *job);

/* Adds count rows after those already given (rows beyond the page's height
 * are dropped). 0 or a result code. */
int ovik_page_add_rows(ovik_printer_dev *job, const void *rows, uint32_t count);

/* Sends every copy of the page (rows not given are blank) and releases its
 * buffer. 0 or a result code. */
int ovik_page_end(ovik_printer_dev *job);

/* ---------- the rest of the stream format ---------- */

/* CRC-32 of IEEE 802.3 continued from running (0 starts a new checksum). */
uint32_t CRC32(uint32_t running, const uint8_t *data, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif
