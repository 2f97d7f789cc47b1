/*
 * util.cpp - spooler status messages, the page header dump, and the writer
 * through which every byte for the printer leaves, with its trace.
 */
#include "util.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <cups/cups.h>
#include <zlib.h>

#include "ovik_error.h"
#include "ovik_trace.h"

char info_buf[1024];

namespace {

char msgerrno_buf[255];
char msgerrno2_buf[255];

/* The CUPS library's text for its last error, for the debug and error lines. */
const char *cups_error_text()
{
  return ippErrorString(cupsLastError());
}

/* "0x%x " of every byte value, built once: at most 5 characters in an entry
 * of 8 bytes, so that one 8-byte copy and one add trace a byte. */
struct hex_entry {
  char text[7];
  uint8_t length;
};
static_assert(sizeof(hex_entry) == 8);

constexpr std::array<hex_entry, 256> make_hex_table()
{
  constexpr char digits[] = "0123456789abcdef";
  std::array<hex_entry, 256> table{};
  for (int b = 0; b < 256; b++) {
    hex_entry &e = table[b];
    int n = 0;
    e.text[n++] = '0';
    e.text[n++] = 'x';
    if (b >= 16)
      e.text[n++] = digits[b >> 4];
    e.text[n++] = digits[b & 15];
    e.text[n++] = ' ';
    e.length = static_cast<uint8_t>(n);
  }
  return table;
}
constexpr std::array<hex_entry, 256> hex_table = make_hex_table();
constexpr size_t hex_most = 5;

/* Builds hex trace text in a fixed buffer and hands it to the trace in large
 * pieces; the line is flushed once, when it is finished. */
struct hex_line {
  char text[65536];
  size_t used = 0;
};

/* Hands the text collected so far to the trace stream. */
void hex_flush(hex_line &line)
{
  if (line.used)
    fwrite(line.text, 1, line.used, ovik_trace_handle);
  line.used = 0;
}

/* Adds text of length bytes (at most the buffer's size) to the line. */
void hex_put(hex_line &line, const char *text, size_t length)
{
  if (line.used + length > sizeof line.text)
    hex_flush(line);
  std::memcpy(line.text + line.used, text, length);
  line.used += length;
}

/* Traces bytes as "0x%x " each, the way write_bytes shows them. */
void hex_bytes(hex_line &line, const uint8_t *data, size_t count)
{
  while (count > 0) {
    if (line.used + sizeof(hex_entry) > sizeof line.text)
      hex_flush(line);
    // A byte takes at most 5 characters, but the last copy of a run writes 8.
    size_t room = (sizeof line.text - line.used - (sizeof(hex_entry) - hex_most)) / hex_most;
    size_t n = std::min(count, room);
    char *out = line.text + line.used;
    for (size_t i = 0; i < n; i++) {
      const hex_entry &e = hex_table[data[i]];
      std::memcpy(out, &e, sizeof e);
      out += e.length;
    }
    line.used = static_cast<size_t>(out - line.text);
    data += n;
    count -= n;
  }
}

/* Traces the finished hex line: the collected text and its line end, one flush. */
void hex_end(hex_line &line)
{
  hex_put(line, "\n", 1);
  hex_flush(line);
  fflush(ovik_trace_handle);
}

} // namespace

/* Writes the INFO line for the spooler. */
void info(const char *text)
{
  fprintf(stderr, "INFO: %s \n", text);
}

/* Writes a DEBUG line of the settings dump kind. */
void dump(const char *text)
{
  fprintf(stderr, "DEBUG: %s \n", text);
}

/* Writes a DEBUG line with the CUPS library's last error. */
void debug(const char *text)
{
  fprintf(stderr, "DEBUG: %s (cups:%s)\n", text, cups_error_text());
}

/* Reports a fatal error and ends the process with status 1. */
void error(const char *text)
{
  ovik_trace_exit();
  fprintf(stderr, "ERROR:Raster(%s, cups:%s)\n", text, cups_error_text());
  exit(1);
}

/* Reports text at level: trace line, then the spooler line or the printer. */
void msg(int level, const char *text)
{
  static constexpr struct {
    int level;
    const char *trace_format;
    void (*report)(const char *);
  } levels[] = {
      {MSG_INFO, "INFO: %s\n", info},    {MSG_DUMP, "DEBUG: %s\n", dump},
      {MSG_DEBUG, "DEBUG: %s\n", debug}, {MSG_OUTPUT, "OUTPUT: %s\n", write_string},
      {MSG_ERROR, "ERROR: %s\n", error},
  };
  for (const auto &l : levels) {
    if (l.level != level)
      continue;
    ovik_trace(l.trace_format, text);
    l.report(text);
    break;
  }
  if (text == info_buf)
    std::memset(info_buf, 0, sizeof info_buf);
}

/* Fills info_buf with the English text of code (library or C library). */
static void code_text(int code)
{
  std::memset(info_buf, 0, sizeof info_buf);
  ovik_format_error_ansi(code, LANGUAGE_ENGLISH, info_buf, 0, sizeof info_buf);
}

/* Formats into a fixed buffer; a longer line is cut to fit, never refused. */
static void compose(char *buffer, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));
static void compose(char *buffer, size_t size, const char *format, ...)
{
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, size, format, args);
  va_end(args);
}

/* Reports a nonzero code with its text at level; returns the code. */
int msgerrno(int level, int code)
{
  if (code == 0)
    return 0;
  code_text(code);
  compose(msgerrno_buf, sizeof msgerrno_buf, "error(%i):%s", code, info_buf);
  msg(level, msgerrno_buf);
  return code;
}

/* Reports a nonzero code with its text and a context at level; returns the code. */
int msgerrno2(int level, int code, const char *context)
{
  if (code == 0)
    return 0;
  code_text(code);
  compose(msgerrno2_buf, sizeof msgerrno2_buf, "%s error(%i):%s.\n", context, code, info_buf);
  msg(level, msgerrno2_buf);
  return code;
}

/* The command line is not logged: the options can carry user data. */
void dump_args(int argc, char **argv)
{
  (void)argc;
  (void)argv;
}

/* A header field as the 32 bits the raster stream carried. The enum fields
 * may hold any value there; reading them as their enum type is undefined. */
template <typename T>
static int raw(const T &field)
{
  static_assert(sizeof(T) == sizeof(uint32_t));
  uint32_t v;
  std::memcpy(&v, &field, sizeof v);
  return static_cast<int>(v);
}

/* Masks the control characters of text (up to length bytes) with '?'. */
void mask_controls(char *text, size_t length)
{
  for (size_t i = 0; i < length && text[i] != '\0'; i++)
    if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F)
      text[i] = '?';
}

/* Writes the page header's 40 INFO lines to standard error in one piece. */
void dump_header(cups_page_header_t h)
{
  auto yes = [](unsigned v) { return v ? "TRUE" : "FALSE"; };
  for (char *media : {h.MediaClass, h.MediaColor, h.MediaType, h.OutputType})
    mask_controls(media, sizeof h.MediaClass);
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

/* A double truncated toward zero into an int, saturating where it won't fit. */
int32_t trunc_to_int(double v)
{
  if (std::isnan(v))
    return 0;
  if (v >= 2147483647.0)
    return INT_MAX;
  if (v <= -2147483648.0)
    return INT_MIN;
  return static_cast<int32_t>(v);
}

/* Standard CRC-32 continued from running (0 starts afresh). */
uint32_t CRC32(uint32_t running, const uint8_t *data, uint32_t length)
{
  return static_cast<uint32_t>(crc32(running, data, length));
}

/* Sends pieces to the printer as one block, tracing it the way write_bytes does. */
void write_bytes_parts(const out_piece *pieces, int count)
{
  size_t total = 0;
  for (int i = 0; i < count; i++)
    total += pieces[i].length;

  static hex_line line;
  if (ovik_trace_handle) {
    ovik_trace("+write_bytes start(data_size:%d):\n", static_cast<int>(total));
    for (int i = 0; i < count; i++)
      hex_bytes(line, static_cast<const uint8_t *>(pieces[i].data), pieces[i].length);
    hex_end(line);
  }

  // One item per block: the count is 1 when the printer stream took it all.
  int written = total > 0;
  for (int i = 0; i < count; i++)
    if (pieces[i].length && fwrite(pieces[i].data, pieces[i].length, 1, stdout) != 1)
      written = 0;

  ovik_trace("-write_bytes finished(writed:%d).\n", written);
}

/* Sends length bytes to the printer. */
void write_bytes(const void *data, int length)
{
  out_piece piece = {data, length > 0 ? static_cast<size_t>(length) : 0};
  write_bytes_parts(&piece, 1);
}

/* Sends a text, without its terminator, to the printer. */
void write_string(const char *text)
{
  size_t length = strlen(text);
  if (ovik_trace_handle) {
    ovik_trace("+write_string start(data_size:%d).\n", static_cast<int>(length));
    ovik_trace("\tText:%s.\n", text);
    // Bytes print as signed characters here: 0x80..0xff come out as 0xffffff80...
    std::string hex = "\tHex:";
    char one[16];
    for (size_t i = 0; i < length; i++) {
      int n = snprintf(one, sizeof one, "0x%x ", static_cast<int>(static_cast<signed char>(text[i])));
      hex.append(one, n);
    }
    hex += '\n';
    ovik_trace_write(hex.data(), hex.size());
  }
  int written = length > 0 && fwrite(text, length, 1, stdout) == 1;
  ovik_trace("-write_string finished(writed:%d).\n", written);
}
