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
  return std::to_wstring(value);
}
