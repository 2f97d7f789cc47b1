/*
 * rastertoovik.cpp - CUPS raster filter for Ovik thermal receipt and label
 * printers.
 *
 * Usage: rastertoovik job-id user title copies options [file]
 *
 * The PPD named by $PPD selects the printer model and the job's defaults; the
 * raster pages arrive on standard input or in the named file. The job engine
 * turns every page copy into a page header packet and a bitmap packet on
 * standard output, with the feed, cut, beeper, drawer and logo commands that
 * the settings ask for around them. Where the backend reads the printer's
 * replies, the printer's condition is asked between pages and told to the
 * spooler. With the job option StoreLogo=N the first page is stored in the
 * printer as logo N instead. This file is the filter's whole flow:
 * start-up, the page loop (or the logo), the end of the job.
 */
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <cups/raster.h>

#include "ovik_engine.h"
#include "ovik_error.h"
#include "ovik_tools.h"
#include "ovik_trace.h"
#include "ppd_options.h"
#include "spooler.h"
#include "status.h"

namespace {

/* The job SIGTERM cancels, while there is one. */
std::atomic<ovik_printer_dev *> cancel_target{nullptr};

/* SIGTERM: only raise the job's cancel request. The trace lines are
 * pre-built and written with one write(2) each, since the main flow may be
 * writing the trace. */
void cancel_handler(int signum)
{
  char line[64] = "+cancel_handler(signum:";
  size_t n = strlen(line);
  char digits[12];
  int d = 0;
  unsigned v = signum < 0 ? 0u - static_cast<unsigned>(signum) : static_cast<unsigned>(signum);
  do {
    digits[d++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (signum < 0)
    line[n++] = '-';
  while (d)
    line[n++] = digits[--d];
  for (const char *p = ") start.\n"; *p; p++)
    line[n++] = *p;
  ovik_trace_signal_write(line, n);
  if (ovik_printer_dev *job = cancel_target.load())
    ovik_job_cancel(job);
  static const char done[] = "-cancel_handler finished.";
  ovik_trace_signal_write(done, sizeof done - 1);
}

/* Installs handler for SIGTERM: empty mask, system calls restarted. libcups
 * retries an interrupted read anyway, and a write to a full pipe must not
 * fail: stdio would drop what it held and the printer lose part of a page. */
void set_sigterm(void (*handler)(int))
{
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
}

/* A developer can hold the filter at start by creating this file; only root
 * can create it in /run, so no local user can stall the print server. */
void wait_while_held()
{
  const char *path = getenv("OVIK_HOLD");
  if (!path)
    path = "/run/rastertoovik.hold";
  const struct timespec pause = {0, 100 * 1000 * 1000};
  while (access(path, F_OK) == 0)
    nanosleep(&pause, nullptr);
}

/* The engine's page of a raster page header. */
ovik_page page_of(const cups_page_header_t &h)
{
  return {h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine, h.cupsBitsPerPixel, h.NumCopies};
}

/* The job: document start, every page with all its copies, document end;
 * between pages the printer's condition where the backend can read it. */
void print_pages(cups_raster_t *ras, ovik_printer_dev *job, const ovik_job_io *io, bool status_monitor)
{
  if (ovik_job_begin(job) != 0)
    fatal_error(ovik_job_error(job));
  printer_status status;
  status_begin(status, job, io, status_monitor);

  // A page once begun goes out with all its copies.
  cups_page_header_t header;
  int page = 0;
  while (cupsRasterReadHeader(ras, &header) && !ovik_job_cancelled(job)) {
    ovik_page p = page_of(header);
    page++;
    fprintf(stderr, "PAGE: %d %d\n", page, static_cast<int>(ovik_page_copies(&p)));
    dump_header(header);
    if (ovik_page_start(job, &p) != 0)
      fatal_error(ovik_job_error(job));
    uint64_t size = static_cast<uint64_t>(p.height) * p.bytes_per_line;
    if (cupsRasterReadPixels(ras, ovik_page_pixels(job), static_cast<unsigned>(size)) != size)
      fatal_error("cupsRasterReadPixels did not read enough data");
    if (ovik_page_end(job) != 0)
      fatal_error(ovik_job_error(job));
    status_check(status);
  }

  // The document end unless cancelled.
  if (ovik_job_end(job) != 0)
    fatal_error(ovik_job_error(job));
  status_check(status);
}

/* Reads the pages that follow and drops them, so that the filters before
 * this one finish their work. */
void drop_pages(cups_raster_t *ras)
{
  cups_page_header_t header;
  unsigned char row[4096];
  while (cupsRasterReadHeader(ras, &header))
    for (uint64_t left = static_cast<uint64_t>(header.cupsHeight) * header.cupsBytesPerLine; left > 0;) {
      unsigned n = static_cast<unsigned>(left < sizeof row ? left : sizeof row);
      if (cupsRasterReadPixels(ras, row, n) != n)
        return;
      left -= n;
    }
}

/* StoreLogo=N: the first page, less its blank rows above and below, goes
 * into the printer as logo N in one define command, and nothing is printed.
 * A logo that cannot be stored (no such logo number, a blank page, one wider
 * than the printer, a logo taller than the printer stores) is refused before
 * a byte is sent. 0, or 1 after an ERROR line. */
int store_first_page(cups_raster_t *ras, ovik_printer_dev *job, const char *text, const ovik_job_io *io)
{
  const dev_mode *settings = ovik_job_settings(job);
  char message[256] = "", line[320];
  char *end = nullptr;
  long number = strtol(text, &end, 10);
  int32_t logo = end != text && !*end && number >= OVIK_LOGO_MIN && number <= OVIK_LOGO_MAX ? int32_t(number) : -1;
  cups_page_header_t header = {};
  int code = 0;
  if (logo < 0) {
    code = OVIK_ERR_PARAMETER;
    snprintf(message, sizeof message, "There is no logo %.32s: logos are numbered %d to %d", text, OVIK_LOGO_MIN,
             OVIK_LOGO_MAX);
  } else if (!cupsRasterReadHeader(ras, &header)) {
    code = OVIK_ERR_PARAMETER;
    snprintf(message, sizeof message, "The job has no page to store");
  }
  ovik_page p = page_of(header);
  // A page that cannot become the logo is not even read.
  if (code == 0)
    code = ovik_tools_check_logo(settings, logo, p.width, p.height ? 1 : 0, message, sizeof message);
  if (code == 0 && ovik_page_start(job, &p) != 0) {
    code = OVIK_ERR_IMAGE_SIZE;
    snprintf(message, sizeof message, "The page cannot be stored: %s", ovik_job_error(job));
  }
  if (code == 0) {
    uint64_t size = static_cast<uint64_t>(p.height) * p.bytes_per_line;
    if (cupsRasterReadPixels(ras, ovik_page_pixels(job), static_cast<unsigned>(size)) != size)
      fatal_error("cupsRasterReadPixels did not read enough data");
    ovik_bitmap page = {p.width, p.height, p.bytes_per_line, ovik_page_pixels(job)};
    ovik_bitmap content = ovik_bitmap_content(&page);
    ovik_status_port port = job_stream_port(job);
    code = ovik_tools_store_logo(settings, &port, logo, &content, message, sizeof message);
  }
  drop_pages(ras);
  snprintf(line, sizeof line, "StoreLogo=%.64s: %s", text, message);
  ovik_mask_controls(line, sizeof line);
  if (code == 0) {
    ovik_message(io, MSG_INFO, line);
    return 0;
  }
  fprintf(stderr, "ERROR: %s\n", line);
  return 1;
}

} // namespace

int main(int argc, char *argv[])
{
  // Start-up.
  if (const char *trace = ovik_trace_path())
    ovik_trace_init(trace);
  wait_while_held();
  setbuf(stderr, nullptr);
  ovik_job_io io = spooler_io(ovik_trace_handle);
  ovik_message(&io, MSG_INFO, "rastertoovik filter started");
  fprintf(stderr, "DEBUG: rastertoovik compiled with OVIK library version %d.%d.%d\n", OVIK_VERSION_MAJOR,
          OVIK_VERSION_MINOR, OVIK_VERSION_PATCH);
  if (argc < 6 || argc > 7)
    fatal_error("ERROR: rastertoovik job-id user title copies options [file]\n");

  dev_mode settings;
  filter_settings own;
  get_options(&settings, &own, argv[5], &io);
  ovik_printer_dev *job = nullptr;
  if (ovik_printer_dev_creator(&settings, &io, &job) != 0)
    fatal_error(ovik_job_error(job));

  int fd = 0;
  if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0)
    fatal_error("Unable to open raster file");
  cancel_target = job;
  set_sigterm(cancel_handler);
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!ras)
    fatal_error("cupsRasterOpen failed");
  // The job: its pages printed, or with StoreLogo its first page stored as a logo.
  int exit_status = 0;
  if (own.store_logo)
    exit_status = store_first_page(ras, job, own.store_logo->c_str(), &io);
  else
    print_pages(ras, job, &io, own.status_monitor);

  // Clean-up.
  cupsRasterClose(ras);
  cancel_target = nullptr;
  ovik_printer_dev_destroy(job);
  set_sigterm(SIG_DFL);
  if (fd != 0)
    close(fd);
  ovik_message(&io, MSG_DEBUG, "rastertoovik filter finished");
  ovik_trace_exit();
  return exit_status;
}
