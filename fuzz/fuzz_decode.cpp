/*
 * fuzz_decode.cpp - the stream decoder on arbitrary printer streams: records,
 * listing lines, the summary and the rendered paper.
 *
 * The records must tile the input from its first byte, in order, each with
 * its data inside it, up to the end or to a stop record; the render stays
 * within its pixel cap.
 */
#include <string>

#include "fuzz_support.h"
#include "decoder.h"

/* One input. */
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::span<const uint8_t> bytes(data, size);
  decode_result d = decode_stream(bytes);
  size_t end = 0;
  for (const decode_record &rec : d.records) {
    if (rec.offset != end)
      fuzz_fail("record at " + std::to_string(rec.offset) + " after one ending at " + std::to_string(end));
    format_record(rec, bytes);
    if (rec.type == record_type::stop) {
      end = size;
      break;
    }
    if (rec.length == 0 || rec.offset + rec.length > size)
      fuzz_fail("record of " + std::to_string(rec.length) + " bytes at " + std::to_string(rec.offset));
    if (rec.data_length &&
        (rec.data_offset < rec.offset || rec.data_offset + rec.data_length > rec.offset + rec.length))
      fuzz_fail("record data outside its record at " + std::to_string(rec.offset));
    end = rec.offset + rec.length;
  }
  if (end != size)
    fuzz_fail("records end at " + std::to_string(end) + " of " + std::to_string(size));
  format_summary(d.summary);

  render_options options;
  options.max_pixels = size_t(1) << 20;
  render_bitmap paper = render_records(d, bytes, options);
  if (paper.pixels.size() > options.max_pixels || paper.pixels.size() != size_t(paper.width) * paper.height)
    fuzz_fail("rendered " + std::to_string(paper.pixels.size()) + " pixels for " + std::to_string(paper.width) + " x " +
              std::to_string(paper.height));
  return 0;
}
