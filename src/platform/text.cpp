#include "platform/text.h"

#include <limits>

namespace {

template <typename Char>
Char FoldAscii(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char>
bool IsCSpace(Char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

template <typename Char>
std::int64_t ParseDecimal(std::basic_string_view<Char> text,
                          std::int64_t min,
                          std::int64_t max) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto at = [&](std::size_t k) -> Char { return k < n ? text[k] : Char(0); };
  while (at(i) != 0 && IsCSpace(at(i)))
    ++i;
  bool negative = false;
  if (at(i) == '+' || at(i) == '-') {
    negative = at(i) == '-';
    ++i;
  }
  // The magnitude saturates at 2^63, which is beyond every limit, so any
  // number of digits is read without overflow.
  constexpr std::uint64_t kCap =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
  std::uint64_t magnitude = 0;
  while (at(i) >= '0' && at(i) <= '9') {
    const auto digit = static_cast<std::uint64_t>(at(i) - '0');
    magnitude = magnitude > (kCap - digit) / 10 ? kCap : magnitude * 10 + digit;
    ++i;
  }
  if (negative) {
    const std::uint64_t limit = static_cast<std::uint64_t>(-(min + 1)) + 1;
    return magnitude >= limit ? min : -static_cast<std::int64_t>(magnitude);
  }
  return magnitude >= static_cast<std::uint64_t>(max)
             ? max
             : static_cast<std::int64_t>(magnitude);
}

}  // namespace

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i]))
      return false;
  }
  return true;
}

bool EndsWithAsciiNoCase(std::wstring_view text, std::wstring_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsAsciiNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::int64_t ParseDecimalSaturating(std::wstring_view text,
                                    std::int64_t min,
                                    std::int64_t max) {
  return ParseDecimal(text, min, max);
}

std::int64_t ParseDecimalSaturating(std::string_view bytes,
                                    std::int64_t min,
                                    std::int64_t max) {
  return ParseDecimal(bytes, min, max);
}

std::wstring UnsignedToWide(std::uint64_t value) {
  // Written by hand: the C library's formatting would bring a whole printf
  // engine into the program for this.
  wchar_t digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::wstring text(n, L'0');
  for (std::size_t i = 0; i < n; ++i)
    text[i] = digits[n - 1 - i];
  return text;
}
