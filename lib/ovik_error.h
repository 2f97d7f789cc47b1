/*
 * ovik_error.h - error codes of the printer support library, their English
 * and Chinese texts, and the process-wide last error.
 *
 * Usable from C and C++.
 */
#ifndef OVIK_ERROR_H
#define OVIK_ERROR_H

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Language selectors: 4 picks the Chinese texts, every other value English. */
#define LANGUAGE_ENGLISH 0
#define LANGUAGE_CHINESE 4

/* Result codes shared by the whole library (0 success, negative failure). */
#define OVIK_SUCCESS 0
#define OVIK_ERR_PARAMETER -1
#define OVIK_ERR_BUFFER -2
#define OVIK_ERR_PRINTER_CLASS -3
#define OVIK_ERR_NOT_SUPPORTED -4
#define OVIK_ERR_HANDLE -6
#define OVIK_ERR_NOT_IMPLEMENTED -7
#define OVIK_ERR_MODEL -8
#define OVIK_ERR_MEMORY -9
#define OVIK_ERR_IMAGE_LOAD -21
#define OVIK_ERR_IMAGE_SIZE -25
#define OVIK_ERR_MALFORMED_REPLY -30
#define OVIK_ERR_IO_WRITE -321
#define OVIK_ERR_IO_READ -331
#define OVIK_ERR_IO_READ_TIMEOUT -332

int32_t ovik_get_last_error(void);
void ovik_set_last_error(int32_t code);

/* Copies text with its terminator when it fits in size bytes: 0, else -2. */
int cpystr(char *destination, int size, const char *text);

/* The library's own text of a code (negative codes and 0; others fall back).
 * The narrow form gives the stored GBK bytes and their byte count; -2 when the
 * text does not fit in size bytes. The wide form decodes the GBK text itself,
 * whatever the locale, and leaves the locale alone; capacity counts wide
 * characters with the terminator: 0, -1 (not decodable) or -2 (too small). */
int format_ovik_error(int code, char *destination, int size, int language, int *out_length);
int format_ovik_error_wchar(int code, wchar_t *destination, int capacity, int language, int *out_length);

/* As above, but positive codes are C library error numbers: their texts come
 * from the XSI strerror_r, whose nonzero result is passed through, and the
 * wide form converts them in the current locale with a2w. */
int format_error(int code, char *destination, int size, int language, int *out_length);
int format_error_wchar(int code, wchar_t *destination, int capacity, int language, int *out_length);

/* Clears buffer[offset..end) and writes the text of code at buffer+offset.
 * offset and end count bytes for both forms; the wide form has room for
 * (end - offset) / sizeof(wchar_t) wide characters and any byte offset.
 * Returns the formatting result, or -1 for no buffer, a negative offset or
 * an end below offset. */
int ovik_format_error_ansi(int code, int language, char *buffer, int offset, int end);
int ovik_format_error_wchar(int code, int language, wchar_t *buffer, int offset, int end);

#ifdef __cplusplus
}
#endif

#endif
