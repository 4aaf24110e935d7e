#include "core/install_dir.h"

#include "platform/paths.h"
#include "platform/text.h"
#include "core/setup_state.h"

namespace {

constexpr wchar_t kFolderSuffix[] = L"\\Gorm Ek";

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
  const std::wstring programs = KnownFolderPath(kFolderUserProgramFiles);
  if (!programs.empty())
    return programs;
  // Under Wine the lookup above always fails; this is its default on Windows.
  const std::wstring local = KnownFolderPath(kFolderLocalAppData);
  return local.empty() ? std::wstring() : local + L"\\Programs";
}

void SetDefaultInstallDir() {
  g_state.installDir = ReadRegisteredInstallDir();
  if (g_state.installDir.empty())
    g_state.installDir = UserProgramsFolder() + kFolderSuffix;
}

bool AcceptInstallDir(const std::wstring& boxText) {
  g_state.installDir = NormalizeInstallDir(boxText);
  return g_state.installDir.size() >= 3 && g_state.installDir[1] == L':';
}
