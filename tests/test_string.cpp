// Tests of the narrow/wide conversions and of the in-place list walker.
#include "ovik_error.h"
#include "ovik_string.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

// Sets LC_CTYPE for one test and restores it afterwards.
struct LocaleGuard {
  std::string saved = std::setlocale(LC_CTYPE, nullptr);
  bool ok;
  explicit LocaleGuard(const char *name) : ok(std::setlocale(LC_CTYPE, name) != nullptr) {}
  ~LocaleGuard() { std::setlocale(LC_CTYPE, saved.c_str()); }
};

// One conversion: locale, language, source, capacity, result, out length.
template <typename Char>
struct ConversionCase {
  const char *locale;
  int language;
  std::basic_string<Char> source;
  int capacity;
  int result;
  int length;
};

// Runs a conversion case through a2w or w2a into a 12-unit destination
// filled with '#' and compares the whole destination afterwards.
template <typename To, typename From, typename Convert>
void check_conversion(const ConversionCase<From> &c, const std::basic_string<To> &expected, Convert convert)
{
  SCOPED_TRACE(testing::Message() << c.locale << " capacity " << c.capacity);
  LocaleGuard guard(c.locale);
  if (!guard.ok)
    GTEST_SKIP() << "no " << c.locale << " locale";
  std::basic_string<To> destination(12, To('#'));
  int length = -7;
  EXPECT_EQ(convert(destination.data(), c.capacity, c.source.c_str(), 0, c.language, &length), c.result);
  EXPECT_EQ(destination, expected);
  EXPECT_EQ(length, c.length);
}

TEST(A2w, ConvertsWholeTextsThatFit)
{
  using Case = ConversionCase<char>;
  struct Row {
    Case in;
    std::wstring expected;
  };
  const Row rows[] = {
      {{"C", 0, "abc", 4, 0, 3}, std::wstring(L"abc") + L'\0' + L"########"},
      {{"C", 0, "abc", 3, -2, -7}, std::wstring(12, L'#')},
      {{"C", 0, "", 1, 0, 0}, L'\0' + std::wstring(11, L'#')},
      {{"C", 0, "", 0, -2, -7}, std::wstring(12, L'#')},
      {{"C", 0, "\xff", 12, -1, -7}, std::wstring(12, L'#')},
      {{"C.utf8", 0, "\xe6\x89\x93\xe5\x8d\xb0", 3, 0, 2}, std::wstring(L"打印") + L'\0' + std::wstring(9, L'#')},
      {{"C.utf8", 4, "\xe6\x89\x93\xe5\x8d\xb0", 2, -2, -7}, std::wstring(12, L'#')},
  };
  for (const Row &row : rows)
    check_conversion<wchar_t>(row.in, row.expected, a2w);
}

TEST(W2a, CountsBytesOfMultibyteText)
{
  using Case = ConversionCase<wchar_t>;
  struct Row {
    Case in;
    std::string expected;
  };
  const std::string printer = "\xe6\x89\x93\xe5\x8d\xb0\xe6\x9c\xba"; // 打印机 in UTF-8
  const Row rows[] = {
      {{"C.utf8", 4, L"打印机", 10, 0, 9}, printer + '\0' + "##"},
      {{"C.utf8", 4, L"打印机", 9, -2, -7}, std::string(12, '#')},
      {{"C", 0, L"abc", 4, 0, 3}, std::string("abc") + '\0' + "########"},
      {{"C", 0, L"abc", 3, -2, -7}, std::string(12, '#')},
      {{"C", 0, L"\u00e9", 12, -1, -7}, std::string(12, '#')},
  };
  for (const Row &row : rows)
    check_conversion<char>(row.in, row.expected, w2a);
}

TEST(GetItem, WalksSeparatedLists)
{
  struct Case {
    std::string list;
    char separator;
    int flags;
    std::vector<std::string> items;
    int final_cursor;
  };
  const Case cases[] = {
      {"A,12, 24 ,B", ',', 3, {"A", "12", "24", "B"}, 11},
      {"x,,y", ',', 0, {"x", "", "y"}, 4},
      {"a,", ',', 0, {"a"}, 2},
      {" a , b", ',', 0, {" a ", " b"}, 6},
      {"\tq ,  r", ',', 1, {"\tq ", "r"}, 7},
      {"   ", ',', 1, {""}, 3},
      {"a;b,c", ';', 0, {"a", "b,c"}, 5},
      {"", ',', 3, {}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.list);
    std::vector<char> buffer(c.list.begin(), c.list.end());
    buffer.push_back('\0');
    int cursor = 0;
    std::vector<std::string> items;
    while (const char *item = get_item(buffer.data(), &cursor, c.separator, c.flags)) {
      ASSERT_GE(item, buffer.data());
      ASSERT_LT(item, buffer.data() + buffer.size());
      items.emplace_back(item);
      ASSERT_LE(items.size(), c.list.size() + 1) << "the walk does not end";
    }
    EXPECT_EQ(items, c.items);
    EXPECT_EQ(cursor, c.final_cursor);
    EXPECT_EQ(get_item(buffer.data(), &cursor, c.separator, c.flags), nullptr);
  }
}

TEST(GetItem, TrimmingAnAllSpaceItemStopsAtItsStart)
{
  char buffer[] = "ab   ";
  int cursor = 2;
  const char *item = get_item(buffer, &cursor, ',', GET_ITEM_CLEAR_TRAILING_SPACES);
  ASSERT_EQ(item, buffer + 2);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("ab\0\0\0\0", 6));
  EXPECT_EQ(cursor, 5);
}

TEST(GetItem, ZeroSeparatorEndsAtTheTerminator)
{
  char buffer[] = "a,b";
  int cursor = 0;
  EXPECT_STREQ(get_item(buffer, &cursor, '\0', 0), "a,b");
  EXPECT_EQ(cursor, 3);
  EXPECT_EQ(get_item(buffer, &cursor, '\0', 0), nullptr);
}

} // namespace
