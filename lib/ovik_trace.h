/*
 * ovik_trace.h - the developer trace file.
 *
 * One process-wide stream; NULL means tracing is off. Every trace write is a
 * whole line built in memory, written and flushed at once, so the file is
 * complete up to the last finished line whenever the process ends.
 *
 * Usable from C and C++.
 */
#ifndef OVIK_TRACE_H
#define OVIK_TRACE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The trace stream: a file opened by ovik_trace_init, stdout, or NULL (off). */
extern FILE *ovik_trace_handle;

/* Opens the trace. "stdout" traces onto standard output; any other path is
 * opened without following symbolic links, created with mode 0600, and refused
 * when it is a regular file the effective user does not own. Returns errno
 * after the open (not cleared before it, as callers have always seen it). */
int ovik_trace_init(const char *path);

/* Flushes and closes the trace unless it is stdout; a second call does nothing. */
void ovik_trace_exit(void);

/* Writes "[DUMP(count):0x.. 0x.. ].\r\n" to stream, then flushes the trace. */
void ovik_trace_dump(FILE *stream, const unsigned char *data, uint32_t count);

/* printf-style trace line: nothing when the trace is off; one write and a flush. */
void ovik_trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Writes text of length bytes to the trace as one piece and flushes it. */
void ovik_trace_write(const char *text, size_t length);

/* Async-signal-safe: one write(2) of a pre-built text on the trace's descriptor.
 * For signal handlers; does nothing when the trace is off. */
void ovik_trace_signal_write(const char *text, size_t length);

/* Default trace path of the filter, and the environment variable that moves it
 * (a path) or switches it off (empty, or "off"). */
#define OVIK_TRACE_DEFAULT_PATH "/tmp/ovik-raster"
#define OVIK_TRACE_ENV "OVIK_TRACE"

/* The path the filter should trace to: $OVIK_TRACE when set, the default
 * otherwise; NULL when tracing is switched off. */
const char *ovik_trace_path(void);

#ifdef __cplusplus
}
#endif

#endif
