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

// One conversion: its name, locale, language, source, capacity, result, out
// length, and the whole 12-unit destination afterwards (filled with '#' before).
template <typename From, typename To>
struct Conversion {
  const char *name;
  const char *locale;
  int language;
  std::basic_string<From> source;
  int capacity;
  int result;
  int length;
  std::basic_string<To> expected;
};
using A2wRow = Conversion<char, wchar_t>;
using W2aRow = Conversion<wchar_t, char>;

template <typename From, typename To>
void PrintTo(const Conversion<From, To> &c, std::ostream *os)
{
  *os << c.name;
}

// Runs one conversion, in the row's locale, and compares the whole destination.
template <typename From, typename To, typename Convert>
void expect_conversion(const Conversion<From, To> &c, Convert convert)
{
  std::basic_string<To> destination(12, To('#'));
  int length = -7;
  EXPECT_EQ(convert(destination.data(), c.capacity, c.source.c_str(), 0, c.language, &length), c.result);
  EXPECT_EQ(destination, c.expected);
  EXPECT_EQ(length, c.length);
}

class A2w : public testing::TestWithParam<A2wRow> {};
class W2a : public testing::TestWithParam<W2aRow> {};

// A row whose locale this machine lacks is skipped alone, saying which.
TEST_P(A2w, FillsTheDestinationAsRecorded)
{
  LocaleGuard guard(GetParam().locale);
  if (!guard.ok)
    GTEST_SKIP() << GetParam().name << ": no " << GetParam().locale << " locale";
  expect_conversion(GetParam(), a2w);
}

TEST_P(W2a, FillsTheDestinationAsRecorded)
{
  LocaleGuard guard(GetParam().locale);
  if (!guard.ok)
    GTEST_SKIP() << GetParam().name << ": no " << GetParam().locale << " locale";
  expect_conversion(GetParam(), w2a);
}

template <typename Row>
std::string row_name(const testing::TestParamInfo<Row> &info)
{
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, A2w,
    testing::Values(A2wRow{"FitsWithItsTerminator", "C", 0, "abc", 4, 0, 3, std::wstring(L"abc") + L'\0' + L"########"},
                    A2wRow{"NoRoomForTheTerminator", "C", 0, "abc", 3, -2, -7, std::wstring(12, L'#')},
                    A2wRow{"EmptyTextInOneUnit", "C", 0, "", 1, 0, 0, L'\0' + std::wstring(11, L'#')},
                    A2wRow{"EmptyTextInNoRoom", "C", 0, "", 0, -2, -7, std::wstring(12, L'#')},
                    A2wRow{"InvalidByte", "C", 0, "\xff", 12, -1, -7, std::wstring(12, L'#')},
                    A2wRow{"Utf8Text", "C.utf8", 0, "\xe6\x89\x93\xe5\x8d\xb0", 3, 0, 2,
                           std::wstring(L"打印") + L'\0' + std::wstring(9, L'#')},
                    A2wRow{"Utf8TextWithoutRoom", "C.utf8", 4, "\xe6\x89\x93\xe5\x8d\xb0", 2, -2, -7,
                           std::wstring(12, L'#')}),
    row_name<A2wRow>);

// 打印机 in UTF-8 is nine bytes.
INSTANTIATE_TEST_SUITE_P(
    Strings, W2a,
    testing::Values(W2aRow{"MultibyteTextCountsBytes", "C.utf8", 4, L"打印机", 10, 0, 9,
                           std::string("\xe6\x89\x93\xe5\x8d\xb0\xe6\x9c\xba") + '\0' + "##"},
                    W2aRow{"MultibyteTextWithoutRoom", "C.utf8", 4, L"打印机", 9, -2, -7, std::string(12, '#')},
                    W2aRow{"FitsWithItsTerminator", "C", 0, L"abc", 4, 0, 3, std::string("abc") + '\0' + "########"},
                    W2aRow{"NoRoomForTheTerminator", "C", 0, L"abc", 3, -2, -7, std::string(12, '#')},
                    W2aRow{"UnrepresentableInC", "C", 0, L"\u00e9", 12, -1, -7, std::string(12, '#')}),
    row_name<W2aRow>);

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
