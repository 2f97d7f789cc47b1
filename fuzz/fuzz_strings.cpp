/*
 * fuzz_strings.cpp - the list walker, the narrow/wide conversions and the
 * error formatters with arbitrary texts, sizes, offsets, codes and languages.
 *
 * Input: a separator, get_item flags, a start cursor, two capacities, a
 * language byte, an error code (4 bytes), an offset and an end, then a text.
 * Every destination is a heap block of exactly the size the call is told, so
 * a write past it is caught; every success must leave a terminated text.
 */
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "ovik_error.h"
#include "ovik_string.h"

namespace {

/* Walks the list to its end: every item inside the buffer, the cursor always moving on. */
void check_get_item(const std::string &text, char separator, int flags, int start)
{
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  int cursor = start;
  for (size_t calls = 0;; calls++) {
    int before = cursor;
    char *item = get_item(buffer.data(), &cursor, separator, flags);
    if (!item)
      break;
    if (item < buffer.data() || item >= buffer.data() + buffer.size())
      fuzz_fail("get_item returned a pointer outside the buffer");
    if (cursor <= before || cursor > static_cast<int>(text.size()))
      fuzz_fail("get_item moved the cursor from " + std::to_string(before) + " to " + std::to_string(cursor));
    if (calls > text.size())
      fuzz_fail("get_item did not reach the end of the list");
  }
}

/* A conversion into exactly capacity units: on success a terminated text of out_length units. */
template <typename To, typename From>
void check_conversion(int (*convert)(To *, int, const From *, int, int, int *), const std::vector<From> &source,
                      int capacity, int language)
{
  std::unique_ptr<To[]> destination(new To[capacity > 0 ? capacity : 0]);
  int length = -7;
  int code = convert(destination.get(), capacity, source.data(), 0, language, &length);
  if (code == 0 && (length < 0 || length >= capacity || destination[length] != 0))
    fuzz_fail("conversion gave length " + std::to_string(length) + " for capacity " + std::to_string(capacity));
  if (code != 0 && code != -1 && code != -2)
    fuzz_fail("conversion result " + std::to_string(code));
}

/* The formatters into exactly size bytes (or wide characters). */
void check_formatters(int code, int language, int size, int offset, int end)
{
  int length = -7;
  std::unique_ptr<char[]> narrow(new char[size > 0 ? size : 0]());
  if (format_error(code, narrow.get(), size, language, &length) == 0 && code <= 0 &&
      (length >= size || narrow[length] != 0))
    fuzz_fail("format_error length " + std::to_string(length));
  format_ovik_error(code, narrow.get(), size, language, &length);
  std::unique_ptr<wchar_t[]> wide(new wchar_t[size > 0 ? size : 0]());
  if (format_error_wchar(code, wide.get(), size, language, &length) == 0 && (length >= size || wide[length] != 0))
    fuzz_fail("format_error_wchar length " + std::to_string(length));
  format_ovik_error_wchar(code, wide.get(), size, language, &length);

  // The offset forms write bytes [offset, end) of a buffer that holds end bytes.
  size_t bytes = end > 0 ? size_t(end) : 0;
  std::unique_ptr<char[]> block(new char[bytes]);
  std::memset(block.get(), 'x', bytes);
  if (ovik_format_error_ansi(code, language, block.get(), offset, end) == 0 &&
      std::memchr(block.get() + offset, 0, size_t(end - offset)) == nullptr)
    fuzz_fail("ovik_format_error_ansi left no terminator");
  std::unique_ptr<wchar_t[]> wide_block(new wchar_t[bytes / sizeof(wchar_t) + 1]);
  ovik_format_error_wchar(code, language, wide_block.get(), offset, end);
}

} // namespace

/* One input. */
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 12)
    return 0;
  char separator = static_cast<char>(data[0]);
  int flags = data[1] & 3;
  int capacity = static_cast<int8_t>(data[3]);
  int capacity2 = static_cast<int8_t>(data[4]);
  int language = data[5] & 1 ? LANGUAGE_CHINESE : data[5] >> 1;
  int code;
  std::memcpy(&code, data + 6, sizeof code);
  int offset = static_cast<int8_t>(data[10]);
  int end = static_cast<int8_t>(data[11]) + 128;
  std::string text(reinterpret_cast<const char *>(data + 12), size - 12);
  text = text.c_str(); // up to the first zero byte, as the C callers see it
  int start = static_cast<int>(data[2] % (text.size() + 1));

  check_get_item(text, separator, flags, start);

  std::vector<char> narrow(text.begin(), text.end());
  narrow.push_back('\0');
  check_conversion(a2w, narrow, capacity, language);
  std::vector<wchar_t> wide;
  for (size_t i = 12; i + 4 <= size; i += 4) {
    wchar_t c;
    std::memcpy(&c, data + i, sizeof c);
    if (c == 0)
      break;
    wide.push_back(c);
  }
  wide.push_back(0);
  check_conversion(w2a, wide, capacity2, language);

  check_formatters(code, language, capacity > 0 ? capacity : capacity + 128, offset, end);
  return 0;
}
