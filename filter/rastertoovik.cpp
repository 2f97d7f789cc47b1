/*
 * rastertoovik.cpp - CUPS raster filter for Ovik thermal receipt and label
 * printers.
 *
 * Usage: rastertoovik job-id user title copies options [file]
 *
 * The PPD named by $PPD selects the printer model and the job's defaults; the
 * raster pages arrive on standard input or in the named file. Every page copy
 * leaves on standard output as a page header packet and a bitmap packet;
 * around them go the feed, cut, beeper, drawer and logo commands that the
 * settings ask for.
 */
#include "rastertoovik.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <span>
#include <unistd.h>
#include <isa-l/crc.h>

#include "hook.h"
#include "ovik_trace.h"
#include "print.h"
#include "util.h"

volatile sig_atomic_t cancel_flag = 0;
int siId = 0;
int siId1 = 0;

namespace {

/* Packet kinds, and the six fixed bytes that follow the kind in each. */
enum packet_kind : uint8_t { density_kind, paper_kind, doc_start_kind, page_header_kind, bitmap_kind };
using fixed_bytes = std::array<uint8_t, 6>;
constexpr fixed_bytes plain_fixed = {0x01, 0, 0, 0, 0, 0};
constexpr fixed_bytes paper_fixed = {0x01, 0x01, 0x01, 0, 0, 0};
constexpr fixed_bytes bitmap_fixed = {0x02, 0, 0, 0, 0, 0};

constexpr size_t head_size = 14;
constexpr uint32_t packet_crc_start = 0xFFFFFFFF;

/* Stores v little-endian in n bytes. */
void put_le(uint8_t *out, uint64_t v, int n)
{
  for (int i = 0; i < n; i++)
    out[i] = static_cast<uint8_t>(v >> (8 * i));
}

/* The first 14 bytes of a packet: magic, 0x01, kind, fixed bytes, body length. */
void fill_head(uint8_t *out, packet_kind kind, const fixed_bytes &fixed, uint32_t body_length)
{
  out[0] = 0x1B;
  out[1] = 0x1A;
  out[2] = 0x01;
  out[3] = kind;
  std::copy(fixed.begin(), fixed.end(), out + 4);
  put_le(out + 10, body_length, 4);
}

/* Builds a small packet around body, adds its CRC and sends it in one write. */
void send_packet(packet_kind kind, const fixed_bytes &fixed, std::span<const uint8_t> body)
{
  std::array<uint8_t, 64> packet{};
  size_t n = body.size();
  fill_head(packet.data(), kind, fixed, static_cast<uint32_t>(n));
  std::copy(body.begin(), body.end(), packet.begin() + head_size);
  uint32_t crc = packet_crc32(packet_crc_start, packet.data() + 2, head_size - 2 + n);
  put_le(packet.data() + head_size + n, crc, 4);
  write_bytes(packet.data(), static_cast<int>(head_size + n + 4));
}

} // namespace

/* The packet CRC: zlib's crc32 continued from previous. ISA-L computes it
 * with the processor's carry-less multiply, an order of magnitude faster than
 * zlib's table on page-sized runs, where it dominated the filter's own time. */
uint32_t packet_crc32(uint32_t previous, const uint8_t *data, uint64_t length)
{
  return crc32_gzip_refl(previous, data, length);
}

/* Density setting (code 0xCB) with the density's low byte. */
void send_density_packet(int density)
{
  const uint8_t body[] = {0x02, 0x00, 0x01, 0xCB, 0x00, 0x01, static_cast<uint8_t>(density)};
  send_packet(density_kind, plain_fixed, body);
}

/* Paper types 1 and 2 trade places on the wire; anything unknown is 0. */
uint8_t paper_code(int papertype)
{
  switch (papertype) {
  case 1:
    return 0x02;
  case 2:
    return 0x01;
  default:
    return 0x00;
  }
}

/* Paper type setting (code 0xCE). */
void send_paper_type_packet(int papertype)
{
  const uint8_t body[] = {0x02, 0x00, 0x01, 0xCE, 0x00, 0x01, paper_code(papertype)};
  send_packet(paper_kind, paper_fixed, body);
}

void send_doc_start_packet()
{
  const uint8_t body[] = {0x0A, 0x00, 0x01, 0x00};
  send_packet(doc_start_kind, plain_fixed, body);
}

/* Page flags: the first matching rule decides. */
uint8_t page_flags(const dev_mode *s)
{
  if (s->papertype == 1 || s->papertype == 2)
    return 0x02;
  if (s->papertype == 0 && s->postprintaction == 1)
    return 0x04;
  if (s->papertype == 3)
    return 0x01;
  return 0x00;
}

/* Page header packet: bytes per line and rows (low 16 bits), flags, siId. */
void send_page_header_packet(uint32_t bytes_per_line, uint64_t rows, uint8_t flags)
{
  uint8_t body[14] = {0x05, 0x00, 0x01, 0x01};
  put_le(body + 4, bytes_per_line & 0xFFFF, 2);
  put_le(body + 6, rows & 0xFFFF, 2);
  body[8] = flags;
  body[9] = 0x01;
  body[10] = static_cast<uint8_t>(siId++);
  send_packet(page_header_kind, plain_fixed, body);
}

/* Bitmap packet of the top rows of the page. Header, rows and CRC leave in
 * turn, straight from the page buffer: the stream and the trace are those of
 * one block of L+26 bytes followed by the 4 CRC bytes. */
void printbitmap(const uint8_t *data, uint32_t bytes_per_line, uint64_t rows)
{
  uint64_t length = static_cast<uint64_t>(bytes_per_line) * rows;
  uint8_t head[26] = {};
  fill_head(head, bitmap_kind, bitmap_fixed, static_cast<uint32_t>(length + 12));
  head[14] = 0x05;
  head[16] = static_cast<uint8_t>(siId1++);
  put_le(head + 22, length, 4);

  uint32_t crc = packet_crc32(packet_crc32(packet_crc_start, head + 2, sizeof head - 2), data, length);
  uint8_t crc_bytes[4];
  put_le(crc_bytes, crc, 4);

  const out_piece packet[] = {{head, sizeof head}, {data, static_cast<size_t>(length)}};
  write_bytes_parts(packet, 2);
  write_bytes(crc_bytes, 4);
  fflush(stdout);
}

/* True when the first t bytes of row are all zero. */
static bool blank_row(const uint8_t *row, uint64_t t)
{
  return t == 0 || (row[0] == 0 && std::memcmp(row, row + 1, t - 1) == 0);
}

/* Paper saving: the page ends at its lowest row with a dot in a whole byte. */
void DoSavePaper(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count)
{
  if (*row_count == 0)
    return;
  uint64_t r = *data_size / *row_count;
  uint64_t t = std::min<uint64_t>(width / 8, r);
  uint64_t kept = *row_count;
  while (kept > 0 && blank_row(buffer + (kept - 1) * r, t))
    kept--;
  *data_size -= (*row_count - kept) * r;
  *row_count = kept;
}

/* Reads the page's pixels in one piece and sends every copy of it. */
void process_page(ovik_printer_dev *device, const cups_page_header_t *header, cups_raster_t *ras)
{
  const dev_mode &s = *device->settings;
  uint32_t bytes_per_line = header->cupsBytesPerLine;
  uint32_t width = header->cupsWidth;
  uint64_t rows = header->cupsHeight;
  uint32_t copies = header->NumCopies;
  uint64_t data_size = rows * bytes_per_line;

  // A page of several bits per dot would print as noise, and a huge one must
  // not take the print server's memory: both are refused before allocating.
  if (header->cupsBitsPerPixel != 1)
    error("page is not 1 bit per pixel");
  if (data_size > max_page_bytes)
    error("page too large");

  auto *page = static_cast<uint8_t *>(calloc(data_size ? data_size : 1, 1));
  if (!page)
    error("not got enough memory");
  if (cupsRasterReadPixels(ras, page, static_cast<unsigned>(data_size)) != data_size)
    error("cupsRasterReadPixels did not read enough data");

  for (uint32_t copy = 0; copy < copies; copy++) {
    start_page(device);
    if (s.papersavebottom != 0)
      DoSavePaper(page, &data_size, width, &rows);
    send_page_header_packet(bytes_per_line, rows, page_flags(&s));
    printbitmap(page, bytes_per_line, rows);
    end_page(device);
  }
  free(page);
}

#ifndef OVIK_FILTER_NO_MAIN

/* SIGTERM: only raise the flag. The trace lines are pre-built and written
 * with one write(2) each, since the main flow may be writing the trace. */
static void cancel_handler(int signum)
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
  cancel_flag = 1;
  static const char done[] = "-cancel_handler finished.";
  ovik_trace_signal_write(done, sizeof done - 1);
}

/* A developer can hold the filter at start by creating this file; only root
 * can create it in /run, so no local user can stall the print server. */
static const char *hold_path()
{
  const char *path = getenv("OVIK_HOLD");
  return path ? path : "/run/rastertoovik.hold";
}

/* Installs handler for SIGTERM: empty mask, system calls restarted. libcups
 * retries an interrupted read anyway, and a write to a full pipe must not
 * fail: stdio would drop what it held and the printer lose part of a page. */
static void set_sigterm(void (*handler)(int))
{
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
}

int main(int argc, char *argv[])
{
  // Start-up.
  if (const char *trace = ovik_trace_path())
    ovik_trace_init(trace);
  const struct timespec pause = {0, 100 * 1000 * 1000};
  while (access(hold_path(), F_OK) == 0)
    nanosleep(&pause, nullptr);
  setbuf(stderr, nullptr);
  msg(MSG_INFO, "rastertoovik filter started");
  fprintf(stderr, "DEBUG: rastertoovik compiled with OVIK library version %d.%d.%d\n", 0, 1, 0);
  if (argc < 6 || argc > 7)
    error("ERROR: rastertoovik job-id user title copies options [file]\n");

  char *options = strdup(argv[5]);
  if (!options)
    error("not got enough memory");
  ovik_printer_dev *device = nullptr;
  int code = ovik_printer_dev_creator(options, &device);
  if (code != 0)
    msgerrno2(MSG_ERROR, code, "ERROR: failed init printer device object.");
  dump_args(argc, argv);

  int fd = 0;
  if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0)
    error("Unable to open raster file");
  cancel_flag = 0;
  set_sigterm(cancel_handler);
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!ras)
    error("cupsRasterOpen failed");
  fflush(stdout);
  start_doc(device);
  ovik_trace("\tstart_doc.\n");

  // Job loop: a page once begun goes out with all its copies.
  cups_page_header_t header;
  int page = 0;
  while (cupsRasterReadHeader(ras, &header) && !cancel_flag) {
    page++;
    fprintf(stderr, "PAGE: %d %d\n", page, static_cast<int>(header.NumCopies));
    dump_header(header);
    process_page(device, &header, ras);
    fflush(stdout);
  }

  // End of job.
  if (cancel_flag) {
    msg(MSG_DEBUG, "Print job was cancelled");
  } else {
    uint32_t owed = device->job_state->lastStripBlanksHeight;
    bool pagemode = device->settings->pagemode;
    ovik_trace("\tbefore end_doc,lastStripBlanksHeight:%d,pagemode:%s.\n", static_cast<int>(owed),
               pagemode ? "YES" : "NO");
    if (owed != 0 && pagemode) {
      ovik_trace("print lastStripBlanksHeight:%d.\n", static_cast<int>(owed));
      print_blank(device, static_cast<int>(owed));
    }
    ovik_trace("end_docing.\n");
    end_doc(device);
  }

  // Clean-up.
  ovik_trace("Closing.\n");
  fflush(stdout);
  cupsRasterClose(ras);
  ovik_printer_dev_destroy(device);
  set_sigterm(SIG_DFL);
  if (fd != 0)
    close(fd);
  free(options);
  msg(MSG_DEBUG, "rastertoovik filter finished");
  ovik_trace_exit();
  return 0;
}

#endif
