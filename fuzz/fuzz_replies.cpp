/*
 * fuzz_replies.cpp - every reply parser on arbitrary replies.
 *
 * Input: a class byte (its low three bits become class word bits 0-2), a
 * request byte (the n of the status requests and the version count), then
 * the reply. Text parsers get the reply as a zero-terminated copy of exactly
 * its size; byte parsers get its first bytes; the raster scanner gets all of
 * it in a block of exactly its size, so any read past the end is caught.
 */
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "ovik_printer_helper_cmd.h"

namespace {

/* The reply as a heap text of exactly its length plus the terminator. */
std::unique_ptr<char[]> text_copy(const uint8_t *data, size_t size)
{
  std::unique_ptr<char[]> t(new char[size + 1]);
  std::memcpy(t.get(), data, size);
  t[size] = '\0';
  return t;
}

/* The version parser: at most min(count, 3) entries, none above 254; the
 * bit-1 form copies raw bytes, so it gets a block of exactly the min(count, 3)
 * bytes it may read (the reply, padded with zero bytes when shorter). */
void check_version(uint32_t cls, int count, const uint8_t *data, size_t size)
{
  int fields = std::clamp(count, 0, 3);
  bool raw = (cls & 7) == 2;
  bool nothing = !(cls & 1) && (cls & 4);
  std::unique_ptr<char[]> reply;
  if (raw) {
    reply.reset(new char[fields]());
    std::memcpy(reply.get(), data, std::min<size_t>(size, fields));
  } else {
    reply = text_copy(data, size);
  }
  int versions[3] = {-1000, -1000, -1000};
  int code = ovik_cmd_parse_printer_version(cls, reply.get(), versions, count);
  if (code != 0 && code != -30 && code != -3 && code != -1)
    fuzz_fail("version parser result " + std::to_string(code));
  for (int i = 0; i < 3; i++) {
    bool written = versions[i] != -1000;
    if (written && i >= count)
      fuzz_fail("version parser wrote entry " + std::to_string(i) + " of " + std::to_string(count));
    if (written && (cls & 1) && versions[i] > 254)
      fuzz_fail("version number " + std::to_string(versions[i]) + " above 254");
    if (raw && i < fields && versions[i] != static_cast<signed char>(reply[i]))
      fuzz_fail("version byte " + std::to_string(i) + " not copied");
    if (nothing && (written || code != 0))
      fuzz_fail("bit-2 version form parsed something");
  }
}

/* The symbol size parser. */
void check_qr_size(uint32_t cls, const uint8_t *data, size_t size)
{
  auto reply = text_copy(data, size);
  int h = -1, v = -1;
  int code = ovik_cmd_parse_qr_code_size(cls, reply.get(), &h, &v);
  if (code != 0 && code != -30 && code != -3)
    fuzz_fail("symbol size parser result " + std::to_string(code));
}

/* The graphics memory parsers: a capacity of at most eight digits; key codes
 * stored only within the capacity given (n, taken as 0-40 graphics), each a
 * printable character. */
void check_graphics_memory(uint32_t cls, int n, const uint8_t *data, size_t size)
{
  auto reply = text_copy(data, size);
  int identifier = -1, bytes = -1;
  int code = ovik_cmd_parse_graphics_capacity(cls, reply.get(), &identifier, &bytes);
  if (code != 0 && code != -30 && code != -3)
    fuzz_fail("capacity parser result " + std::to_string(code));
  if (code == 0 && (bytes < 0 || bytes > 99999999 || identifier < '0' || identifier > '2'))
    fuzz_fail("capacity " + std::to_string(bytes) + " of identifier " + std::to_string(identifier));
  int capacity = std::clamp(n, 0, 40);
  std::vector<uint8_t> keys(2 * capacity + 2, 0xA5);
  int count = -1, more = -1;
  code = ovik_cmd_parse_nv_graphics_key_codes(cls, reply.get(), keys.data(), capacity, &count, &more);
  if (code != 0 && code != -30 && code != -3 && code != -2)
    fuzz_fail("key code parser result " + std::to_string(code));
  if (keys[2 * capacity] != 0xA5 || keys[2 * capacity + 1] != 0xA5)
    fuzz_fail("key code parser wrote past its capacity");
  for (int i = 0; code == 0 && i < 2 * count; i++)
    if (keys[i] < 0x20 || keys[i] > 0x7E)
      fuzz_fail("key code parser stored a key code that is not printable");
}

/* The four status parsers; each writes only its own flag positions. */
void check_status(uint32_t cls, int n, const uint8_t *data, size_t size)
{
  uint8_t msg4[4] = {};
  std::memcpy(msg4, data, std::min<size_t>(size, 4));
  uint8_t b = msg4[0];
  struct parse {
    uint8_t allowed; /* bit i: flag i may be written */
    int (*run)(uint32_t, int, const uint8_t *, uint8_t, uint8_t *);
  };
  static const parse parsers[] = {
      {0xF0, [](uint32_t c, int, const uint8_t *m, uint8_t, uint8_t *f) { return ovik_cmd_parse_ASB_status(c, m, f); }},
      {0xF0, [](uint32_t c, int k, const uint8_t *, uint8_t x,
                uint8_t *f) { return ovik_cmd_parse_real_time_status(c, k, x, f); }},
      {0xE0, [](uint32_t c, int k, const uint8_t *, uint8_t x,
                uint8_t *f) { return ovik_cmd_parse_transmit_status(c, k, x, f); }},
      {0x3F, [](uint32_t c, int, const uint8_t *, uint8_t x, uint8_t *f) { return ovik_cmd_parse_status2(c, x, f); }},
  };
  for (const parse &p : parsers) {
    uint8_t flags[8];
    std::memset(flags, 0xA5, sizeof flags);
    int code = p.run(cls, n, msg4, b, flags);
    if (code != 0 && code != -1)
      fuzz_fail("status parser result " + std::to_string(code));
    for (int i = 0; i < 8; i++)
      if (flags[i] != 0xA5 && !(p.allowed >> i & 1))
        fuzz_fail("status parser wrote flag " + std::to_string(i));
    p.run(cls, n, msg4, b, nullptr);
  }
}

/* The raster scanner: a found command lies inside the block and says its length. */
void check_raster_scan(uint32_t cls, const uint8_t *data, size_t size)
{
  std::vector<uint8_t> block(data, data + size);
  uint8_t m = 0xFF;
  int x = -1, y = -1, bpr = -1, len = -1;
  uint32_t pos = 0xFFFFFFFF;
  int code = ovik_cmds_find_raster_imgdata(cls, block.empty() ? nullptr : block.data(),
                                           static_cast<uint32_t>(block.size()), &m, &x, &y, &bpr, &pos, &len);
  if (code != 0 && code != -3 && code != -1)
    fuzz_fail("raster scanner result " + std::to_string(code));
  if (len == 0)
    return;
  if (uint64_t(pos) + 8 >= size || block[pos] != 0x1D || block[pos + 1] != 0x76 || block[pos + 2] != 0x30 ||
      x != (block[pos + 4] | block[pos + 5] << 8) || y != (block[pos + 6] | block[pos + 7] << 8) || bpr != x ||
      int64_t(len) != int64_t(x) * y + 8 || m != block[pos + 3])
    fuzz_fail("raster scanner reported a command that is not there");
}

} // namespace

/* One input. */
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 2)
    return 0;
  uint32_t cls = data[0] & 7;
  int n = static_cast<int8_t>(data[1]);
  data += 2;
  size -= 2;
  check_version(cls, n, data, size);
  check_qr_size(cls, data, size);
  check_status(cls, n, data, size);
  check_graphics_memory(cls, n, data, size);
  check_raster_scan(cls, data, size);
  return 0;
}
