/*
 * ovik_status.h - the printer's condition from its replies: the requests of
 * a status query, what the replies say, the conditions with the names and
 * words a front end reports them with, and the one policy every front end
 * follows: how long a reply is awaited, how much silence a job allows, which
 * conditions keep a job waiting, how often a waiting job asks again and how
 * a silent printer is asked less and less often. The transport (CUPS's back
 * channel, a PAPPL device, a socket) is the caller's.
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

/* The conditions, as bits. The first four come from the printer's replies;
 * the others a front end finds itself. */
#define OVIK_STATUS_MEDIA_EMPTY 0x1u /* paper end */
#define OVIK_STATUS_MEDIA_LOW 0x2u   /* paper near its end */
#define OVIK_STATUS_COVER_OPEN 0x4u
#define OVIK_STATUS_OFFLINE 0x8u      /* offline for another reason */
#define OVIK_STATUS_SILENT 0x10u      /* the printer does not answer status requests */
#define OVIK_STATUS_STALLED 0x20u     /* the printer does not take the data it is sent */
#define OVIK_STATUS_UNREACHABLE 0x40u /* the printer cannot be reached */
/* The conditions a status query can find. */
#define OVIK_STATUS_FROM_REPLIES                                                                                       \
  (OVIK_STATUS_MEDIA_EMPTY | OVIK_STATUS_MEDIA_LOW | OVIK_STATUS_COVER_OPEN | OVIK_STATUS_OFFLINE)

/* One condition: its bit, its printer-state-reasons keyword without and
 * with the severity a CUPS filter gives it (NULL: not a printer state), the words a user reads in
 * English and in Chinese (UTF-8), and whether a job waits while it holds. */
typedef struct ovik_status_condition {
  unsigned bit;
  const char *reason;      /* "media-empty" */
  const char *cups_reason; /* "media-empty-error" */
  const char *text;        /* "Printer is out of paper" */
  const char *text_zh;
  int job_waits; /* 1: the printer cannot print while it holds */
} ovik_status_condition;

/* The conditions, most urgent first. */
const ovik_status_condition *ovik_status_conditions(size_t *count);

/* The most urgent condition of a set, or NULL for none. */
const ovik_status_condition *ovik_status_first(unsigned conditions);

/* The conditions of a set under which a job waits. */
unsigned ovik_status_waiting(unsigned conditions);

/* ---------- the policy ---------- */

/* A reply is awaited this long. */
#define OVIK_STATUS_REPLY_MS 1000
/* A job spends at most this long in all waiting for replies that never
 * come; then it prints on without asking. */
#define OVIK_STATUS_SILENCE_BUDGET_MS 2000
/* While a condition keeps a job waiting, the printer is asked again this often. */
#define OVIK_STATUS_RECHECK_MS 1000
/* Between jobs: a printer that answers is asked this often; one that does
 * not, twice as long after each silence, up to the longest interval. */
#define OVIK_STATUS_IDLE_MS 2000
#define OVIK_STATUS_IDLE_LONGEST_MS 60000

/* ---------- the query ---------- */

/* The way to the printer and back, the caller's. */
typedef struct ovik_status_port {
  /* Sends the request bytes to the printer: 0; OVIK_STATUS_SEND_LEFT_OUT when
   * they went but what was sent before them has not reached the printer
   * yet (the query is left out, its late replies dropped before the next);
   * any other value when they could not go. */
  int (*send)(void *context, const uint8_t *data, size_t length);
  /* Waits at most timeout_ms for one byte from the printer: 1 with the byte,
   * 0 when none came in time, -1 when the way back is broken. */
  int (*read_byte)(void *context, int timeout_ms, uint8_t *byte);
  /* Drops bytes that arrived unasked (late replies, automatic status); may be NULL. */
  void (*discard)(void *context);
  void *context;
  /* Told when a query begins, before its first request; may be NULL. */
  void (*begin)(void *context);
} ovik_status_port;

/* What a port's send returns for a query the printer cannot take yet. */
#define OVIK_STATUS_SEND_LEFT_OUT 2

/* Results of a status query. */
#define OVIK_STATUS_ANSWERED 0     /* *found holds the conditions */
#define OVIK_STATUS_NO_REPLY 1     /* a reply did not come within the timeout */
#define OVIK_STATUS_BAD_REPLY 2    /* a reply failed its fixed bits: nothing is believed */
#define OVIK_STATUS_BROKEN 3       /* the request could not be sent or the way back is broken */
#define OVIK_STATUS_LEFT_OUT 4     /* the printer has not taken what was sent before: not asked this time */
#define OVIK_STATUS_UNSUPPORTED -3 /* the printer class has no status requests */

/* Asks the printer for its condition: real-time status requests (DLE EOT 1,
 * 2 and 4), one reply byte each, each awaited at most reply_timeout_ms.
 * *waited_ms receives the time spent waiting for replies that did not come. */
int ovik_status_query(uint32_t printer_class, const ovik_status_port *port, int reply_timeout_ms, unsigned *found,
                      int *waited_ms);

/* As ovik_status_query, for a front end that must know the printer has read
 * everything sent before the query: a reply that has not come within
 * reply_timeout_ms is awaited again for as long as keep_waiting(context,
 * waited_ms) returns nonzero, without asking again (a second request would
 * make the late reply look like the answer to it). */
int ovik_status_query_patient(uint32_t printer_class, const ovik_status_port *port, int reply_timeout_ms,
                              int (*keep_waiting)(void *context, int waited_ms), void *context, unsigned *found);

/* The conditions that four flags of the reply parsers (positions 4 to 7:
 * offline, cover open, paper near end, paper end) say hold. */
unsigned ovik_status_from_flags(const uint8_t flags[8]);

/* ---------- one job's status ---------- */

/* What a front end knows of the printer's condition during one job, and the
 * job's silence budget. */
typedef struct ovik_status_job {
  uint32_t printer_class;
  const ovik_status_port *port;
  int asking;    /* 1 while status queries are on for this job */
  int budget_ms; /* silence still allowed */
  unsigned held; /* the conditions last found */
  int known;     /* 1 once a query of this job was answered */
  /* Told of every answer: the conditions before and now, and whether this
   * was the job's first answer. May be NULL. */
  void (*report)(void *context, unsigned before, unsigned now, int first);
  /* Told once when the job stops asking, with the reason in words. May be NULL. */
  void (*gave_up)(void *context, const char *why);
  /* Nonzero when the job is cancelled: a waiting job stops waiting. May be NULL. */
  int (*cancelled)(void *context);
  /* Sleeps between the queries of a waiting job, at most ms: the front end's
   * own wait (a signal or a cancel may end it early). */
  void (*pause)(void *context, int ms);
  /* For a front end that must know the printer has read all it was sent:
   * once the printer has answered in this job, a late reply is awaited as
   * long as this returns nonzero (ovik_status_query_patient), instead of
   * counting against the silence budget. May be NULL. */
  int (*keep_waiting)(void *context, int waited_ms);
  void *context;
} ovik_status_job;

/* Starts a job's status on port with the policy's budget (asking is off
 * when port is NULL). */
void ovik_status_job_begin(ovik_status_job *job, uint32_t printer_class, const ovik_status_port *port);

/* One query within the job's budget: reported when answered, asking ended
 * for a class without status requests, a broken way back or a budget used
 * up. The query's result. */
int ovik_status_job_ask(ovik_status_job *job);

/* Asks, and while a condition holds under which the printer cannot print,
 * asks again every OVIK_STATUS_RECHECK_MS until it clears or the job is
 * cancelled. The conditions last found. */
unsigned ovik_status_job_check(ovik_status_job *job);

/* ---------- between jobs ---------- */

/* When to ask a printer that no job is using: soon after an answer, and
 * less and less often while it stays silent. Times in milliseconds of the
 * caller's monotonic clock. */
typedef struct ovik_status_pacing {
  long long next_ms; /* no query before this time */
  int silences;      /* queries in a row that got no answer */
} ovik_status_pacing;

/* True when a query is due at now_ms. */
int ovik_status_due(const ovik_status_pacing *pacing, long long now_ms);

/* Records a query's outcome at now_ms. */
void ovik_status_paced(ovik_status_pacing *pacing, int answered, long long now_ms);

#ifdef __cplusplus
}
#endif

#endif
