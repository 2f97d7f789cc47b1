/*
 * output.cpp - the one writer of printer data, with its hex trace, and the
 * job's status messages.
 */
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <string>
#include <zlib.h>

#include "job.h"
#include "ovik_error.h"

/* Formats one trace line, writes it and flushes the trace. */
void trace(const ovik_job_io *io, const char *format, ...)
{
  if (!io->trace)
    return;
  va_list args;
  va_start(args, format);
  vfprintf(io->trace, format, args);
  va_end(args);
  fflush(io->trace);
}

namespace {

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

/* Hands the text collected so far to the trace stream. */
void hex_flush(hex_line &line, FILE *trace)
{
  if (line.used)
    fwrite(line.text, 1, line.used, trace);
  line.used = 0;
}

/* Traces bytes as "0x%x " each, the way write_bytes shows them. */
void hex_bytes(hex_line &line, FILE *trace, const uint8_t *data, size_t count)
{
  while (count > 0) {
    if (line.used + sizeof(hex_entry) > sizeof line.text)
      hex_flush(line, trace);
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
void hex_end(hex_line &line, FILE *trace)
{
  if (line.used + 1 > sizeof line.text)
    hex_flush(line, trace);
  line.text[line.used++] = '\n';
  hex_flush(line, trace);
  fflush(trace);
}

/* Hands bytes to the sink, unless an earlier write failed: then nothing
 * more reaches the printer. False when they were not taken. */
bool to_sink(printer_stream &out, const void *data, size_t length)
{
  if (out.error)
    return false;
  if (int e = out.io->write(out.io->sink_context, data, length)) {
    out.error = e;
    return false;
  }
  return true;
}

} // namespace

/* Sends pieces to the printer as one block, tracing it the way write_bytes does. */
void write_bytes_parts(printer_stream &out, const out_piece *pieces, int count)
{
  size_t total = 0;
  for (int i = 0; i < count; i++)
    total += pieces[i].length;

  FILE *trace_file = out.io->trace;
  if (trace_file) {
    trace(out.io, "+write_bytes start(data_size:%d):\n", static_cast<int>(total));
    if (!out.hex)
      out.hex = std::make_unique<hex_line>();
    for (int i = 0; i < count; i++)
      hex_bytes(*out.hex, trace_file, static_cast<const uint8_t *>(pieces[i].data), pieces[i].length);
    hex_end(*out.hex, trace_file);
  }

  // One item per block: the count is 1 when the printer stream took it all.
  int written = total > 0;
  for (int i = 0; i < count; i++)
    if (pieces[i].length && !to_sink(out, pieces[i].data, pieces[i].length))
      written = 0;

  trace(out.io, "-write_bytes finished(writed:%d).\n", written);
}

/* Sends length bytes to the printer. */
void write_bytes(printer_stream &out, const void *data, int length)
{
  out_piece piece = {data, length > 0 ? static_cast<size_t>(length) : 0};
  write_bytes_parts(out, &piece, 1);
}

/* Sends a text, without its terminator, to the printer. */
void write_string(printer_stream &out, const char *text)
{
  size_t length = strlen(text);
  if (out.io->trace) {
    trace(out.io, "+write_string start(data_size:%d).\n", static_cast<int>(length));
    trace(out.io, "\tText:%s.\n", text);
    // Bytes print as signed characters here: 0x80..0xff come out as 0xffffff80...
    std::string hex = "\tHex:";
    char one[16];
    for (size_t i = 0; i < length; i++) {
      int n = snprintf(one, sizeof one, "0x%x ", static_cast<int>(static_cast<signed char>(text[i])));
      hex.append(one, n);
    }
    hex += '\n';
    fwrite(hex.data(), 1, hex.size(), out.io->trace);
    fflush(out.io->trace);
  }
  int written = length > 0 && to_sink(out, text, length);
  trace(out.io, "-write_string finished(writed:%d).\n", written);
}

/* Pushes the stream toward the printer; a failure counts as a failed write. */
void flush_output(printer_stream &out)
{
  if (out.error || !out.io->flush)
    return;
  if (int e = out.io->flush(out.io->sink_context))
    out.error = e;
}

namespace {

/* Reports text at level: trace line, then the front end's line, or the
 * printer stream out for MSG_OUTPUT. */
void report(const ovik_job_io *io, printer_stream &out, int level, const char *text)
{
  static constexpr struct {
    int level;
    const char *trace_format;
  } levels[] = {
      {MSG_INFO, "INFO: %s\n"},     {MSG_DUMP, "DEBUG: %s\n"},  {MSG_DEBUG, "DEBUG: %s\n"},
      {MSG_OUTPUT, "OUTPUT: %s\n"}, {MSG_ERROR, "ERROR: %s\n"},
  };
  for (const auto &l : levels) {
    if (l.level != level)
      continue;
    trace(io, l.trace_format, text);
    if (level == MSG_OUTPUT)
      write_string(out, text);
    else if (level != MSG_ERROR && io->message)
      io->message(io->message_context, level, text); // an error is the caller's to return
    return;
  }
}

} // namespace

/* Reports text at level through io (MSG_OUTPUT onto a stream of its own). */
void ovik_message(const ovik_job_io *io, int level, const char *text)
{
  printer_stream out;
  out.io = io;
  report(io, out, level, text);
}

/* Reports text at level through the job's io; its printer stream for MSG_OUTPUT. */
void msg(ovik_printer_dev *job, int level, const char *text)
{
  report(&job->io, job->out, level, text);
}

/* "error(code):text" with the English text of a library or C library code. */
void code_line(int code, char *line, size_t size)
{
  char text[1024] = {};
  ovik_format_error_ansi(code, LANGUAGE_ENGLISH, text, 0, sizeof text);
  snprintf(line, size, "error(%i):%s", code, text);
}

/* Reports a nonzero code with its English text at level; returns the code. */
int msgerrno(const ovik_job_io *io, int level, int code)
{
  if (code == 0)
    return 0;
  char line[255];
  code_line(code, line, sizeof line);
  ovik_message(io, level, line);
  return code;
}

/* Records the text of what ends the job; returns code. */
int job_failed(ovik_printer_dev *job, int code, const char *text)
{
  snprintf(job->error, sizeof job->error, "%s", text);
  return code;
}

namespace {

/* The C library's text of an errno value, from either form of strerror_r. */
[[maybe_unused]] const char *error_text(int result, const char *buffer)
{
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char *error_text(const char *result, const char *)
{
  return result;
}

} // namespace

/* 0 while every write reached the sink, else the errno of the first that did not. */
int stream_result(ovik_printer_dev *job)
{
  int e = job->out.error;
  if (e == 0)
    return 0;
  char text[128] = "";
  snprintf(job->error, sizeof job->error, "print data could not be written: %s",
           error_text(strerror_r(e, text, sizeof text), text));
  return e;
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

/* Masks the control characters of text (up to length bytes) with '?'. */
void ovik_mask_controls(char *text, size_t length)
{
  for (size_t i = 0; i < length && text[i] != '\0'; i++)
    if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F)
      text[i] = '?';
}

/* Standard CRC-32 continued from running (0 starts afresh); no bytes leave
 * the running value as it is. */
uint32_t CRC32(uint32_t running, const uint8_t *data, uint32_t length)
{
  if (length == 0)
    return running;
  return static_cast<uint32_t>(crc32(running, data, length));
}
