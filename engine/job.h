/*
 * job.h - the job object as the engine's modules see it, and the printer
 * stream, trace and message functions they share.
 */
#ifndef OVIK_ENGINE_JOB_H
#define OVIK_ENGINE_JOB_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "ovik_engine.h"

/* Feed-step models send blank strips and dot lines with paper-feed commands. */
constexpr uint32_t model_feed_step_1 = 0x1955;
constexpr uint32_t model_feed_step_2 = 0x1956;

/* Rows [from, from + count) of the page buffer. */
struct row_span {
  uint64_t from, count;
};

/* One block for the printer given in pieces (header, rows, checksum): it is
 * traced and accounted as a single write of the pieces joined, without
 * joining them in memory. */
struct out_piece {
  const void *data;
  size_t length;
};

/* State kept while pages are printed. */
struct job_state_record {
  uint32_t lastStripBlanksHeight;
};

/* Hex text of traced printer bytes, built in memory and handed to the trace
 * in large pieces. Only a traced job has one. */
struct hex_line {
  char text[65536];
  size_t used = 0;
};

/* The printer stream of a job: the caller's sink, the first write failure
 * (after which nothing more is written) and the trace of every block. */
struct printer_stream {
  const ovik_job_io *io = nullptr;
  int error = 0; /* errno of the first write or flush that failed */
  std::unique_ptr<hex_line> hex;
};

/* One job: everything it needs, nothing shared with another job. */
struct ovik_printer_dev {
  dev_mode settings;
  job_state_record job_state;
  uint8_t *render_buf;
  int32_t render_buf_size;
  uint8_t *data_buf;
  int32_t data_buf_size;

  int siId;  /* sequence number of the next page header packet */
  int siId1; /* sequence number of the next bitmap packet */
  std::atomic<int> cancel_request;
  ovik_job_io io;
  printer_stream out;

  ovik_page page;         /* the page in progress */
  uint8_t *page_buf;      /* its rows, height x bytes_per_line; kept for the next page */
  uint64_t page_capacity; /* bytes page_buf holds */
  uint64_t page_rows;     /* rows given so far */
  bool page_open;
  std::vector<row_span> page_spans;    /* the rows of the page that are sent, top to bottom */
  std::vector<out_piece> packet_parts; /* a bitmap packet's header and row spans */

  char error[256]; /* why the job ended */
};

/* True for the two models that feed blank strips with ESC J. */
inline bool is_feed_step_model(const dev_mode &s)
{
  return s.model == model_feed_step_1 || s.model == model_feed_step_2;
}

/* ---------- trace ---------- */

/* printf-style trace line of a job (or of its io): nothing without a trace;
 * one write and a flush. */
void trace(const ovik_job_io *io, const char *format, ...) __attribute__((format(printf, 2, 3)));
#define job_trace(job, ...) trace(&(job)->io, __VA_ARGS__)

/* ---------- the printer stream ---------- */

/* Every byte for the printer leaves through these. */
void write_bytes_parts(printer_stream &out, const out_piece *pieces, int count);
void write_bytes(printer_stream &out, const void *data, int length);
void write_string(printer_stream &out, const char *text);

/* Pushes what was written toward the printer (the stream's flush points). */
void flush_output(printer_stream &out);

/* ---------- messages ---------- */

/* Reports text at level through the job's io (MSG_OUTPUT onto its printer stream). */
void msg(ovik_printer_dev *job, int level, const char *text);

/* The line "error(code):text" of a code, cut to size bytes. */
void code_line(int code, char *line, size_t size);

/* Reports a nonzero code as "error(code):text" at level; returns the code. */
int msgerrno(const ovik_job_io *io, int level, int code);

/* Records why the job ends and returns code: the front end reports the text. */
int job_failed(ovik_printer_dev *job, int code, const char *text);

/* The write failure of the job's printer stream as its result: 0 while
 * every write went through. */
int stream_result(ovik_printer_dev *job);

/* v truncated toward zero into an int; beyond the int range it saturates
 * (NaN gives 0) instead of being undefined. */
int32_t trunc_to_int(double v);

/* ---------- settings ---------- */

/* Reports the final settings of the job, one MSG_DUMP line each. */
void dump_options(const dev_mode *settings, const ovik_job_io *io);

/* Sizes of the render strip (printer_width x max_render_height) and of the
 * staging buffer (+ 20): 0, or the result code of the buffer that may not be
 * that large (a negative product counts as 0). */
int device_buffer_sizes(const dev_mode &settings, int32_t *render_size, int32_t *data_size);

#endif
