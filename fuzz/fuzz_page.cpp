/*
 * fuzz_page.cpp - the per-page path on arbitrary raster bytes: header read
 * and dump, pixel read, paper-save trim, packets and every copy's page end.
 *
 * Input: two setting bytes, then the raster stream. The settings bytes pick
 * paper saving, post-print action, paper type, feed-step model, trace, cut
 * distance, paper-save quarters, cut mode and resolution, and (from both
 * bytes) the top margin and gap length of the top and gap trim, so the page
 * end steps run with in-range and out-of-range values alike.
 *
 * Kept small for speed, and said here: at most 8 pages, at most 3 copies of
 * each (NumCopies is taken modulo 4), and a 1-bit page above 1 MiB ends the
 * input (the filter holds up to 256 MiB; pages above that, and pages that
 * are not 1 bit per pixel, still go to the filter, which refuses them).
 */
#include <climits>
#include <cstring>

#include "fuzz_support.h"
#include "job.h"
#include "packet.h"
#include "spooler.h"

namespace {

struct memory_input {
  const uint8_t *data;
  size_t left;
};

/* libcups read callback over the fuzz input. */
ssize_t read_memory(void *ctx, unsigned char *buffer, size_t length)
{
  auto *in = static_cast<memory_input *>(ctx);
  size_t n = std::min(length, in->left);
  std::memcpy(buffer, in->data, n);
  in->data += n;
  in->left -= n;
  return static_cast<ssize_t>(n);
}

constexpr int32_t cut_distances[] = {-1, 0, 10, 40, 100000, INT_MAX, INT_MIN, -5};
constexpr int32_t cut_modes[] = {0, 1, 2, 67};
constexpr int32_t top_margins[] = {-1, 0, 2, 5, 100000, INT_MAX, INT_MIN, 1};
constexpr int32_t gap_lengths[] = {0, 1, 5, INT_MAX};
constexpr uint64_t fuzz_page_limit = 1u << 20;

/* Settings from the two leading bytes. */
void pick_settings(dev_mode &s, uint8_t a, uint8_t b)
{
  s.papersavebottom = a & 1;
  s.postprintaction = (a >> 1) & 3;
  s.papertype = (a >> 3) & 7;
  if (a & 0x40)
    s.model = model_feed_step_1;
  s.cutdistance = cut_distances[b & 7];
  s.papersavemode = (b >> 3) & 3;
  s.finalcut = cut_modes[(b >> 5) & 3];
  s.papersavetop = top_margins[(a ^ b) & 7];
  s.papersavegap = gap_lengths[((a >> 4) ^ (b >> 3)) & 3];
  if (b & 0x80) {
    s.resolution = 1;
    s.dot_unit = 25.4f;
  }
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
  if (size < 2)
    return 0;
  dev_mode settings;
  init_dev_mode(&settings);
  pick_settings(settings, data[0], data[1]);
  static FILE *null_trace = fopen("/dev/null", "w");
  memory_job m(settings, data[0] & 0x80 ? null_trace : nullptr);
  if (m.created != 0)
    fuzz_fail("default settings refused");
  memory_input in = {data + 2, size - 2};

  size_t copies_sent = 0;
  cups_raster_t *ras = cupsRasterOpenIO(read_memory, &in, CUPS_RASTER_READ);
  if (!ras)
    return 0;
  cups_page_header_t header;
  for (int page = 0; page < 8 && cupsRasterReadHeader(ras, &header); page++) {
    uint64_t bytes = uint64_t(header.cupsBytesPerLine) * header.cupsHeight;
    if (header.cupsBitsPerPixel == 1 && bytes > fuzz_page_limit && bytes <= max_page_bytes)
      break;
    header.NumCopies %= 4;
    dump_header(header);
    // What the filter does with a page: refused, cut short, or sent whole.
    ovik_page p = {header.cupsWidth, header.cupsHeight, header.cupsBytesPerLine, header.cupsBitsPerPixel,
                   header.NumCopies};
    if (ovik_page_start(m.job, &p) != 0)
      break;
    if (cupsRasterReadPixels(ras, ovik_page_pixels(m.job), unsigned(bytes)) != bytes)
      break;
    if (ovik_page_end(m.job) != 0)
      fuzz_fail("a page to memory failed: " + std::string(ovik_job_error(m.job)));
    copies_sent += ovik_page_copies(&p);
  }
  cupsRasterClose(ras);

  size_t bitmaps = check_printer_stream(m.bytes());
  if (bitmaps != copies_sent)
    fuzz_fail("sent " + std::to_string(bitmaps) + " bitmap packets for " + std::to_string(copies_sent) +
              " page copies");
  return 0;
}
