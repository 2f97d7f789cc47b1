/*
 * page.h - page rendering: the paper-save trim and the copies of a page.
 */
#ifndef OVIK_ENGINE_PAGE_H
#define OVIK_ENGINE_PAGE_H

#include <cstdint>

/* Drops the blank rows at the bottom of a page (only the whole bytes inside
 * width dots are tested); data_size and row_count are updated in place. */
void DoSavePaper(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count);

#endif
