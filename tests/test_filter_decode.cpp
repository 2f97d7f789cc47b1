// Printer stream decoder: packets, commands, sync, truncation, PackBits and rendering.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "decoder.h"
#include "print.h"

namespace {

using bytes_t = std::vector<uint8_t>;

// Bytes from hex text such as "1B 4A FF".
bytes_t hex(const std::string &text)
{
  bytes_t out;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (std::isxdigit(uint8_t(text[i])) && std::isxdigit(uint8_t(text[i + 1]))) {
      out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
      ++i;
    }
  return out;
}

// Concatenates byte strings.
bytes_t cat(std::initializer_list<bytes_t> parts)
{
  bytes_t out;
  for (const bytes_t &p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A packet from its bytes 0..13+n, with its CRC appended low byte first.
bytes_t with_crc(bytes_t packet)
{
  uint32_t crc = packet_crc(std::span(packet).subspan(2));
  for (int i = 0; i < 4; ++i)
    packet.push_back(uint8_t(crc >> (8 * i)));
  return packet;
}

// The listing of a stream: one line per record, then the summary.
std::vector<std::string> listing(const bytes_t &stream)
{
  decode_result decoded = decode_stream(stream);
  std::vector<std::string> lines;
  for (const decode_record &r : decoded.records)
    lines.push_back(format_record(r, stream));
  lines.push_back(format_summary(decoded.summary));
  return lines;
}

const bytes_t doc_start = hex("1B 1A 01 02 01 00 00 00 00 00 04 00 00 00 0A 00 01 00 56 E1 F2 96");
const bytes_t paper_type = hex("1B 1A 01 01 01 01 01 00 00 00 07 00 00 00 02 00 01 CE 00 01 00 12 CD 37 5B");
const bytes_t two_row_header =
    hex("1B 1A 01 03 01 00 00 00 00 00 0E 00 00 00 05 00 01 01 02 00 02 00 00 01 00 00 00 00 A7 9B 3F 10");
const bytes_t two_row_bitmap =
    hex("1B 1A 01 04 02 00 00 00 00 00 10 00 00 00 05 00 00 00 00 00 00 00 04 00 00 00 FF 00 0F F0 23 B2 B4 70");

// The packet CRC starts from 0xFFFFFFFF, so it differs from the common CRC-32.
TEST(PacketCrc, MatchesTheKnownValues)
{
  const std::pair<std::string, uint32_t> cases[] = {{"123456789", 0xD202D277}, {"abc", 0x359A672F}};
  for (const auto &[text, crc] : cases)
    EXPECT_EQ(packet_crc(std::span(reinterpret_cast<const uint8_t *>(text.data()), text.size())), crc) << text;
}

struct listed_case {
  const char *title;
  bytes_t stream;
  std::vector<std::string> lines;
};

class Listing : public testing::TestWithParam<listed_case> {};

TEST_P(Listing, ListsEveryRecord)
{
  EXPECT_EQ(listing(GetParam().stream), GetParam().lines);
}

const std::string quiet_tail = " pulses=0 beeps=0 logos=0 form_feeds=0";

INSTANTIATE_TEST_SUITE_P(
    Streams, Listing,
    testing::Values(
        listed_case{"document_start",
                    doc_start,
                    {"00000000  packet   document start (kind 2), 22 bytes; CRC 96F2E156 ok",
                     "summary: bytes=22 packets=1 crc_errors=0 page_headers=0 bitmaps=0 rows=0 width_bytes=0 "
                     "commands=0 raster_images=0 raster_rows=0 feed_rows=0 cuts_full=0 cuts_partial=0" +
                         quiet_tail + " unknown_bytes=0 sync_losses=0 problems=0 stop_offset=-1 paper_fed_mm=0.0"}},
        listed_case{"a_two_row_page",
                    cat({paper_type, doc_start, two_row_header, two_row_bitmap}),
                    {"00000000  packet   paper type (kind 1), 25 bytes: paper_code=0; CRC 5B37CD12 ok",
                     "00000019  packet   document start (kind 2), 22 bytes; CRC 96F2E156 ok",
                     "0000002F  packet   page header (kind 3), 32 bytes: bytes_per_line=2 rows=2 flags=0 seq=0; "
                     "CRC 103F9BA7 ok",
                     "0000004F  packet   bitmap (kind 4), 34 bytes: seq=0 data_bytes=4 rows=2 row_bytes=2; "
                     "CRC 70B4B223 ok",
                     "summary: bytes=113 packets=4 crc_errors=0 page_headers=1 bitmaps=1 rows=2 width_bytes=2 "
                     "commands=0 raster_images=0 raster_rows=0 feed_rows=0 cuts_full=0 cuts_partial=0" +
                         quiet_tail + " unknown_bytes=0 sync_losses=0 problems=0 stop_offset=-1 paper_fed_mm=0.3"}},
        listed_case{"page_header_of_72_by_100",
                    hex("1B 1A 01 03 01 00 00 00 00 00 0E 00 00 00 05 00 01 01 48 00 64 00 00 01 00 00 00 00 "
                        "F2 A5 23 8F"),
                    {"00000000  packet   page header (kind 3), 32 bytes: bytes_per_line=72 rows=100 flags=0 "
                     "seq=0; CRC 8F23A5F2 ok",
                     "summary: bytes=32 packets=1 crc_errors=0 page_headers=1 bitmaps=0 rows=0 width_bytes=72 "
                     "commands=0 raster_images=0 raster_rows=0 feed_rows=0 cuts_full=0 cuts_partial=0" +
                         quiet_tail + " unknown_bytes=0 sync_losses=0 problems=0 stop_offset=-1 paper_fed_mm=0.0"}},
        listed_case{"a_corrupted_crc_is_shown_wrong",
                    hex("1B 1A 01 02 01 00 00 00 00 00 04 00 00 00 0A 00 01 00 56 E1 F2 97"),
                    {"00000000  packet   document start (kind 2), 22 bytes; CRC WRONG: stored 97F2E156, "
                     "computed 96F2E156",
                     "summary: bytes=22 packets=1 crc_errors=1 page_headers=0 bitmaps=0 rows=0 width_bytes=0 "
                     "commands=0 raster_images=0 raster_rows=0 feed_rows=0 cuts_full=0 cuts_partial=0" +
                         quiet_tail + " unknown_bytes=0 sync_losses=0 problems=0 stop_offset=-1 paper_fed_mm=0.0"}},
        listed_case{"garbage_between_packets",
                    cat({doc_start, hex("41 42 43"), paper_type}),
                    {"00000000  packet   document start (kind 2), 22 bytes; CRC 96F2E156 ok",
                     "00000016  unknown  3 bytes: 41 42 43; sync lost at 0x00000016, regained at 0x00000019",
                     "00000019  packet   paper type (kind 1), 25 bytes: paper_code=0; CRC 5B37CD12 ok",
                     "summary: bytes=50 packets=2 crc_errors=0 page_headers=0 bitmaps=0 rows=0 width_bytes=0 "
                     "commands=0 raster_images=0 raster_rows=0 feed_rows=0 cuts_full=0 cuts_partial=0" +
                         quiet_tail + " unknown_bytes=3 sync_losses=1 problems=0 stop_offset=-1 paper_fed_mm=0.0"}},
        listed_case{"feed_step_strip_and_cuts",
                    hex("1B 4A FF 1B 4A FF 1B 4A 5A 1D 56 41 00 1D 56 42 00"),
                    {"00000000  command  ESC J print and feed n dot rows: n=255  [1B 4A FF]",
                     "00000003  command  ESC J print and feed n dot rows: n=255  [1B 4A FF]",
                     "00000006  command  ESC J print and feed n dot rows: n=90  [1B 4A 5A]",
                     "00000009  command  GS V feed n rows, full cut: n=0  [1D 56 41 00]",
                     "0000000D  command  GS V feed n rows, partial cut: n=0  [1D 56 42 00]",
                     "summary: bytes=17 packets=0 crc_errors=0 page_headers=0 bitmaps=0 rows=0 width_bytes=0 "
                     "commands=5 raster_images=0 raster_rows=0 feed_rows=600 cuts_full=1 cuts_partial=1" +
                         quiet_tail + " unknown_bytes=0 sync_losses=0 problems=0 stop_offset=-1 paper_fed_mm=75.1"}},
        listed_case{
            "document_commands",
            hex("1B 70 00 64 64 1B 70 01 50 50 1B 28 41 05 00 61 64 03 02 01 1B 61 01 "
                "1D 28 4C 06 00 30 45 30 30 01 01 1B 61 00 1D 45 2C 1D 28 4B 02 00 31 05 1B 33 20 0C "
                "1D 4C 03 00"),
            {"00000000  command  ESC p pulse on pin m (drawer or buzzer), t1/t2 x 2 ms: m=0 t1=100 t2=100"
             "  [1B 70 00 64 64]",
             "00000005  command  ESC p pulse on pin m (drawer or buzzer), t1/t2 x 2 ms: m=1 t1=80 t2=80"
             "  [1B 70 01 50 50]",
             "0000000A  command  ESC ( A beeper: r times, duration d, interval i: r=3 d=2 i=1"
             "  [1B 28 41 05 00 61 64 03 02 01]",
             "00000014  command  ESC a justification (0 left, 1 centre, 2 right): n=1  [1B 61 01]",
             "00000017  command  GS ( L print NV graphics: k1=48 k2=48 sx=1 sy=1"
             "  [1D 28 4C 06 00 30 45 30 30 01 01]",
             "00000022  command  ESC a justification (0 left, 1 centre, 2 right): n=0  [1B 61 00]",
             "00000025  command  GS E print speed: n=44  [1D 45 2C]",
             "00000028  command  GS ( K print density: n=5  [1D 28 4B 02 00 31 05]",
             "0000002F  command  ESC 3 line spacing n dots: n=32  [1B 33 20]",
             "00000032  command  FF form feed (print, next ticket)  [0C]",
             "00000033  command  GS L left margin n dots: n=3  [1D 4C 03 00]",
             "summary: bytes=55 packets=0 crc_errors=0 page_headers=0 bitmaps=0 rows=0 width_bytes=0 "
             "commands=11 raster_images=0 raster_rows=0 feed_rows=0 cuts_full=0 cuts_partial=0 pulses=2 "
             "beeps=1 logos=1 form_feeds=1 unknown_bytes=0 sync_losses=0 problems=0 stop_offset=-1 paper_fed_mm=0.0"}},
        listed_case{"a_huge_declared_length_stops_the_listing",
                    hex("1B 1A 01 04 02 00 00 00 00 00 F0 FF FF FF 05 00 00 00"),
                    {"00000000  STOP     input ends inside a packet at 0x00000000: 18 bytes present, at least "
                     "4294967298 needed",
                     "summary: bytes=18 packets=0 crc_errors=0 page_headers=0 bitmaps=0 rows=0 width_bytes=0 "
                     "commands=0 raster_images=0 raster_rows=0 feed_rows=0 cuts_full=0 cuts_partial=0" +
                         quiet_tail + " unknown_bytes=0 sync_losses=0 problems=0 stop_offset=0 paper_fed_mm=0.0"}},
        listed_case{"a_huge_compressed_raster_stops_the_listing",
                    hex("1B 4A 01 1D 76 30 20 FF FF FF FF 00 00 FE 00"),
                    {"00000000  command  ESC J print and feed n dot rows: n=1  [1B 4A 01]",
                     "00000003  STOP     input ends inside GS v 0 at 0x00000003: 12 bytes present, at least "
                     "131078 needed",
                     "summary: bytes=15 packets=0 crc_errors=0 page_headers=0 bitmaps=0 rows=0 width_bytes=0 "
                     "commands=1 raster_images=0 raster_rows=0 feed_rows=1 cuts_full=0 cuts_partial=0" +
                         quiet_tail + " unknown_bytes=0 sync_losses=0 problems=0 stop_offset=3 paper_fed_mm=0.1"}}),
    [](const auto &info) { return std::string(info.param.title); });

TEST(Decode, BlankStripOf600RowsIsThreeBlankRasterImages)
{
  bytes_t strip;
  for (uint8_t rows : {0xFF, 0xFF, 0x5A}) {
    strip = cat({strip, hex("1D 76 30 00 01 00"), {rows, 0x00}, bytes_t(rows, 0)});
  }
  ASSERT_EQ(strip.size(), 624u); // three 8-byte headers and 600 row bytes
  std::vector<std::string> lines = listing(strip);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "00000000  command  GS v 0 raster image: m=0 x=1 y=255, 255 data bytes, blank"
                      "  [1D 76 30 00 01 00 FF 00 +255]");
  EXPECT_EQ(lines[2], "0000020E  command  GS v 0 raster image: m=0 x=1 y=90, 90 data bytes, blank"
                      "  [1D 76 30 00 01 00 5A 00 +90]");
  decode_summary s = decode_stream(strip).summary;
  EXPECT_EQ(s.feed_rows, 600u);
  EXPECT_EQ(s.raster_images, 0u);
}

TEST(Decode, PageTrimmedToZeroRowsIsAnEmptyBitmap)
{
  bytes_t header = with_crc(hex("1B 1A 01 03 01 00 00 00 00 00 0E 00 00 00 05 00 01 01 48 00 00 00 00 01 00 00 00 00"));
  bytes_t bitmap = hex("1B 1A 01 04 02 00 00 00 00 00 0C 00 00 00 05 00 00 00 00 00 00 00 00 00 00 00 13 56 57 6F");
  std::vector<std::string> lines = listing(cat({header, bitmap}));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1],
            "00000020  packet   bitmap (kind 4), 30 bytes: seq=0 data_bytes=0 rows=0 row_bytes=72; CRC 6F575613 ok");
  EXPECT_NE(lines[2].find(" problems=0 stop_offset=-1"), std::string::npos) << lines[2];
}

TEST(Decode, MisfitPacketsAreNamedAsProblems)
{
  // A bitmap whose data length field disagrees and that follows no page header.
  bytes_t bitmap = with_crc(hex("1B 1A 01 04 02 00 00 00 00 00 0D 00 00 00 05 00 03 00 00 00 00 00 02 00 00 00 FF"));
  std::vector<std::string> lines = listing(bitmap);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("; problem: data length field 2, body carries 1; no page header before this bitmap"),
            std::string::npos)
      << lines[0];
  // A kind the format does not have, framed and checked: a packet only while its CRC holds.
  bytes_t odd = with_crc(hex("1B 1A 01 07 01 00 00 00 00 00 01 00 00 00 AA"));
  std::string line = listing(odd)[0];
  EXPECT_TRUE(line.starts_with("00000000  packet   unknown kind, 19 bytes: fixed=1 kind=7; CRC ")) << line;
  odd.back() ^= 1;
  line = listing(odd)[0];
  EXPECT_TRUE(line.starts_with("00000000  unknown  19 bytes: 1B 1A 01 07")) << line;
}

// A stream with a record of each shape; every prefix must decode to whole
// records followed, inside a record, by a stop at that record's offset.
TEST(Decode, EveryTruncationStopsAtTheRecordItCuts)
{
  bytes_t stream = cat({paper_type, doc_start, two_row_header, two_row_bitmap, hex("1B 4A 10 1D 56 41 00"),
                        hex("1D 76 30 20 02 00 02 00 01 FF 00 FF 0F 1B 28 41 05 00 61 64 01 01 01")});
  decode_result whole = decode_stream(stream);
  ASSERT_EQ(whole.summary.stop_offset, -1);
  ASSERT_EQ(whole.summary.unknown_bytes, 0u);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    bytes_t prefix(stream.begin(), stream.begin() + cut);
    decode_result part = decode_stream(prefix);
    size_t at = 0;
    for (const decode_record &r : part.records) {
      ASSERT_EQ(r.offset, at) << "cut " << cut;
      at += r.length;
    }
    EXPECT_EQ(at, cut);
    const decode_record *cut_record = nullptr;
    for (const decode_record &r : whole.records)
      if (r.offset < cut && cut < r.offset + r.length)
        cut_record = &r;
    if (!cut_record) {
      EXPECT_EQ(part.summary.stop_offset, -1) << "cut " << cut;
      continue;
    }
    ASSERT_FALSE(part.records.empty());
    const decode_record &last = part.records.back();
    EXPECT_EQ(last.type, record_type::stop) << "cut " << cut;
    EXPECT_EQ(last.offset, cut_record->offset) << "cut " << cut;
    EXPECT_EQ(part.summary.stop_offset, (long long)cut_record->offset);
    EXPECT_NE(format_record(last, prefix).find("STOP     input ends inside"), std::string::npos);
  }
}

// Random and mutated streams: no crash, and the records tile the input exactly.
TEST(Decode, BrokenInputAlwaysDecodesToRecordsCoveringIt)
{
  std::mt19937 random(7);
  bytes_t valid = cat({paper_type, doc_start, two_row_header, two_row_bitmap, hex("1B 4A FF 1D 56 42 00")});
  for (int round = 0; round < 400; ++round) {
    bytes_t input = valid;
    if (round % 2) {
      input.resize(random() % 300);
      for (uint8_t &b : input)
        b = uint8_t(random() % 4 ? random() : 0x1B + (random() % 3));
    } else {
      for (int k = 0; k < 3; ++k)
        input[random() % input.size()] = uint8_t(random());
    }
    decode_result decoded = decode_stream(input);
    size_t at = 0;
    for (const decode_record &r : decoded.records) {
      ASSERT_EQ(r.offset, at);
      ASSERT_GT(r.length, 0u);
      at += r.length;
    }
    ASSERT_EQ(at, input.size());
    render_options small;
    small.max_pixels = 1 << 16;
    EXPECT_LE(render_records(decoded, input, small).pixels.size(), small.max_pixels);
  }
}

struct packbits_case {
  bytes_t coded, row;
};

TEST(PackBits, DecodesTheDocumentedExamples)
{
  bytes_t ramp(128), last_of_129(129);
  for (int i = 0; i < 129; ++i)
    last_of_129[i] = uint8_t(i);
  std::copy_n(last_of_129.begin(), 128, ramp.begin());
  const packbits_case cases[] = {
      {hex("FF 01 01 02 03"), hex("01 01 02 03")},
      {hex("00 AA FE BB 01 CC DD"), hex("AA BB BB BB CC DD")},
      {hex("03 01 02 03 03"), hex("01 02 03 03")},
      {hex("00 01 FF 02 00 03"), hex("01 02 02 03")},
      {hex("F9 00"), bytes_t(8, 0)},
      {hex("81 5A 00 5A"), bytes_t(129, 0x5A)},
      {cat({hex("7F"), ramp, hex("00 80")}), last_of_129},
  };
  for (const packbits_case &c : cases) {
    bytes_t row(c.row.size(), 0xEE);
    packbits_row r = packbits_decode_row(c.coded.data(), c.coded.size(), row.data(), row.size());
    EXPECT_TRUE(r.complete);
    EXPECT_FALSE(r.overrun);
    EXPECT_EQ(r.consumed, c.coded.size());
    EXPECT_EQ(row, c.row);
  }
}

TEST(PackBits, ReportsShortSourcesAndRunsPastTheRow)
{
  bytes_t row(4);
  packbits_row short_source = packbits_decode_row(hex("03 01 02").data(), 3, row.data(), 4);
  EXPECT_FALSE(short_source.complete);
  packbits_row overrun = packbits_decode_row(hex("FB 07").data(), 2, row.data(), 4);
  EXPECT_TRUE(overrun.complete);
  EXPECT_TRUE(overrun.overrun);
  EXPECT_EQ(row, hex("07 07 07 07"));
}

// Whatever the row, tiff_compression's output decodes back to exactly that row.
TEST(PackBits, RoundTripsTheFilterCompressor)
{
  std::mt19937 random(11);
  std::vector<size_t> widths = {1, 2, 3, 127, 128, 129, 130, 255, 256, 257, 300};
  for (int i = 0; i < 60; ++i)
    widths.push_back(1 + random() % 600);
  for (size_t width : widths) {
    for (int shape = 0; shape < 6; ++shape) {
      const uint32_t rows = 3;
      bytes_t source(width * rows);
      for (size_t j = 0; j < source.size(); ++j)
        source[j] = uint8_t(random() % (shape + 2));
      // A run of equal bytes starting anywhere, as long as a whole row or more.
      size_t run_start = random() % source.size();
      size_t run_length = std::min(source.size() - run_start, size_t(random() % (width + 130)));
      std::fill_n(source.begin() + run_start, run_length, uint8_t(random()));
      bytes_t coded(2 * source.size() + 8);
      int coded_length = 0;
      ASSERT_EQ(tiff_compression(source.data(), uint32_t(width), rows, coded.data(), &coded_length), 0);
      ASSERT_LE(size_t(coded_length), 2 * source.size());
      bytes_t decoded(source.size());
      size_t at = 0;
      for (uint32_t r = 0; r < rows; ++r) {
        packbits_row row =
            packbits_decode_row(coded.data() + at, size_t(coded_length) - at, decoded.data() + r * width, width);
        ASSERT_TRUE(row.complete && !row.overrun) << "width " << width << " row " << r;
        at += row.consumed;
      }
      EXPECT_EQ(at, size_t(coded_length));
      ASSERT_EQ(decoded, source) << "width " << width;
    }
  }
}

// The canvas as text: '.' paper, '#' ink, '-' beyond the paper, 'C' full
// cut, 's' stored graphics not known, 'T' and 't' a graphic defined.
std::vector<std::string> picture(const render_bitmap &b)
{
  const char glyphs[] = ".#-XCpfsTt";
  std::vector<std::string> rows;
  for (uint32_t y = 0; y < b.height; ++y) {
    std::string row;
    for (uint32_t x = 0; x < b.width; ++x)
      row += glyphs[b.pixels[size_t(y) * b.width + x]];
    rows.push_back(row);
  }
  return rows;
}

// Decodes and renders a stream on paper of the given width (0: inferred).
render_bitmap render(const bytes_t &stream, uint32_t paper_width = 0)
{
  render_options options;
  options.paper_width = paper_width;
  return render_records(decode_stream(stream), stream, options);
}

TEST(Render, TwoRowPageGivesItsPixels)
{
  render_bitmap b = render(cat({paper_type, doc_start, two_row_header, two_row_bitmap}));
  EXPECT_EQ(b.paper_width, 16u);
  EXPECT_EQ(picture(b), (std::vector<std::string>{"########........", "....########...."}));
}

TEST(Render, CompressedRasterLandsAfterMarginAndJustification)
{
  // 8 dots of margin, then a centred one-byte image on 32-dot paper; a feed and a full cut.
  bytes_t stream = hex("1D 4C 08 00 1B 61 01 1D 76 30 20 01 00 02 00 00 F0 00 81 1B 4A 01 1D 56 41 00");
  EXPECT_EQ(picture(render(stream, 32)), (std::vector<std::string>{
                                             "................####............",
                                             "................#......#........",
                                             "................................",
                                             "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC",
                                             "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC",
                                             "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC",
                                         }));
}

TEST(Render, ContentWiderThanThePaperIsDrawnBeyondIt)
{
  bytes_t stream = hex("1D 76 30 00 02 00 01 00 81 81");
  EXPECT_EQ(picture(render(stream, 12)), std::vector<std::string>{"#......##...---X"});
}

TEST(Render, EndlessFeedsStopAtThePixelLimit)
{
  bytes_t stream;
  for (int i = 0; i < 1000; ++i)
    stream = cat({stream, hex("1D 76 30 00 00 00 FF FF")});
  render_options options;
  options.paper_width = 64;
  options.max_pixels = 64 * 5000;
  render_bitmap b = render_records(decode_stream(stream), stream, options);
  EXPECT_TRUE(b.clipped);
  EXPECT_EQ(b.height, 5000u);
  EXPECT_EQ(decode_stream(stream).summary.feed_rows, 65535000u);
}

// Graphics stored in the printer: a define shows its graphic as stored (not
// printed), a print draws what the memory holds at that point of the stream,
// justified and scaled as a raster image; what it does not hold is the band.
TEST(Render, StoredGraphicsAsTheMemoryHoldsThem)
{
  const bytes_t define_10x2 = hex("1D 28 4C 0F 00 30 43 30 30 31 01 0A 00 02 00 31 FF C0 81 40");
  const bytes_t define_column_2x10 = hex("1D 28 4C 0F 00 30 44 30 30 33 01 02 00 0A 00 31 FF C0 80 40");
  const bytes_t print_2 = hex("1D 28 4C 06 00 30 45 30 31 02 01"), print_4 = hex("1D 28 4C 06 00 30 45 30 33 01 01");
  const bytes_t print_3 = hex("1D 28 4C 06 00 30 45 30 32 01 01");
  graphics_memory held;
  held.nv[0x3032] = {3, 1, {0xA0}};
  struct Case {
    const char *title;
    bytes_t stream;
    const graphics_memory *memory;
    std::vector<std::string> top; /* the first rows */
    uint32_t height;
  };
  const Case cases[] = {
      {"defined, then printed centred twice as wide",
       cat({define_10x2, hex("1B 61 01"), print_2}),
       nullptr,
       {"TTTTTTTTTT......................", "TttttttTtT......................", "......####################......",
        "......##............##..##......"},
       4},
      {"the column form", cat({define_column_2x10, print_4}), nullptr, {"TT", "Tt", "Tt"}, 20},
      {"held when the stream began", print_3, &held, {"#.#....."}, 1},
      {"deleted in the stream",
       cat({hex("1D 28 4C 04 00 30 42 30 32"), print_3}),
       &held,
       {"ssssss.."},
       stored_image_rows},
      {"all deleted", cat({hex("1D 28 4C 05 00 30 41 43 4C 52"), print_3}), &held, {"ssssss.."}, stored_image_rows},
      {"download graphics are another memory",
       hex("1D 28 4C 06 00 30 55 30 32 01 01"),
       &held,
       {"ssssss.."},
       stored_image_rows},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    render_options options;
    options.memory = c.memory;
    options.paper_width = uint32_t(c.top[0].size());
    std::vector<std::string> rows = picture(render_records(decode_stream(c.stream), c.stream, options));
    EXPECT_EQ(c.height, rows.size());
    rows.resize(std::min(rows.size(), c.top.size()));
    EXPECT_EQ(c.top, rows);
  }
  // The column form, read back as rows: ten dots down the first column, the ends of the second.
  stored_graphic column;
  decode_result decoded = decode_stream(define_column_2x10);
  ASSERT_TRUE(defined_graphic(decoded.records[0], define_column_2x10, column));
  EXPECT_EQ(column, (stored_graphic{2, 10, hex("C0 80 80 80 80 80 80 80 80 C0")}));
}

TEST(Decode, ADefinedGraphicIsPicturedUnderItsLine)
{
  bytes_t wide = cat({hex("1D 28 4C 2B 00 30 43 30 30 31 01 80 00 02 00 31"), bytes_t(16, 0xF0), bytes_t(16, 0)});
  std::string cells;
  for (int i = 0; i < 16; i++)
    cells += "##..";
  EXPECT_EQ(listing(wide)[0], "00000000  command  GS ( L define NV graphics (raster): k1=48 k2=49 b=1 x=128 y=2 "
                              "c=49, 32 data bytes  [1D 28 4C 2B 00 30 43 30 30 31 01 80 ... +32]\n"
                              "          image of 128 x 2 dots, a character 2 x 4 dots:\n"
                              "          |" +
                                  cells + "|");
  // Data that does not make its size is named, and not pictured.
  bytes_t short_data = hex("1D 28 4C 0E 00 30 43 30 30 31 01 0A 00 02 00 31 FF C0 81");
  EXPECT_TRUE(listing(short_data)[0].ends_with("; problem: 3 data bytes for 10 x 2 dots, 4 expected"))
      << listing(short_data)[0];
  bytes_t too_tall = cat({hex("1D 28 4C 0C 09 30 43 30 30 31 01 01 00 01 09 31"), bytes_t(2305, 0x80)});
  EXPECT_TRUE(listing(too_tall)[0].ends_with("; problem: 1 x 2305 dots: a graphic is 1-8192 x 1-2304 dots"))
      << listing(too_tall)[0];
  EXPECT_EQ(listing(too_tall).size(), 2u); // the whole command is one record
}

TEST(Render, WritesAPngOfTheStrip)
{
  render_bitmap b = render(cat({two_row_header, two_row_bitmap}));
  std::string path = testing::TempDir() + "ovik_decode_test.png";
  ASSERT_EQ(write_png(b, path.c_str()), "");
  FILE *file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  uint8_t head[24] = {};
  ASSERT_EQ(std::fread(head, 1, sizeof head, file), sizeof head);
  std::fclose(file);
  std::remove(path.c_str());
  // Signature, IHDR, width 16, height 2.
  EXPECT_EQ(bytes_t(head, head + 24), hex("89 50 4E 47 0D 0A 1A 0A 00 00 00 0D 49 48 44 52 00 00 00 10 00 00 00 02"));
}

} // namespace
