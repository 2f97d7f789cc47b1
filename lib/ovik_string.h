/*
 * ovik_string.h - narrow/wide conversion and an in-place list walker.
 *
 * Usable from C and C++.
 */
#ifndef OVIK_STRING_H
#define OVIK_STRING_H

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Narrow (current LC_CTYPE multibyte) to wide. capacity counts wide characters
 * including the terminator. language 4 first switches LC_CTYPE to "zh_CN.utf8".
 * 0, -1 (not convertible) or -2 (capacity too small); out_length excludes the
 * terminator. source_length is not consulted. A null destination or source
 * gives -1. On failure the destination and out_length are left untouched. */
int a2w(wchar_t *destination, int capacity, const char *source, int source_length, int language, int *out_length);

/* Wide to narrow; capacity counts bytes including the terminator. */
int w2a(char *destination, int capacity, const wchar_t *source, int source_length, int language, int *out_length);

/* get_item flags */
#define GET_ITEM_SKIP_LEADING_SPACES 1
#define GET_ITEM_CLEAR_TRAILING_SPACES 2

/* Returns the next item of a separated list held in buffer (modified in place),
 * advancing *cursor; NULL when the list is exhausted (or for no buffer, no
 * cursor or a negative cursor). A zero separator makes the rest one item. */
char *get_item(char *buffer, int *cursor, char separator, int flags);

#ifdef __cplusplus
}
#endif

#endif
