#include "startup/install_dir.h"

#include <shlobj.h>

#include "platform/text.h"
#include "startup/setup_state.h"

namespace {

// Declared here rather than taken from uuid.lib's FOLDERID_ symbols.
constexpr GUID kFolderUserProgramFiles = {
    0x5CD7AEE2,
    0x2219,
    0x4A67,
    {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}};
constexpr GUID kFolderLocalAppData = {
    0xF1B32785,
    0x6FBA,
    0x4FCF,
    {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

constexpr wchar_t kFolderSuffix[] = L"\\Gorm Ek";

bool KnownFolder(const GUID& id, std::wstring& path) {
  PWSTR raw = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &raw);
  if (SUCCEEDED(hr) && raw)
    path = raw;
  // The buffer is ours to free on failure too.
  CoTaskMemFree(raw);
  return SUCCEEDED(hr) && !path.empty();
}

}  // namespace

std::wstring NormalizeInstallDir(std::wstring text) {
  while (!text.empty() &&
         (text.back() == L' ' || text.back() == L'\\' || text.back() == L'/')) {
    text.pop_back();
  }
  std::size_t start = 0;
  while (start < text.size() && text[start] == L' ')
    ++start;
  text.erase(0, start);
  if (EndsWithAsciiNoCase(text, g_product.gameName))
    return text;
  return text + kFolderSuffix;
}

std::wstring ReadRegisteredInstallDir() {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer);
  const LSTATUS status =
      RegGetValueW(HKEY_CURRENT_USER, g_product.settingsKey, L"InstallDir",
                   RRF_RT_REG_SZ, nullptr, buffer, &size);
  if (status != ERROR_SUCCESS)
    return std::wstring();
  buffer[1023] = L'\0';
  return std::wstring(buffer);
}

std::wstring UserProgramsFolder() {
  std::wstring path;
  if (KnownFolder(kFolderUserProgramFiles, path))
    return path;
  path.clear();
  if (KnownFolder(kFolderLocalAppData, path))
    return path + L"\\Programs";
  return std::wstring();
}

void SetDefaultInstallDir() {
  g_state.installDir = ReadRegisteredInstallDir();
  if (g_state.installDir.empty())
    g_state.installDir = UserProgramsFolder() + kFolderSuffix;
}

std::wstring ReadFolderBoxText(HWND edit) {
  wchar_t buffer[MAX_PATH] = {};
  GetWindowTextW(edit, buffer, MAX_PATH);
  return std::wstring(buffer);
}

bool AcceptInstallDir(const std::wstring& boxText) {
  g_state.installDir = NormalizeInstallDir(boxText);
  return g_state.installDir.size() >= 3 && g_state.installDir[1] == L':';
}
