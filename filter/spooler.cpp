/*
 * spooler.cpp - what the filter says to the spooler and hands to the
 * backend: the printer stream on standard output, the status lines on
 * standard error, the page header dump and the fatal error line.
 */
#include "spooler.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <cups/cups.h>

#include "ovik_trace.h"

namespace {

/* The CUPS library's text for its last error, for the debug and error lines. */
const char *cups_error_text()
{
  return ippErrorString(cupsLastError());
}

/* The printer stream is standard output, buffered: one block is one item. */
int write_stdout(void *, const void *data, size_t length)
{
  errno = 0;
  if (fwrite(data, length, 1, stdout) == 1)
    return 0;
  return errno ? errno : EIO;
}

int flush_stdout(void *)
{
  errno = 0;
  if (fflush(stdout) == 0)
    return 0;
  return errno ? errno : EIO;
}

/* Status lines in the spooler's prefixes; INFO and dump lines end in a
 * blank, debug lines carry the CUPS library's last error. */
void status_line(void *, int level, const char *text)
{
  if (level == MSG_INFO)
    fprintf(stderr, "INFO: %s \n", text);
  else if (level == MSG_DUMP)
    fprintf(stderr, "DEBUG: %s \n", text);
  else if (level == MSG_DEBUG)
    fprintf(stderr, "DEBUG: %s (cups:%s)\n", text, cups_error_text());
}

/* A header field as the 32 bits the raster stream carried. The enum fields
 * may hold any value there; reading them as their enum type is undefined. */
template <typename T>
int raw(const T &field)
{
  static_assert(sizeof(T) == sizeof(uint32_t));
  uint32_t v;
  std::memcpy(&v, &field, sizeof v);
  return static_cast<int>(v);
}

} // namespace

/* The filter's io: standard output, standard error, the trace given. */
ovik_job_io spooler_io(FILE *trace)
{
  ovik_job_io io{};
  io.write = write_stdout;
  io.flush = flush_stdout;
  io.message = status_line;
  io.trace = trace;
  return io;
}

namespace {

/* Sends on the job's printer stream, traced and flushed. */
int send_on_stream(void *job, const uint8_t *data, size_t length)
{
  return ovik_job_send(static_cast<ovik_printer_dev *>(job), data, length);
}

} // namespace

/* The job's printer stream as a port that only sends. */
ovik_status_port job_stream_port(ovik_printer_dev *job)
{
  return {send_on_stream, nullptr, nullptr, job, nullptr};
}

/* Reports a fatal error and ends the process with status 1. */
void fatal_error(const char *text)
{
  ovik_trace_exit();
  fprintf(stderr, "ERROR:Raster(%s, cups:%s)\n", text, cups_error_text());
  exit(1);
}

/* Writes the page header's 40 INFO lines to standard error in one piece. */
void dump_header(cups_page_header_t h)
{
  auto yes = [](unsigned v) { return v ? "TRUE" : "FALSE"; };
  for (char *media : {h.MediaClass, h.MediaColor, h.MediaType, h.OutputType})
    ovik_mask_controls(media, sizeof h.MediaClass);
  char text[4096];
  // The media texts are fixed arrays that a raster stream need not terminate.
  int n = snprintf(text, sizeof text,
                   "INFO: AdvanceDistance:%d\n"
                   "INFO: AdvanceMedia:%d\n"
                   "INFO: Collate:%s\n"
                   "INFO: CutMedia:%d\n"
                   "INFO: Duplex:%s\n"
                   "INFO: HWResolution:%d%d\n"
                   "INFO: ImagingBoundingBox:left%d, bottom%d, right%d, top%d\n"
                   "INFO: InsertSheet:%s\n"
                   "INFO: cups_jog_t:%d\n"
                   "INFO: cups_edge_t:%d\n"
                   "INFO: ManualFeed:%s\n"
                   "INFO: Margins:%d%d\n"
                   "INFO: MediaClass:%.64s\n"
                   "INFO: MediaColor:%.64s\n"
                   "INFO: MediaPosition:%d\n"
                   "INFO: MediaType:%.64s\n"
                   "INFO: MediaWeight:%d\n"
                   "INFO: MirrorPrint:%s\n"
                   "INFO: NegativePrint:%s\n"
                   "INFO: NumCopies:%d\n"
                   "INFO: Orientation:%d\n"
                   "INFO: OutputFaceUp:%s\n"
                   "INFO: OutputType:%.64s\n"
                   "INFO: PageSize:%d%d\n"
                   "INFO: Separations:%s\n"
                   "INFO: TraySwitch:%s\n"
                   "INFO: Tumble:%s\n"
                   "INFO: cupsBitsPerColor:%d\n"
                   "INFO: cupsBitsPerPixel:%d\n"
                   "INFO: cupsBytesPerLine:%d\n"
                   "INFO: cupsColorOrder:%d\n"
                   "INFO: cupsColorSpace:%d\n"
                   "INFO: cupsCompression:%d\n"
                   "INFO: cupsHeight:%d\n"
                   "INFO: cupsMediaType:%d\n"
                   "INFO: cupsRowCount:%d\n"
                   "INFO: cupsRowFeed:%d\n"
                   "INFO: cupsRowStep:%d\n"
                   "INFO: cupsWidth:%d\n"
                   "INFO: cupsHeight:%d\n",
                   (int)h.AdvanceDistance, raw(h.AdvanceMedia), yes(raw(h.Collate)), raw(h.CutMedia),
                   yes(raw(h.Duplex)), (int)h.HWResolution[0], (int)h.HWResolution[1], (int)h.ImagingBoundingBox[0],
                   (int)h.ImagingBoundingBox[1], (int)h.ImagingBoundingBox[2], (int)h.ImagingBoundingBox[3],
                   yes(raw(h.InsertSheet)), raw(h.Jog), raw(h.LeadingEdge), yes(raw(h.ManualFeed)), (int)h.Margins[0],
                   (int)h.Margins[1], h.MediaClass, h.MediaColor, (int)h.MediaPosition, h.MediaType, (int)h.MediaWeight,
                   yes(raw(h.MirrorPrint)), yes(raw(h.NegativePrint)), (int)h.NumCopies, raw(h.Orientation),
                   yes(raw(h.OutputFaceUp)), h.OutputType, (int)h.PageSize[0], (int)h.PageSize[1],
                   yes(raw(h.Separations)), yes(raw(h.TraySwitch)), yes(raw(h.Tumble)), (int)h.cupsBitsPerColor,
                   (int)h.cupsBitsPerPixel, (int)h.cupsBytesPerLine, raw(h.cupsColorOrder), raw(h.cupsColorSpace),
                   (int)h.cupsCompression, (int)h.cupsHeight, (int)h.cupsMediaType, (int)h.cupsRowCount,
                   (int)h.cupsRowFeed, (int)h.cupsRowStep, (int)h.cupsWidth, (int)h.cupsHeight);
  if (n > 0)
    fwrite(text, 1, static_cast<size_t>(n) < sizeof text ? n : sizeof text - 1, stderr);
}
