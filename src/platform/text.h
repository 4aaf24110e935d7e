// Small text helpers shared by the subsystems.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// True when a and b have the same length and the same code units once the
// ASCII letters A to Z are folded to a to z. No other character is folded,
// whatever the user's locale: É and é stay different.
bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b);

// True when text ends in suffix under EqualsAsciiNoCase.
bool EndsWithAsciiNoCase(std::wstring_view text, std::wstring_view suffix);

// Reads a signed decimal number the way the C library's strtol family does:
// leading white space (tab, line feed, vertical tab, form feed, carriage
// return, space) is skipped, one optional "+" or "-" is taken, then digits up
// to the first other character. No digits give 0. The result saturates at
// [min, max]. The text is read as if it ended at its first NUL.
std::int64_t ParseDecimalSaturating(std::wstring_view text,
                                    std::int64_t min,
                                    std::int64_t max);
std::int64_t ParseDecimalSaturating(std::string_view bytes,
                                    std::int64_t min,
                                    std::int64_t max);

// Decimal text of an unsigned number: no sign, no leading zeros.
std::wstring UnsignedToWide(std::uint64_t value);
