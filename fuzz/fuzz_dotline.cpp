/*
 * fuzz_dotline.cpp - PackBits row compression round trip, and dot-line
 * raster output cut into sections.
 *
 * Input: two bytes of row width (1..512), a selector (bit 0 left shift, bit 1
 * compression, bit 2 feed-step model, bit 3 a class word without the command
 * set), the printer width in bytes (twice the byte) and the section height,
 * then the rows. The compressed rows must decode back to the rows, and the
 * sections must carry every dot inside the printer width, unchanged.
 */
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "decoder.h"
#include "job.h"
#include "print.h"

namespace {

/* Decodes the PackBits output row by row, independently of the encoder. */
void check_packbits(const uint8_t *rows, uint32_t width, uint32_t count)
{
  std::vector<uint8_t> packed(2 * size_t(width) * count + 8);
  int length = -1;
  tiff_compression(rows, width, count, packed.data(), &length);
  if (length < 0 || size_t(length) > 2 * size_t(width) * count)
    fuzz_fail("PackBits output of " + std::to_string(length) + " bytes");
  size_t at = 0;
  for (uint32_t r = 0; r < count; r++) {
    std::vector<uint8_t> row;
    while (row.size() < width) {
      if (at >= size_t(length))
        fuzz_fail("PackBits output ends inside row " + std::to_string(r));
      uint8_t h = packed[at++];
      if (h == 0x80)
        fuzz_fail("PackBits output holds the header 0x80");
      size_t n = h < 0x80 ? h + 1u : 257u - h;
      if (at + (h < 0x80 ? n : 1) > size_t(length))
        fuzz_fail("PackBits piece runs past the output");
      for (size_t i = 0; i < n; i++)
        row.push_back(h < 0x80 ? packed[at + i] : packed[at]);
      at += h < 0x80 ? n : 1;
    }
    if (row.size() != width || std::memcmp(row.data(), rows + size_t(r) * width, width) != 0)
      fuzz_fail("PackBits row " + std::to_string(r) + " does not decode to itself");
  }
  if (at != size_t(length))
    fuzz_fail("PackBits output has bytes after the last row");
}

/* The sections on the stream carry every row, and every dot left of limit
 * lies inside what its section sent, unchanged. */
void check_sections(std::span<const uint8_t> stream, const uint8_t *rows, int width, int count, int limit)
{
  check_printer_stream(stream);
  decode_result d = decode_stream(stream);
  int row = 0;
  uint32_t margin = 0;
  bool margin_set = false;
  for (const decode_record &rec : d.records) {
    if (rec.effect == paper_effect::left_margin) {
      margin = record_param(rec, "n", 0);
      margin_set = true;
      continue;
    }
    if (rec.effect != paper_effect::raster)
      continue;
    uint32_t skip = margin_set ? margin : 0;
    margin_set = false;
    size_t at = rec.data_offset;
    std::vector<uint8_t> sent(rec.row_bytes);
    for (uint32_t r = 0; r < rec.rows; r++, row++) {
      if (row >= count)
        fuzz_fail("more rows sent than given");
      if (rec.compressed) {
        at += packbits_decode_row(stream.data() + at, rec.data_offset + rec.data_length - at, sent.data(), sent.size())
                  .consumed;
      } else if (!sent.empty()) {
        std::memcpy(sent.data(), stream.data() + at, sent.size());
        at += sent.size();
      }
      const uint8_t *given = rows + size_t(row) * width;
      for (int c = 0; c < width; c++) {
        bool inside = uint32_t(c) >= skip && uint32_t(c) < skip + rec.row_bytes;
        uint8_t got = inside ? sent[c - skip] : 0;
        if (c < limit && got != given[c])
          fuzz_fail("row " + std::to_string(row) + " byte " + std::to_string(c) + " sent as " + std::to_string(got) +
                    ", given " + std::to_string(given[c]));
      }
    }
  }
  if (row != count)
    fuzz_fail("sent " + std::to_string(row) + " rows of " + std::to_string(count));
}

} // namespace

/* Once per process: quiet status lines (and what the harness sets up). */
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  quiet_status_lines();
  return 0;
}

/* One input. */
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 5)
    return 0;
  int width = 1 + (data[0] | data[1] << 8) % 512;
  uint8_t select = data[2];
  dev_mode s;
  init_dev_mode(&s);
  s.issupportshiftline = select & 1;
  s.compression = select >> 1 & 1;
  if (select & 4)
    s.model = model_feed_step_1;
  if (select & 8)
    s.type &= ~1u;
  s.printer_width = data[3] * 2;
  s.max_render_height = data[4];
  data += 5;
  size -= 5;
  int count = static_cast<int>(std::min<size_t>(size / width, 4096));
  if (count == 0)
    return 0;

  check_packbits(data, uint32_t(width), uint32_t(count));

  memory_job m(s);
  if (m.created != 0)
    fuzz_fail("settings of a printer_width below 512 refused");
  m.out.clear(); // only the sections
  if (print_dotline(m.job, data, width, count) == OVIK_JOB_ERR_DOTLINE) {
    check_printer_stream(m.bytes());
    return 0;
  }
  int limit = std::min(s.printer_width, width);
  check_sections(m.bytes(), data, width, count, limit);
  return 0;
}
