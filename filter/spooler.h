/*
 * spooler.h - the filter's side of the spooler: the printer stream on
 * standard output, status lines on standard error, the page header dump and
 * the fatal error that ends the job.
 */
#ifndef OVIK_FILTER_SPOOLER_H
#define OVIK_FILTER_SPOOLER_H

#include <cups/raster.h>

#include "ovik_engine.h"
#include "ovik_status.h"

/* A job's io for the spooler: printer bytes to standard output, status
 * lines to standard error, the trace given (or none). */
ovik_job_io spooler_io(FILE *trace);

/* The port of the tools and the status query on the job's printer stream:
 * bytes go out through ovik_job_send; reading is the caller's to add. */
ovik_status_port job_stream_port(ovik_printer_dev *job);

/* Reports a fatal error ("ERROR:Raster(text, cups:...)"), closes the trace
 * and ends the process with status 1. Printer data already written leaves. */
[[noreturn]] void fatal_error(const char *text);

/* Writes the page header's 40 INFO lines to standard error. */
void dump_header(cups_page_header_t header);

#endif
