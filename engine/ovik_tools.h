/*
 * ovik_tools.h - the printer tools: what a shop does with its printer outside
 * a print job. Store an image as a logo in the printer's NV graphics memory
 * (under the key codes a job's PrintLogo with that LogoIndex prints), list
 * and delete the stored graphics, ask what memory is left, open a cash
 * drawer, sound the beeper, print the printer's self-test page, and ask the
 * printer what it is (model ID and firmware).
 *
 * Every operation talks to the printer through the caller's port (the same
 * port as the status query: send bytes, read a byte with a deadline,
 * discard what came unasked), so CUPS's back channel, a PAPPL device or a
 * socket serve alike. An operation sends whole commands or nothing: it
 * checks everything it can before the first byte leaves. Results are the
 * library's codes (0, or a negative code with its English and Chinese texts
 * in ovik_error.h); a message buffer, when given, receives an English
 * sentence on what happened, success or not, for the front end to show.
 *
 * Usable from C and C++.
 */
#ifndef OVIK_TOOLS_H
#define OVIK_TOOLS_H

#include <stddef.h>
#include <stdint.h>

#include "ovik_engine.h"
#include "ovik_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A 1-bit image: height rows of bytes_per_line bytes, top row first, the
 * leftmost dot of a byte its high bit, 1 a black dot. Dots beyond width in a
 * row's last bytes are not part of the image. */
typedef struct ovik_bitmap {
  uint32_t width;          /* dots */
  uint32_t height;         /* rows */
  uint32_t bytes_per_line; /* at least (width + 7) / 8 */
  const uint8_t *rows;
} ovik_bitmap;

/* The rows of a page from its first to its last row with a dot: the page
 * less its blank rows above and below (height 0 for a blank page). */
ovik_bitmap ovik_bitmap_content(const ovik_bitmap *page);

/* Logo N is the NV graphic with key codes OVIK_LOGO_KEY_CODE_1 and
 * ovik_logo_key_code(N): "0" and "1" for logo 2. A job's PrintLogo with
 * LogoIndex N prints it. */
#define OVIK_LOGO_KEY_CODE_1 0x30
#define OVIK_LOGO_MIN 0
#define OVIK_LOGO_MAX 79 /* the last key code, 0x7E */

/* The second key code of logo N, N + 47; -1 beyond a byte. */
int ovik_logo_key_code(int32_t logo);

/* The tallest image the define command stores, in rows. */
#define OVIK_LOGO_MAX_ROWS 2304

/* One graphic in the printer's NV memory. */
typedef struct ovik_nv_graphic {
  uint8_t key_codes[2];
  int logo; /* the logo number of these key codes, or -1 when they are not a logo's */
} ovik_nv_graphic;

/* What a printer says it is. */
typedef struct ovik_identity {
  int model_id;    /* its model ID byte (GS I 1), or -1 without an answer */
  int firmware[3]; /* its firmware version (GS I A), -1 each without an answer */
} ovik_identity;

/* Every operation takes the printer as its settings describe it (the class
 * word, the print width, the beeper settings), the port, and a buffer for
 * the message (may be NULL). Operations that wait for replies wait at most
 * timeout_ms for each. */

/* Stores image as logo N: the define command is built whole in memory and
 * sent in one piece, or nothing is sent. Refused (OVIK_ERR_PARAMETER,
 * OVIK_ERR_IMAGE_SIZE) are a logo number outside OVIK_LOGO_MIN-OVIK_LOGO_MAX,
 * an image without rows or dots across, one wider than the printer, one
 * taller than OVIK_LOGO_MAX_ROWS. A graphic already stored under those key
 * codes is replaced. */
int ovik_tools_store_logo(const dev_mode *printer, const ovik_status_port *port, int32_t logo, const ovik_bitmap *image,
                          char *message, size_t size);

/* The checks ovik_tools_store_logo makes of the logo number and of an image
 * of width x height dots, for a front end that may refuse before it has the
 * image: 0, or the refusal with its message. */
int ovik_tools_check_logo(const dev_mode *printer, int32_t logo, uint32_t width, uint32_t height, char *message,
                          size_t size);

/* Lists the graphics in the NV memory into out (capacity entries); *count
 * receives how many the printer holds. OVIK_ERR_BUFFER when they are more
 * than capacity (the first capacity are stored). */
int ovik_tools_list_logos(const dev_mode *printer, const ovik_status_port *port, int timeout_ms, ovik_nv_graphic *out,
                          int capacity, int *count, char *message, size_t size);

/* Deletes logo N from the NV memory; with N = -1, every graphic there. */
int ovik_tools_delete_logo(const dev_mode *printer, const ovik_status_port *port, int32_t logo, char *message,
                           size_t size);

/* The NV graphics memory: bytes free and bytes in all. */
int ovik_tools_capacity(const dev_mode *printer, const ovik_status_port *port, int timeout_ms, int *free_bytes,
                        int *total_bytes, char *message, size_t size);

/* OVIK_SUCCESS for drawer 1 or 2, else OVIK_ERR_PARAMETER with the message. */
int ovik_tools_check_drawer(int drawer, char *message, size_t size);

/* Opens cash drawer 1 or 2 with the pulse a job's Drawer1 and Drawer2 send;
 * nothing else is sent. */
int ovik_tools_open_drawer(const dev_mode *printer, const ovik_status_port *port, int drawer, char *message,
                           size_t size);

/* Sounds the beeper with the settings' BeepRepeat, BeepDuration and BeepInterval. */
int ovik_tools_beep(const dev_mode *printer, const ovik_status_port *port, char *message, size_t size);

/* Prints the printer's own self-test page. */
int ovik_tools_self_test(const dev_mode *printer, const ovik_status_port *port, char *message, size_t size);

/* Asks the printer for its model ID and firmware version; what did not
 * come stays -1 (and the result says so). */
int ovik_tools_identify(const dev_mode *printer, const ovik_status_port *port, int timeout_ms, ovik_identity *out,
                        char *message, size_t size);

#ifdef __cplusplus
}
#endif

#endif
