/*
 * page.h - page rendering: the paper-save trims and the copies of a page.
 */
#ifndef OVIK_ENGINE_PAGE_H
#define OVIK_ENGINE_PAGE_H

#include <cstdint>
#include <vector>

#include "job.h"

/* Drops the blank rows at the bottom of a page (only the whole bytes inside
 * width dots are tested); data_size and row_count are updated in place. */
void DoSavePaper(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count);

/* The rows of a page that are sent, as spans of its buffer: the blank rows
 * above its first dot beyond top_rows (negative: none) left out, and every
 * blank run between two dots shortened to gap_rows (0 or less: none). The
 * buffer is not changed; data_size and row_count become those of the rows
 * kept. */
void DoSavePaperTop(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count, int64_t top_rows,
                    int64_t gap_rows, std::vector<row_span> &spans);

#endif
