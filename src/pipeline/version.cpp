#include "pipeline/version.h"

#include <windows.h>

#include <cstdint>
#include <limits>

#include "platform/paths.h"
#include "platform/text.h"
#include "core/setup_state.h"

std::wstring VersionUrl() {
  return g_state.siteUrl + L"version.txt?t=" + UnsignedToWide(GetTickCount64());
}

int ParseVersion(std::string_view body) {
  return static_cast<int>(
      ParseDecimalSaturating(body, std::numeric_limits<std::int32_t>::min(),
                             std::numeric_limits<std::int32_t>::max()));
}

std::wstring FormatVersion(int version) {
  // As "%04d" writes it: at least four characters, zero-padded after the
  // sign of a negative number.
  const bool negative = version < 0;
  const std::uint64_t magnitude =
      negative ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(version))
               : static_cast<std::uint64_t>(version);
  std::wstring digits = UnsignedToWide(magnitude);
  const std::size_t width = negative ? 3 : 4;
  if (digits.size() < width)
    digits.insert(0, width - digits.size(), L'0');
  return negative ? L"-" + digits : digits;
}

std::wstring PackageFileName(int version) {
  return L"GormEk-" + FormatVersion(version) + L".zip";
}

std::wstring PackageUrl(int version) {
  return g_state.siteUrl + PackageFileName(version);
}

std::wstring PackageFilePath(int version) {
  const std::wstring temp = TempFolder();
  if (temp.empty())
    return std::wstring();
  return temp + PackageFileName(version);
}
