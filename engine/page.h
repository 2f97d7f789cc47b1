/*
 * page.h - page rendering: the paper-save trims and the copies of a page.
 */
#ifndef OVIK_ENGINE_PAGE_H
#define OVIK_ENGINE_PAGE_H

#include <cstdint>

/* Drops the blank rows at the bottom of a page (only the whole bytes inside
 * width dots are tested); data_size and row_count are updated in place. */
void DoSavePaper(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count);

/* Drops the blank rows above a page's first dot beyond top_rows (negative:
 * none), and shortens every blank run between two dots to gap_rows (0 or
 * less: none) by moving the rows below it up in place; returns the row
 * where the page now begins. data_size and row_count are updated. */
uint64_t DoSavePaperTop(uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count, int64_t top_rows,
                        int64_t gap_rows);

#endif
