// Reply parsers: version and symbol size texts, the status bytes, and the
// raster command scan; malformed or over-long replies never lead outside the
// caller's buffers.
#include "ovik_printer_helper_cmd.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int UNSET = -7;

// The eight flags as a string of two-digit hex values, for whole-record comparison.
std::string flags_hex(const uint8_t *f)
{
  std::string s;
  char h[4];
  for (int i = 0; i < 8; i++) {
    std::snprintf(h, sizeof h, i ? " %02X" : "%02X", f[i]);
    s += h;
  }
  return s;
}

struct VersionCase {
  const char *title;
  uint32_t cls;
  std::string reply;
  int count;
  int rc;
  std::array<int, 3> versions;
};

const VersionCase VERSION_CASES[] = {
    {"three numbers", 1, "_1.25.3 build 7", 3, 0, {1, 25, 3}},
    {"no space after the third number", 1, "_1.2.3", 3, 0, {1, 2, UNSET}},
    {"a number above 254 ends the parse", 1, "_300.1.1 ", 3, 0, {UNSET, UNSET, UNSET}},
    {"stops at the second number", 1, "_1.255.3 ", 3, 0, {1, UNSET, UNSET}},
    {"254 is still a version", 1, "_254.0.9 ", 3, 0, {254, 0, 9}},
    {"count 2 writes two entries", 1, "_4.5.6 ", 2, 0, {4, 5, UNSET}},
    {"count above 3 writes three", 1, "_4.5.6 ", 9, 0, {4, 5, 6}},
    {"count 0 writes nothing", 1, "_4.5.6 ", 0, 0, {UNSET, UNSET, UNSET}},
    {"missing separators skip fields", 1, "_7.8", 3, 0, {7, UNSET, UNSET}},
    {"no underscore", 1, "1.2.3 ", 3, -30, {UNSET, UNSET, UNSET}},
    {"64 characters", 1, "_1.2.3 " + std::string(57, 'x'), 3, 0, {1, 2, 3}},
    {"65 characters", 1, "_1.2.3 " + std::string(58, 'x'), 3, -30, {UNSET, UNSET, UNSET}},
    {"bit 2 parses nothing", 0x4, "_1.2.3 ", 3, 0, {UNSET, UNSET, UNSET}},
    {"bit 0 wins over bit 2", 0x5, "_1.2.3 ", 3, 0, {1, 2, 3}},
    {"bit 2 wins over bit 1", 0x6, "\x01\x02\x03", 3, 0, {UNSET, UNSET, UNSET}},
    {"bit 1 takes signed bytes", 0x2, "\x01\x02\x83\x04", 3, 0, {1, 2, -125}},
    {"bit 1 within count", 0x2, "\x01\x02\x03", 2, 0, {1, 2, UNSET}},
    {"bit 1 keeps zero bytes: version 2.0.5", 0x2, std::string("\x02\x00\x05", 3), 3, 0, {2, 0, 5}},
    {"bit 1 takes the terminator as a byte", 0x2, "\x07", 2, 0, {7, 0, UNSET}},
    {"bit 1 reads at most three bytes", 0x2, "\x01\x02\x03\x04", 9, 0, {1, 2, 3}},
    {"no class bit", 0x10000, "_1.2.3 ", 3, -3, {UNSET, UNSET, UNSET}},
    {"class 0", 0, "_1.2.3 ", 3, -3, {UNSET, UNSET, UNSET}},
};

} // namespace

TEST(Parsers, VersionReplies)
{
  for (const VersionCase &c : VERSION_CASES) {
    SCOPED_TRACE(c.title);
    std::vector<char> reply(c.reply.begin(), c.reply.end());
    reply.push_back('\0');
    std::array<int, 4> v = {UNSET, UNSET, UNSET, UNSET};
    EXPECT_EQ(c.rc, ovik_cmd_parse_printer_version(c.cls, reply.data(), v.data(), c.count));
    EXPECT_EQ(c.versions, (std::array<int, 3>{v[0], v[1], v[2]}));
    EXPECT_EQ(UNSET, v[3]);
  }
}

TEST(Parsers, VersionSeparatorsBecomeZeroBytes)
{
  char reply[] = "_1.25.3 build";
  int v[3] = {};
  ASSERT_EQ(0, ovik_cmd_parse_printer_version(1, reply, v, 3));
  EXPECT_EQ(0, std::memcmp(reply,
                           "_1\0"
                           "25\0"
                           "3\0build",
                           sizeof reply));
}

TEST(Parsers, VersionNullArgumentsAndUnterminatedReply)
{
  std::array<char, 65> reply;
  reply.fill('1');
  reply[0] = '_';
  int v[3] = {UNSET, UNSET, UNSET};
  EXPECT_EQ(-30, ovik_cmd_parse_printer_version(1, reply.data(), v, 3));
  EXPECT_EQ(-30, ovik_cmd_parse_printer_version(1, nullptr, v, 3));
  EXPECT_EQ(-1, ovik_cmd_parse_printer_version(1, reply.data(), nullptr, 3));
  EXPECT_EQ(-1, ovik_cmd_parse_printer_version(2, reply.data(), nullptr, 3));
  EXPECT_EQ(UNSET, v[0]);
  // The bit-2 form reads neither the reply nor the array, whatever the other bits.
  EXPECT_EQ(0, ovik_cmd_parse_printer_version(0x4, nullptr, nullptr, 3));
  EXPECT_EQ(0, ovik_cmd_parse_printer_version(0x6, nullptr, nullptr, 3));
}

struct StatusCase {
  const char *title;
  int rc;
  std::string flags; // all eight after the call; AA marks untouched
};

// Runs one status parser over flags prefilled with AA and compares the whole record.
template <typename F>
void expect_flags(const StatusCase &c, F parse)
{
  SCOPED_TRACE(c.title);
  uint8_t f[8];
  std::memset(f, 0xAA, sizeof f);
  EXPECT_EQ(c.rc, parse(f));
  EXPECT_EQ(c.flags, flags_hex(f));
}

const std::string UNTOUCHED = "AA AA AA AA AA AA AA AA";

TEST(Parsers, AutomaticStatusBack)
{
  struct Case {
    StatusCase expect;
    uint32_t cls;
    std::array<uint8_t, 4> msg;
  };
  const Case cases[] = {
      {{"all clear", 0, "AA AA AA AA 00 00 00 00"}, 1, {0x10, 0, 0, 0}},
      {{"offline, near end, paper end", 0, "AA AA AA AA 01 00 01 01"}, 1, {0x18, 0x00, 0x0F, 0x00}},
      {{"cover open", 0, "AA AA AA AA 00 01 00 00"}, 1, {0x30, 0, 0, 0}},
      {{"one near-end bit is not enough", 0, "AA AA AA AA 00 00 00 00"}, 1, {0x10, 0, 0x05, 0}},
      {{"first byte fails the fixed bits", -1, UNTOUCHED}, 1, {0x11, 0, 0, 0}},
      {{"fourth byte fails the fixed bits", -1, UNTOUCHED}, 1, {0x10, 0, 0, 0x80}},
      {{"class without bit 0", -1, UNTOUCHED}, 0x10000, {0x10, 0, 0, 0}},
  };
  for (const Case &c : cases)
    expect_flags(c.expect, [&](uint8_t *f) { return ovik_cmd_parse_ASB_status(c.cls, c.msg.data(), f); });
  const uint8_t ok[4] = {0x10, 0, 0, 0};
  EXPECT_EQ(0, ovik_cmd_parse_ASB_status(1, ok, nullptr));
  EXPECT_EQ(-1, ovik_cmd_parse_ASB_status(1, nullptr, nullptr));
}

// A reply byte to a numbered status request, and what it gives.
struct ByteCase {
  StatusCase expect;
  int n;
  uint8_t b;
};

// Runs a parser of (class, n, byte, flags) over its cases with class word 1.
void expect_byte_cases(std::initializer_list<ByteCase> cases, int (*parse)(uint32_t, int, uint8_t, uint8_t *))
{
  for (const ByteCase &c : cases)
    expect_flags(c.expect, [&](uint8_t *f) { return parse(1, c.n, c.b, f); });
}

TEST(Parsers, RealTimeStatus)
{
  expect_byte_cases(
      {
          {{"n 1 offline", 0, "AA AA AA AA 01 AA AA AA"}, 1, 0x1A},
          {{"n 1 online", 0, "AA AA AA AA 00 AA AA AA"}, 1, 0x12},
          {{"n 2 cover open", 0, "AA AA AA AA AA 01 AA AA"}, 2, 0x16},
          {{"n 3 stores nothing", 0, UNTOUCHED}, 3, 0x7E},
          {{"n 4 near end and end", 0, "AA AA AA AA AA AA 01 01"}, 4, 0x7E},
          {{"n 4 end only", 0, "AA AA AA AA AA AA 00 01"}, 4, 0x72},
          {{"n 4 fixed bits wrong", -1, UNTOUCHED}, 4, 0x13},
          {{"n 5", -1, UNTOUCHED}, 5, 0x12},
          {{"n 0", -1, UNTOUCHED}, 0, 0x12},
      },
      ovik_cmd_parse_real_time_status);
  EXPECT_EQ(-1, ovik_cmd_parse_real_time_status(0x10000, 1, 0x12, nullptr));
  EXPECT_EQ(0, ovik_cmd_parse_real_time_status(1, 4, 0x7E, nullptr));
}

TEST(Parsers, TransmitStatus)
{
  expect_byte_cases(
      {
          {{"n 1 near end and end", 0, "AA AA AA AA AA AA 01 01"}, 1, 0x0F},
          {{"n 1 near end", 0, "AA AA AA AA AA AA 01 00"}, 1, 0x03},
          {{"n 1 one end bit", 0, "AA AA AA AA AA AA 00 00"}, 1, 0x04},
          {{"n 2 drawer bit", 0, "AA AA AA AA AA 01 AA 01"}, 2, 0x01},
          {{"n 2 clear", 0, "AA AA AA AA AA 00 AA 00"}, 2, 0x00},
          {{"bit 4 set", -1, UNTOUCHED}, 1, 0x10},
          {{"bit 7 set", -1, UNTOUCHED}, 2, 0x80},
          {{"n 3", -1, UNTOUCHED}, 3, 0x00},
      },
      ovik_cmd_parse_transmit_status);
  EXPECT_EQ(-1, ovik_cmd_parse_transmit_status(1, 1, 0x0F, nullptr));
  EXPECT_EQ(-1, ovik_cmd_parse_transmit_status(0x10000, 1, 0x0F, nullptr));
}

TEST(Parsers, StatusByteTwo)
{
  struct Case {
    StatusCase expect;
    uint8_t b;
  };
  const Case cases[] = {
      {{"0x22 clears flags 0 to 5", 0, "00 00 00 00 00 00 AA AA"}, 0x22},
      {{"0x00 sets flags 0 and 1", 0, "01 01 00 00 00 00 AA AA"}, 0x00},
      {{"masked bits are kept as they are", 0, "01 01 04 01 08 10 AA AA"}, 0x1D},
  };
  for (const Case &c : cases)
    expect_flags(c.expect, [&](uint8_t *f) { return ovik_cmd_parse_status2(1, c.b, f); });
  EXPECT_EQ(-1, ovik_cmd_parse_status2(1, 0, nullptr));
  uint8_t f[8] = {};
  EXPECT_EQ(-1, ovik_cmd_parse_status2(0x10000, 0, f));
}

TEST(Parsers, SymbolSizeReplies)
{
  struct Case {
    const char *title;
    uint32_t cls;
    std::string reply;
    int rc, h, v;
  };
  const Case cases[] = {
      {"21 by 21", 1,
       "7621\x1F"
       "21\x1F",
       0, 21, 21},
      {"different sizes, text after", 1,
       "765\x1F"
       "177\x1Fzz",
       0, 5, 177},
      {"one separator only", 1,
       "7621\x1F"
       "21",
       -30, 21, UNSET},
      {"no separator", 1, "762121", -30, UNSET, UNSET},
      {"wrong start", 1,
       "7721\x1F"
       "21\x1F",
       -30, UNSET, UNSET},
      {"just a 7", 1, "7", -30, UNSET, UNSET},
      {"18 characters", 1,
       "761\x1F"
       "1\x1F" +
           std::string(12, 'x'),
       0, 1, 1},
      {"19 characters", 1,
       "761\x1F"
       "1\x1F" +
           std::string(13, 'x'),
       -30, UNSET, UNSET},
      {"class without bit 0", 0x10000,
       "7621\x1F"
       "21\x1F",
       -3, UNSET, UNSET},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    std::vector<char> reply(c.reply.begin(), c.reply.end());
    reply.push_back('\0');
    int h = UNSET, v = UNSET;
    EXPECT_EQ(c.rc, ovik_cmd_parse_qr_code_size(c.cls, reply.data(), &h, &v));
    EXPECT_EQ(c.h, h);
    EXPECT_EQ(c.v, v);
  }
}

TEST(Parsers, SymbolSizeReplyWithoutTerminatorIsNotOverrun)
{
  std::array<char, 19> reply;
  reply.fill('1');
  reply[0] = '7';
  reply[1] = '6';
  int h = UNSET, v = UNSET;
  EXPECT_EQ(-30, ovik_cmd_parse_qr_code_size(1, reply.data(), &h, &v));
  EXPECT_EQ(-30, ovik_cmd_parse_qr_code_size(1, nullptr, &h, &v));
  EXPECT_EQ(-1, ovik_cmd_parse_qr_code_size(1, reply.data(), &h, nullptr));
  EXPECT_EQ(UNSET, h);
}

namespace {

struct Found {
  int rc;
  uint8_t m;
  int x, y, bpr;
  uint32_t pos;
  int len;
  bool operator==(const Found &) const = default;
};

// Scans bytes with every output prefilled with nonzero values.
Found scan(uint32_t cls, const std::vector<uint8_t> &d)
{
  Found f{0, 0xAA, 99, 99, 99, 99, 99};
  f.rc = ovik_cmds_find_raster_imgdata(cls, d.data(), uint32_t(d.size()), &f.m, &f.x, &f.y, &f.bpr, &f.pos, &f.len);
  return f;
}

// Readable form of a scan result for failure messages.
void PrintTo(const Found &f, std::ostream *os)
{
  *os << "rc " << f.rc << " m " << int(f.m) << " x " << f.x << " y " << f.y << " bpr " << f.bpr << " pos " << f.pos
      << " len " << f.len;
}

} // namespace

TEST(Parsers, RasterCommandScan)
{
  const std::vector<uint8_t> cmd = {0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00, 0x02, 0x00, 0x03, 0x00, 1, 2, 3, 4, 5, 6};
  const Found none{0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ((Found{0, 0, 2, 3, 2, 2, 14}), scan(1, cmd));

  std::vector<uint8_t> after_other = {0x1D, 0x21, 0x00};
  after_other.insert(after_other.end(), cmd.begin(), cmd.end());
  EXPECT_EQ(none, scan(1, after_other));

  const std::vector<uint8_t> wide = {0x1D, 0x76, 0x30, 0x33, 0x10, 0x01, 0x00, 0x02, 0xFF};
  EXPECT_EQ((Found{0, 0x33, 0x110, 0x200, 0x110, 0, 0x110 * 0x200 + 8}), scan(1, wide));

  // The header must be followed by at least one byte.
  EXPECT_EQ(none, scan(1, std::vector<uint8_t>(wide.begin(), wide.end() - 1)));
  EXPECT_EQ(none, scan(1, {0x1B, 0x40, 0x0A}));
  EXPECT_EQ(none, scan(1, {0x00, 0x1D}));
  EXPECT_EQ(none, scan(1, {}));
  EXPECT_EQ((Found{-3, 0, 0, 0, 0, 0, 0}), scan(0x10000, cmd));

  // x * y + 8 beyond an int is not reported as a length.
  const std::vector<uint8_t> huge = {0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  EXPECT_EQ((Found{-1, 0, 0, 0, 0, 0, 0}), scan(1, huge));
}

TEST(Parsers, GraphicsCapacityReplies)
{
  struct Case {
    const char *title;
    uint32_t cls;
    const char *reply;
    int rc, identifier, bytes;
  };
  const Case cases[] = {
      {"whole NV memory", 1, "70262144", 0, '0', 262144},
      {"NV memory free", 1, "710", 0, '1', 0},
      {"download memory free, eight digits", 1, "7299999999", 0, '2', 99999999},
      {"nine digits", 1, "71123456789", -30, UNSET, UNSET},
      {"no digits", 1, "71", -30, UNSET, UNSET},
      {"identifier 3", 1, "735", -30, UNSET, UNSET},
      {"another header", 1, "8112", -30, UNSET, UNSET},
      {"a letter among the digits", 1, "7112a4", -30, UNSET, UNSET},
      {"no reply", 1, nullptr, -30, UNSET, UNSET},
      {"class without bit 0", 0x10000, "710", -3, UNSET, UNSET},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    int identifier = UNSET, bytes = UNSET;
    EXPECT_EQ(c.rc, ovik_cmd_parse_graphics_capacity(c.cls, c.reply, &identifier, &bytes));
    EXPECT_EQ(c.identifier, identifier);
    EXPECT_EQ(c.bytes, bytes);
  }
  int identifier = UNSET;
  EXPECT_EQ(-1, ovik_cmd_parse_graphics_capacity(1, "710", &identifier, nullptr));
  // A reply without its terminator is read no further than its longest form.
  std::array<char, 11> unterminated;
  unterminated.fill('1');
  unterminated[0] = '7';
  EXPECT_EQ(-30, ovik_cmd_parse_graphics_capacity(1, unterminated.data(), &identifier, &identifier));
}

TEST(Parsers, NvGraphicsKeyCodeBlocks)
{
  struct Case {
    const char *title;
    uint32_t cls;
    std::string reply;
    int capacity;
    int rc, count, more;
    std::string keys; // what the key code array holds after the call; "." untouched
  };
  const std::string forty(80, '0');
  const Case cases[] = {
      {"no graphics defined", 1, "7r@", 4, 0, 0, 0, "........"},
      {"the last block, two graphics", 1, "7r@0001", 4, 0, 2, 0, "0001...."},
      {"another block follows", 1, "7rA0 ~~", 4, 0, 2, 1, "0 ~~...."},
      {"forty graphics", 1, "7r@" + forty, 40, 0, 40, 0, forty},
      {"forty-one graphics", 1, "7r@" + forty + "00", 41, -30, UNSET, UNSET, ""},
      {"more graphics than room: none stored", 1, "7r@000102", 2, -2, 3, 0, "...."},
      {"half a pair", 1, "7r@000", 4, -30, UNSET, UNSET, "........"},
      {"another block announced, none here", 1, "7rA", 4, -30, UNSET, UNSET, "........"},
      {"key code below 0x20", 1, "7r@0\x1F", 4, -30, UNSET, UNSET, "........"},
      {"key code 0x7F", 1, "7r@0\x7F", 4, -30, UNSET, UNSET, "........"},
      {"unknown status", 1, "7rB00", 4, -30, UNSET, UNSET, "........"},
      {"another identifier", 1, "7s@00", 4, -30, UNSET, UNSET, "........"},
      {"class without bit 0", 0x10000, "7r@00", 4, -3, UNSET, UNSET, "........"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    std::string keys(std::max<size_t>(c.keys.size(), 2 * c.capacity), '.');
    int count = UNSET, more = UNSET;
    EXPECT_EQ(c.rc, ovik_cmd_parse_nv_graphics_key_codes(
                        c.cls, c.reply.c_str(), reinterpret_cast<uint8_t *>(keys.data()), c.capacity, &count, &more));
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(c.more, more);
    if (!c.keys.empty()) {
      EXPECT_EQ(c.keys, keys);
    }
  }
  int count = UNSET, more = UNSET;
  EXPECT_EQ(-1, ovik_cmd_parse_nv_graphics_key_codes(1, "7r@00", nullptr, 1, &count, &more));
  EXPECT_EQ(-1, ovik_cmd_parse_nv_graphics_key_codes(1, "7r@00", nullptr, 0, nullptr, &more));
  EXPECT_EQ(0, ovik_cmd_parse_nv_graphics_key_codes(1, "7r@", nullptr, 0, &count, &more));
  EXPECT_EQ(-30, ovik_cmd_parse_nv_graphics_key_codes(1, nullptr, nullptr, 0, &count, &more));
}
