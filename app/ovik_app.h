/*
 * ovik_app.h - the Ovik driver of the printer application: the driver table
 * built from the model catalogue, the callbacks PAPPL calls, and the pieces
 * of the driver that have a file of their own (printer status, test page).
 */
#ifndef OVIK_APP_H
#define OVIK_APP_H

#include <pappl/pappl.h>

#include "ovik_engine.h"
#include "ovik_printer_model.h"
#include "ovik_status.h"

/* The drivers, one per catalogue model name that has a print width; static. */
pappl_pr_driver_t *ovik_app_drivers(int *count);

/* Fills the driver data of a printer from its model's catalogue row. */
bool ovik_app_driver_cb(pappl_system_t *system, const char *driver_name, const char *device_uri, const char *device_id,
                        pappl_pr_driver_data_t *data, ipp_t **attrs, void *context);

/* The driver for a printer found on a port (USB), by its IEEE 1284 device ID. */
const char *ovik_app_autoadd_cb(const char *device_info, const char *device_uri, const char *device_id, void *context);

/* ---------- printer status (status.cpp) ---------- */

/* What the printer says about itself. */
typedef struct ovik_condition {
  bool answered;  /* false: the printer stayed silent or made no sense */
  unsigned found; /* OVIK_STATUS_* conditions, when answered */
} ovik_condition;

/* When to ask again: a printer that stays silent is asked less and less often. */
typedef struct ovik_status_pacing {
  time_t next;  /* no query before this time */
  int silences; /* queries in a row that got no answer */
} ovik_status_pacing;

/* Asks the printer for its condition through device with the engine's
 * status query; false for a model that has no status requests. */
bool ovik_app_status_query(pappl_device_t *device, uint32_t printer_class, ovik_condition *out);

/* The printer-state-reasons that a condition stands for. */
pappl_preason_t ovik_app_status_reasons(const ovik_condition *condition);

/* True when a query is due at now; after a query, record whether it was answered. */
bool ovik_app_status_due(const ovik_status_pacing *pacing, time_t now);
void ovik_app_status_record(ovik_status_pacing *pacing, bool answered, time_t now);

/* The reasons the status queries decide; the others PAPPL and jobs keep. */
#define OVIK_STATUS_REASONS                                                                                            \
  (PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_LOW | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_OFFLINE)

/* ---------- test page (testpage.cpp) ---------- */

/* Writes the test receipt as a PNG file: model, width, darkness and a ruler,
 * at the top of a page of width_dots x length_dots (the media's size, so
 * that it prints unscaled from the page's top edge); darkness is the
 * density level, -1 for the printer's own setting. false when the file
 * cannot be written. */
bool ovik_testpage_write(const char *path, const char *model, int width_dots, int length_dots, int darkness);

#endif
