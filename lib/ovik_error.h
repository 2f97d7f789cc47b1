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
#define OVIK_SUCCESS                 0
#define OVIK_ERR_PARAMETER          -1
#define OVIK_ERR_BUFFER             -2
#define OVIK_ERR_PRINTER_CLASS      -3
#define OVIK_ERR_NOT_SUPPORTED      -4
#define OVIK_ERR_HANDLE             -6
#define OVIK_ERR_NOT_IMPLEMENTED    -7
#define OVIK_ERR_MODEL              -8
#define OVIK_ERR_MEMORY             -9
#define OVIK_ERR_MALFORMED_REPLY   -30

int32_t ovik_get_last_error(void);
void ovik_set_last_error(int32_t code);

/* Copies text with its terminator when it fits in size bytes: 0, else -2. */
int cpystr(char *destination, int size, const char *text);

/* The library's own text of a code (negative codes and 0; others fall back). */
int format_ovik_error(int code, char *destination, int size, int language, int *out_length);
int format_ovik_error_wchar(int code, wchar_t *destination, int capacity, int language,
                            int *out_length);

/* As above, but positive codes are C library error numbers (strerror_r). */
int format_error(int code, char *destination, int size, int language, int *out_length);
int format_error_wchar(int code, wchar_t *destination, int capacity, int language,
                       int *out_length);

/* Clears buffer[offset..end) and writes the text of code at buffer+offset.
 * offset and end count bytes for both forms. Returns the formatting result. */
int ovik_format_error_ansi(int code, int language, char *buffer, int offset, int end);
int ovik_format_error_wchar(int code, int language, wchar_t *buffer, int offset, int end);

#ifdef __cplusplus
}
#endif

#endif
