/*
 * devmode.h - the device object of a job: its settings record, its job state
 * record and its two byte buffers.
 */
#ifndef OVIK_DEVMODE_H
#define OVIK_DEVMODE_H

#include <stdbool.h>
#include <stdint.h>

/* Feed-step models send blank strips and dot lines with paper-feed commands. */
#define MODEL_FEED_STEP_1 0x1955
#define MODEL_FEED_STEP_2 0x1956

/* Every job setting; field names are those of the settings dump. */
typedef struct dev_mode {
  uint32_t model;
  const char *name; /* the catalogue's static text, never freed */
  uint32_t type;    /* printer class word handed to every encoder */
  int32_t printer_width;
  int32_t max_render_height;
  bool issupportshiftline;
  bool islabelprinter;
  float cut_spacing;
  float motion_v;
  int32_t resolution;
  float dot_unit;
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
} dev_mode;

/* State kept while pages are printed. */
typedef struct job_state_record {
  uint32_t lastStripBlanksHeight;
} job_state_record;

typedef struct ovik_printer_dev {
  dev_mode *settings;
  job_state_record *job_state;
  uint8_t *render_buf;
  int32_t render_buf_size;
  uint8_t *data_buf;
  int32_t data_buf_size;
} ovik_printer_dev;

/* Creates the device object from the job's options (ends the process on failure). */
int ovik_printer_dev_creator(const char *options, ovik_printer_dev **out);
int ovik_printer_dev_destroy(ovik_printer_dev *dev);
void init_dev_mode(dev_mode *settings);

/* Settings from the PPD named by $PPD and the job options; ends the process on failure. */
void get_options(ovik_printer_dev *dev, const char *options);
int get_model_info(dev_mode *settings, const char *name);
void dump_options(const dev_mode *settings);

/* True for the two models that feed blank strips with ESC J. */
static inline bool is_feed_step_model(const dev_mode *settings)
{
  return settings->model == MODEL_FEED_STEP_1 || settings->model == MODEL_FEED_STEP_2;
}

#endif
