// ovik_string.cpp - narrow/wide conversion with a capacity check, and an
// in-place walker over separated lists.
#include "ovik_string.h"
#include "ovik_error.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace {

// Switches LC_CTYPE to the Chinese UTF-8 locale for language 4. It is not
// restored, and when the locale is missing the current one simply stays.
void select_language(int language)
{
  if (language == LANGUAGE_CHINESE)
    std::setlocale(LC_CTYPE, "zh_CN.utf8");
}

// Converts a whole zero-terminated text with convert (mbstowcs or wcstombs)
// when its converted form and terminator fit in capacity units.
template <typename To, typename From>
int convert_text(To *destination, int capacity, const From *source, int language, int *out_length,
                 size_t (*convert)(To *, const From *, size_t))
{
  if (destination == nullptr || source == nullptr)
    return OVIK_ERR_PARAMETER;
  select_language(language);
  const size_t count = convert(nullptr, source, 0);
  if (count == static_cast<size_t>(-1))
    return OVIK_ERR_PARAMETER;
  if (capacity < 0 || static_cast<size_t>(capacity) < count + 1)
    return OVIK_ERR_BUFFER;
  const size_t written = convert(destination, source, count + 1);
  if (written == static_cast<size_t>(-1))
    return OVIK_ERR_PARAMETER;
  if (out_length != nullptr)
    *out_length = static_cast<int>(written);
  return OVIK_SUCCESS;
}

} // namespace

// Converts narrow text in the current LC_CTYPE encoding to wide characters.
int a2w(wchar_t *destination, int capacity, const char *source, int /*source_length*/, int language, int *out_length)
{
  return convert_text(destination, capacity, source, language, out_length, std::mbstowcs);
}

// Converts wide text to narrow text in the current LC_CTYPE encoding.
int w2a(char *destination, int capacity, const wchar_t *source, int /*source_length*/, int language, int *out_length)
{
  return convert_text(destination, capacity, source, language, out_length, std::wcstombs);
}

// Returns the list item at *cursor, zero-terminated in place, and moves the
// cursor past its separator; NULL once the cursor stands on the terminator.
char *get_item(char *buffer, int *cursor, char separator, int flags)
{
  if (buffer == nullptr || cursor == nullptr || *cursor < 0)
    return nullptr;
  char *item = buffer + *cursor;
  if (*item == '\0')
    return nullptr;
  if (flags & GET_ITEM_SKIP_LEADING_SPACES) {
    for (; *item == ' '; ++item)
      ++*cursor;
  }

  // A zero separator would match the terminator and run the cursor past it.
  char *end = separator != '\0' ? std::strchr(item, separator) : nullptr;
  if (end != nullptr) {
    *end = '\0';
    *cursor = static_cast<int>(end + 1 - buffer);
  } else {
    end = item + std::strlen(item);
    *cursor = static_cast<int>(end - buffer);
  }

  if (flags & GET_ITEM_CLEAR_TRAILING_SPACES) {
    for (; end > item && end[-1] == ' '; --end)
      end[-1] = '\0';
  }
  return item;
}
