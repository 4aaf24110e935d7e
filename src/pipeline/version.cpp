#include "pipeline/version.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <limits>

#include "platform/paths.h"
#include "platform/text.h"
#include "startup/setup_state.h"

std::wstring VersionUrl() {
  return g_state.siteUrl + L"version.txt?t=" + UnsignedToWide(GetTickCount64());
}

int ParseVersion(std::string_view body) {
  return static_cast<int>(
      ParseDecimalSaturating(body, std::numeric_limits<std::int32_t>::min(),
                             std::numeric_limits<std::int32_t>::max()));
}

std::wstring FormatVersion(int version) {
  wchar_t buffer[16] = {};
  swprintf(buffer, 16, L"%04d", version);
  return buffer;
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
