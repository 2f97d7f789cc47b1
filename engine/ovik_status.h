/*
 * ovik_status.h - the printer's condition from its replies: the requests of
 * a status query, what the replies say, and the names and words a front end
 * reports the conditions with. The same rules for every front end; the
 * transport (CUPS's back channel, a PAPPL device, a socket) is the caller's.
 *
 * Usable from C and C++.
 */
#ifndef OVIK_STATUS_H
#define OVIK_STATUS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The conditions a status query finds, as bits. */
#define OVIK_STATUS_MEDIA_EMPTY 0x1u /* paper end */
#define OVIK_STATUS_MEDIA_LOW 0x2u   /* paper near its end */
#define OVIK_STATUS_COVER_OPEN 0x4u
#define OVIK_STATUS_OFFLINE 0x8u /* offline for another reason */

/* One condition: its bit, its printer-state-reasons keyword without and
 * with the severity a CUPS filter gives it, and the printer's words. */
typedef struct ovik_status_condition {
  unsigned bit;
  const char *reason;      /* "media-empty" */
  const char *cups_reason; /* "media-empty-error" */
  const char *text;        /* "Printer is out of paper" */
} ovik_status_condition;

/* The conditions, most urgent first. */
const ovik_status_condition *ovik_status_conditions(size_t *count);

/* The way to the printer and back, the caller's. */
typedef struct ovik_status_port {
  /* Sends the request bytes to the printer: 0, or nonzero when they could not go. */
  int (*send)(void *context, const uint8_t *data, size_t length);
  /* Waits at most timeout_ms for one byte from the printer: 1 with the byte,
   * 0 when none came in time, -1 when the way back is broken. */
  int (*read_byte)(void *context, int timeout_ms, uint8_t *byte);
  /* Drops bytes that arrived unasked (late replies, automatic status); may be NULL. */
  void (*discard)(void *context);
  void *context;
} ovik_status_port;

/* Results of a status query. */
#define OVIK_STATUS_ANSWERED 0     /* *found holds the conditions */
#define OVIK_STATUS_SILENT 1       /* a reply did not come within the timeout */
#define OVIK_STATUS_BAD_REPLY 2    /* a reply failed its fixed bits: nothing is believed */
#define OVIK_STATUS_BROKEN 3       /* the request could not be sent or the way back is broken */
#define OVIK_STATUS_UNSUPPORTED -3 /* the printer class has no status requests */

/* Asks the printer for its condition: real-time status requests (DLE EOT 1,
 * 2 and 4), one reply byte each, each awaited at most reply_timeout_ms.
 * *waited_ms receives the time spent waiting for replies that did not come. */
int ovik_status_query(uint32_t printer_class, const ovik_status_port *port, int reply_timeout_ms, unsigned *found,
                      int *waited_ms);

/* The conditions that four flags of the reply parsers (positions 4 to 7:
 * offline, cover open, paper near end, paper end) say hold. */
unsigned ovik_status_from_flags(const uint8_t flags[8]);

#ifdef __cplusplus
}
#endif

#endif
