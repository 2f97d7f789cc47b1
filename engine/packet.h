/*
 * packet.h - the framed packets of the printer stream: magic, kind, body
 * length, body and CRC. Page images and two document settings travel in them.
 */
#ifndef OVIK_ENGINE_PACKET_H
#define OVIK_ENGINE_PACKET_H

#include <cstdint>

#include "job.h"

/* Pages larger than this are refused: far beyond any receipt or label, and a
 * tiny compressed raster must not be able to make the filter hold gigabytes.
 * It also keeps a bitmap packet's 32-bit length fields (L and L + 12) exact. */
constexpr uint64_t max_page_bytes = 256u << 20;
static_assert(max_page_bytes + 12 <= UINT32_MAX, "a page's bitmap packet must be framable");

/* The packet CRC: zlib's crc32 of length bytes continued from previous
 * (packets start from 0xFFFFFFFF). */
uint32_t packet_crc32(uint32_t previous, const uint8_t *data, uint64_t length);

/* Document packets. */
void send_density_packet(ovik_printer_dev *job, int density);
void send_paper_type_packet(ovik_printer_dev *job, int papertype);
void send_doc_start_packet(ovik_printer_dev *job);

/* Paper code of the paper type packet, and the page flags of a page header. */
uint8_t paper_code(int papertype);
uint8_t page_flags(const dev_mode &settings);

/* One page copy: its header packet (numbered by siId) and its bitmap packet
 * of the top rows (numbered by siId1), or of the spans of rows given, joined. */
void send_page_header_packet(ovik_printer_dev *job, uint32_t bytes_per_line, uint64_t rows, uint8_t flags);
void printbitmap(ovik_printer_dev *job, const uint8_t *data, uint32_t bytes_per_line, uint64_t rows);
void printbitmap_spans(ovik_printer_dev *job, const uint8_t *data, uint32_t bytes_per_line, const row_span *spans,
                       size_t count);

#endif
