#include "win_helpers.h"

#include <shlobj.h>

namespace testcommon {

std::string Utf8(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring KnownFolder(const GUID& id) {
  PWSTR raw = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &raw)))
    path = raw;
  CoTaskMemFree(raw);
  return path;
}

}  // namespace testcommon
