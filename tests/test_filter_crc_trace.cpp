// The fast paths of the bitmap packet: the packet CRC (ISA-L's carry-less
// multiply) must equal zlib's crc32 at every length, alignment and start
// value, and the hex trace built in memory must read, for a whole job, exactly
// as "0x%x " of every byte that reached the printer.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "filter_harness.h"
#include "ovik_printer_model.h"
#include "packet.h"

using namespace harness;

namespace {

/* Bytes of a noisy page: a fixed pseudo-random sequence with zero runs. */
bytes noise(size_t n, uint32_t seed)
{
  bytes b(n);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1664525u + 1013904223u;
    b[i] = (seed >> 29) < 3 ? 0 : static_cast<uint8_t>(seed >> 21);
  }
  return b;
}

uint32_t zlib_crc(uint32_t previous, const uint8_t *data, size_t n)
{
  return static_cast<uint32_t>(crc32(previous, data, static_cast<uInt>(n)));
}

TEST(PacketCrc, EqualsZlibAtEveryLengthAroundTheFoldingSizes)
{
  bytes data = noise(1200, 7);
  for (size_t n = 0; n <= 1100; n++)
    ASSERT_EQ(packet_crc32(0xFFFFFFFFu, data.data(), n), zlib_crc(0xFFFFFFFFu, data.data(), n)) << "length " << n;
}

TEST(PacketCrc, EqualsZlibAtEveryAlignmentAndStartValue)
{
  bytes data = noise(300000, 11);
  for (uint32_t previous : {0xFFFFFFFFu, 0u, 0x12345678u})
    for (size_t offset = 0; offset < 16; offset++)
      for (size_t n : {128u, 143u, 4096u, 288000u})
        ASSERT_EQ(packet_crc32(previous, data.data() + offset, n), zlib_crc(previous, data.data() + offset, n))
            << "previous " << previous << ", offset " << offset << ", length " << n;
}

TEST(PacketCrc, ContinuesAcrossPiecesLikeOneRun)
{
  bytes data = noise(5000, 13);
  uint32_t whole = zlib_crc(0xFFFFFFFFu, data.data(), data.size());
  for (size_t cut : {0u, 1u, 127u, 128u, 129u, 2500u, 4999u})
    EXPECT_EQ(packet_crc32(packet_crc32(0xFFFFFFFFu, data.data(), cut), data.data() + cut, data.size() - cut), whole)
        << "cut at " << cut;
}

TEST(PacketCrc, AllZerosAndAllOnes)
{
  for (uint8_t fill : {0x00, 0xFF}) {
    bytes data(4000 * 72, fill);
    EXPECT_EQ(packet_crc32(0xFFFFFFFFu, data.data(), data.size()), zlib_crc(0xFFFFFFFFu, data.data(), data.size()));
  }
}

TEST(PacketCrc, AReceiptPageGoesOutAsTheStreamFormatSays)
{
  device d;
  bytes rows = noise(4000 * 72, 17);
  bytes out = d.printed([&] { printbitmap(d.job, rows.data(), 72, 4000); });
  EXPECT_STREAM(out, bitmap_packet(rows, 0));
}

/* "0x%x " of every byte, the trace's hex line for a block. */
std::string hex_line(const uint8_t *data, size_t n)
{
  std::string s;
  char one[8];
  for (size_t i = 0; i < n; i++) {
    snprintf(one, sizeof one, "0x%x ", data[i]);
    s += one;
  }
  return s;
}

TEST(JobTrace, EveryBlockOfAJobIsTracedAsTheBytesThePrinterGot)
{
  // Two pages of noisy rows, the second with two copies; each bitmap's hex
  // line is far longer than the writer's text buffer.
  page_spec first, second;
  first.height = 900;
  first.pixels = noise(first.size(), 19);
  second.height = 300;
  second.copies = 2;
  second.pixels = noise(second.size(), 23);
  temp_dir dir;
  write_text(dir.file("test.ppd"),
             ppd_text(ovik_printer_model_brief_find_by_id(0x1001)->name, {{"PostPrintAction", "3"}}));
  run_options o;
  o.args = {"1", "user", "title", "1", "CutPaperLength=10 CutMode=2"};
  o.env = {{"PPD", dir.file("test.ppd")}, {"OVIK_TRACE", dir.file("trace")}};
  o.input = make_raster({first, second});
  run_result r = run_filter(o);
  ASSERT_EQ(r.status, 0) << r.err;

  // Walk the trace's write_bytes blocks and the printer stream side by side.
  std::vector<std::string> l = lines(read_text(dir.file("trace")));
  size_t at = 0;
  std::vector<size_t> sizes;
  for (size_t i = 0; i < l.size(); i++) {
    int n = -1;
    if (sscanf(l[i].c_str(), "+write_bytes start(data_size:%d):", &n) != 1)
      continue;
    ASSERT_LE(i + 2, l.size() - 1);
    ASSERT_LE(at + n, r.out.size());
    EXPECT_EQ(l[i + 1], hex_line(r.out.data() + at, n)) << "block at stream byte " << at;
    EXPECT_EQ(l[i + 2], "-write_bytes finished(writed:1).");
    sizes.push_back(static_cast<size_t>(n));
    at += n;
  }
  EXPECT_EQ(at, r.out.size()) << "the trace covers the whole printer stream";

  // Each page copy: header packet, bitmap packet less its CRC, the CRC.
  const size_t bitmap1 = first.size() + 26, bitmap2 = second.size() + 26;
  std::vector<size_t> copies;
  for (size_t i = 0; i + 2 < sizes.size(); i++)
    if (sizes[i] == 32 && (sizes[i + 1] == bitmap1 || sizes[i + 1] == bitmap2) && sizes[i + 2] == 4)
      copies.push_back(sizes[i + 1]);
  EXPECT_EQ(copies, (std::vector<size_t>{bitmap1, bitmap2, bitmap2}));
}

} // namespace
