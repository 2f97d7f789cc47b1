/*
 * ppd_options.h - the job's settings from the queue's PPD and the job's
 * options, the way the spooler hands them to the filter.
 */
#ifndef OVIK_FILTER_PPD_OPTIONS_H
#define OVIK_FILTER_PPD_OPTIONS_H

#include <optional>
#include <string>

#include "ovik_engine.h"

/* The filter's own settings, beside the job's. */
struct filter_settings {
  bool status_monitor = true;            /* StatusMonitor: ask the printer its condition */
  std::optional<std::string> store_logo; /* StoreLogo, a job option only: the logo the first page becomes */
};

/* Fills the settings from the PPD named by $PPD (its model and default
 * choices) and the job's options string (may be NULL), which takes
 * precedence. Every failure ends the job. */
void get_options(dev_mode *settings, filter_settings *own, const char *options, const ovik_job_io *io);

#endif
