/*
 * packet.cpp - packet framing and the packet CRC.
 */
#include "packet.h"

#include <algorithm>
#include <array>
#include <isa-l/crc.h>
#include <span>

namespace {

/* Packet kinds, and the six fixed bytes that follow the kind in each. */
enum packet_kind : uint8_t { density_kind, paper_kind, doc_start_kind, page_header_kind, bitmap_kind };
using fixed_bytes = std::array<uint8_t, 6>;
constexpr fixed_bytes plain_fixed = {0x01, 0, 0, 0, 0, 0};
constexpr fixed_bytes paper_fixed = {0x01, 0x01, 0x01, 0, 0, 0};
constexpr fixed_bytes bitmap_fixed = {0x02, 0, 0, 0, 0, 0};

constexpr size_t head_size = 14;
constexpr uint32_t packet_crc_start = 0xFFFFFFFF;

/* Stores v little-endian in n bytes. */
void put_le(uint8_t *out, uint64_t v, int n)
{
  for (int i = 0; i < n; i++)
    out[i] = static_cast<uint8_t>(v >> (8 * i));
}

/* The first 14 bytes of a packet: magic, 0x01, kind, fixed bytes, body length. */
void fill_head(uint8_t *out, packet_kind kind, const fixed_bytes &fixed, uint32_t body_length)
{
  out[0] = 0x1B;
  out[1] = 0x1A;
  out[2] = 0x01;
  out[3] = kind;
  std::copy(fixed.begin(), fixed.end(), out + 4);
  put_le(out + 10, body_length, 4);
}

/* Builds a small packet around body, adds its CRC and sends it in one write. */
void send_packet(ovik_printer_dev *job, packet_kind kind, const fixed_bytes &fixed, std::span<const uint8_t> body)
{
  std::array<uint8_t, 64> packet{};
  size_t n = body.size();
  fill_head(packet.data(), kind, fixed, static_cast<uint32_t>(n));
  std::copy(body.begin(), body.end(), packet.begin() + head_size);
  uint32_t crc = packet_crc32(packet_crc_start, packet.data() + 2, head_size - 2 + n);
  put_le(packet.data() + head_size + n, crc, 4);
  write_bytes(job->out, packet.data(), static_cast<int>(head_size + n + 4));
}

} // namespace

/* The packet CRC: zlib's crc32 continued from previous. ISA-L computes it
 * with the processor's carry-less multiply, an order of magnitude faster than
 * zlib's table on page-sized runs, where it dominated the filter's own time. */
uint32_t packet_crc32(uint32_t previous, const uint8_t *data, uint64_t length)
{
  return crc32_gzip_refl(previous, data, length);
}

/* Density setting (code 0xCB) with the density's low byte. */
void send_density_packet(ovik_printer_dev *job, int density)
{
  const uint8_t body[] = {0x02, 0x00, 0x01, 0xCB, 0x00, 0x01, static_cast<uint8_t>(density)};
  send_packet(job, density_kind, plain_fixed, body);
}

/* Paper types 1 and 2 trade places on the wire; anything unknown is 0. */
uint8_t paper_code(int papertype)
{
  switch (papertype) {
  case 1:
    return 0x02;
  case 2:
    return 0x01;
  default:
    return 0x00;
  }
}

/* Paper type setting (code 0xCE). */
void send_paper_type_packet(ovik_printer_dev *job, int papertype)
{
  const uint8_t body[] = {0x02, 0x00, 0x01, 0xCE, 0x00, 0x01, paper_code(papertype)};
  send_packet(job, paper_kind, paper_fixed, body);
}

/* Document start: always the same body. */
void send_doc_start_packet(ovik_printer_dev *job)
{
  const uint8_t body[] = {0x0A, 0x00, 0x01, 0x00};
  send_packet(job, doc_start_kind, plain_fixed, body);
}

/* Page flags: the first matching rule decides. */
uint8_t page_flags(const dev_mode &s)
{
  if (s.papertype == 1 || s.papertype == 2)
    return 0x02;
  if (s.papertype == 0 && s.postprintaction == 1)
    return 0x04;
  if (s.papertype == 3)
    return 0x01;
  return 0x00;
}

/* Page header packet: bytes per line and rows (low 16 bits), flags, siId. */
void send_page_header_packet(ovik_printer_dev *job, uint32_t bytes_per_line, uint64_t rows, uint8_t flags)
{
  uint8_t body[14] = {0x05, 0x00, 0x01, 0x01};
  put_le(body + 4, bytes_per_line & 0xFFFF, 2);
  put_le(body + 6, rows & 0xFFFF, 2);
  body[8] = flags;
  body[9] = 0x01;
  body[10] = static_cast<uint8_t>(job->siId++);
  send_packet(job, page_header_kind, plain_fixed, body);
}

/* Bitmap packet of spans of rows of the page, joined. Header, rows and CRC
 * leave in turn, straight from the page buffer: the stream and the trace are
 * those of one block of L+26 bytes followed by the 4 CRC bytes. */
void printbitmap_spans(ovik_printer_dev *job, const uint8_t *data, uint32_t bytes_per_line, const row_span *spans,
                       size_t count)
{
  uint64_t rows = 0;
  for (size_t i = 0; i < count; i++)
    rows += spans[i].count;
  uint64_t length = static_cast<uint64_t>(bytes_per_line) * rows;
  uint8_t head[26] = {};
  fill_head(head, bitmap_kind, bitmap_fixed, static_cast<uint32_t>(length + 12));
  head[14] = 0x05;
  head[16] = static_cast<uint8_t>(job->siId1++);
  put_le(head + 22, length, 4);

  std::vector<out_piece> &packet = job->packet_parts;
  packet.assign(1, {head, sizeof head});
  uint32_t crc = packet_crc32(packet_crc_start, head + 2, sizeof head - 2);
  for (size_t i = 0; i < count; i++) {
    const uint8_t *at = data + spans[i].from * bytes_per_line;
    uint64_t n = spans[i].count * bytes_per_line;
    crc = packet_crc32(crc, at, n);
    packet.push_back({at, static_cast<size_t>(n)});
  }
  uint8_t crc_bytes[4];
  put_le(crc_bytes, crc, 4);

  write_bytes_parts(job->out, packet.data(), static_cast<int>(packet.size()));
  write_bytes(job->out, crc_bytes, 4);
  flush_output(job->out);
}

/* Bitmap packet of the top rows of the page. */
void printbitmap(ovik_printer_dev *job, const uint8_t *data, uint32_t bytes_per_line, uint64_t rows)
{
  const row_span top = {0, rows};
  printbitmap_spans(job, data, bytes_per_line, &top, 1);
}
