/*
 * rastertoovik.h - the raster driver: packets on the printer stream and the
 * rendering of a raster page into them.
 */
#ifndef OVIK_RASTERTOOVIK_H
#define OVIK_RASTERTOOVIK_H

#include <csignal>
#include <cstdint>
#include <cups/raster.h>

#include "devmode.h"

/* Raised by SIGTERM; the job loop looks at it between pages. */
extern volatile sig_atomic_t cancel_flag;

/* Sequence numbers of page header packets and of bitmap packets. */
extern int siId;
extern int siId1;

/* Pages larger than this are refused: far beyond any receipt or label, and a
 * tiny compressed raster must not be able to make the filter hold gigabytes.
 * It also keeps a bitmap packet's 32-bit length fields (L and L + 12) exact. */
constexpr uint64_t max_page_bytes = 256u << 20;
static_assert(max_page_bytes + 12 <= UINT32_MAX, "a page's bitmap packet must be framable");

/* The packet CRC: zlib's crc32 of length bytes continued from previous
 * (packets start from 0xFFFFFFFF). */
uint32_t packet_crc32(uint32_t previous, const uint8_t *data, uint64_t length);

/* Document packets. */
void send_density_packet(int density);
void send_paper_type_packet(int papertype);
void send_doc_start_packet();

/* Paper code of the paper type packet, and the page flags of a page header. */
uint8_t paper_code(int papertype);
uint8_t page_flags(const dev_mode *settings);

/* One page copy: its header packet and its bitmap packet. */
void send_page_header_packet(uint32_t bytes_per_line, uint64_t rows, uint8_t flags);
void printbitmap(const uint8_t *data, uint32_t bytes_per_line, uint64_t rows);

/* Drops the blank rows at the bottom of a page (only the whole bytes inside
 * width dots are tested); data_size and row_count are updated in place. */
void DoSavePaper(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count);

/* Reads one page's pixels and sends all its copies. */
void process_page(ovik_printer_dev *device, const cups_page_header_t *header, cups_raster_t *ras);

#endif
