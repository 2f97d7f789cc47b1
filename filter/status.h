/*
 * status.h - live printer status for the filter: where the backend has a
 * back channel, the printer's condition (paper out, cover open, ...) is
 * asked between pages and told to the spooler as STATE: lines, by the
 * engine's status policy (ovik_status.h).
 */
#ifndef OVIK_FILTER_STATUS_H
#define OVIK_FILTER_STATUS_H

#include "ovik_engine.h"
#include "ovik_status.h"

/* What the filter knows of the printer's condition during one job. */
struct printer_status {
  ovik_printer_dev *job = nullptr;
  const ovik_job_io *io = nullptr;
  ovik_status_port port{};
  ovik_status_job policy{};
  bool drain = false;      /* a query's first request goes with a drain of what was sent */
  bool query_sent = false; /* the query under way has sent its first request */
};

/* Starts live status for the job when monitor is on and the backend is
 * bidirectional: asks the printer, reports what holds and clears what the
 * filter reported before and no longer holds. Without a back channel it
 * sends nothing at all. */
void status_begin(printer_status &status, ovik_printer_dev *job, const ovik_job_io *io, bool monitor);

/* Asks the printer once, where the backend is bidirectional, and reports
 * what holds as status_begin does, without waiting for the printer to be
 * able to print: true when it answered (status.policy.held says what holds). */
bool status_report(printer_status &status, ovik_printer_dev *job, const ovik_job_io *io);

/* Asks the printer again (after a page's last copy, at job end) and reports
 * changes; waits while the printer cannot print. */
void status_check(printer_status &status);

#endif
