/*
 * util.h - spooler status messages and the one writer of printer data.
 */
#ifndef OVIK_UTIL_H
#define OVIK_UTIL_H

#include <stddef.h>
#include <stdint.h>

#include <cups/raster.h>

/* Message levels (exact values, not flags). */
#define MSG_INFO 0
#define MSG_DEBUG 1
#define MSG_ERROR 2
#define MSG_OUTPUT 32
#define MSG_DUMP 64

/* Receives the text of an error code in msgerrno and msgerrno2. */
extern char info_buf[1024];

void msg(int level, const char *text);
void info(const char *text);
void dump(const char *text);
void debug(const char *text);
[[noreturn]] void error(const char *text);
int msgerrno(int level, int code);
int msgerrno2(int level, int code, const char *context);
void dump_args(int argc, char **argv);
void dump_header(cups_page_header_t header);

/* Replaces every control character of a text from outside (job options,
 * raster media names) by '?', up to its terminator or length bytes: a line
 * break there would start a status line of the sender's choosing. */
void mask_controls(char *text, size_t length);

/* v truncated toward zero into an int; beyond the int range it saturates
 * (NaN gives 0) instead of being undefined. */
int32_t trunc_to_int(double v);

/* CRC-32 of IEEE 802.3; a running value of 0 starts a new checksum. */
uint32_t CRC32(uint32_t running, const uint8_t *data, uint32_t length);

/* Printer stream: every byte for the printer leaves through these. */
void write_bytes(const void *data, int length);
void write_string(const char *text);

/* One block for the printer given in pieces (header, rows, checksum): it is
 * traced and accounted as a single write_bytes of the pieces joined, without
 * joining them in memory. */
typedef struct out_piece {
  const void *data;
  size_t length;
} out_piece;
void write_bytes_parts(const out_piece *pieces, int count);

#endif
