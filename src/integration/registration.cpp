#include "integration/registration.h"

#include <windows.h>

#include "core/setup_state.h"
#include "platform/sizes.h"
#include "platform/unique_handle.h"

namespace {

UniqueKey CreateUserKey(const wchar_t* path) {
  // The out value is defined only on success: a failed call must not hand
  // whatever it left there to an owner that would close it.
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS) {
    return UniqueKey();
  }
  return UniqueKey(raw);
}

// REG_SZ data is stored with its terminating NUL.
void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  RegSetValueExW(key, name, 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY key, const wchar_t* name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                 sizeof(value));
}

}  // namespace

void RegisterInstallation(const std::wstring& installDir,
                          const std::wstring& version) {
  const std::wstring& v = version;
  if (UniqueKey key = CreateUserKey(g_product.uninstallKey)) {
    SetString(key.get(), L"DisplayName", g_product.gameName);
    SetString(key.get(), L"DisplayVersion", v);
    SetString(key.get(), L"InstallLocation", installDir);
    SetString(key.get(), L"DisplayIcon",
              installDir + L"\\" + g_product.gameExe);
    SetString(
        key.get(), L"UninstallString",
        L"\"" + installDir + L"\\" + g_product.setupExe + L"\" /uninstall");
    SetDword(key.get(), L"NoModify", 1);
    SetDword(key.get(), L"NoRepair", 1);
    SetDword(key.get(), L"EstimatedSize",
             static_cast<DWORD>(FolderSize(installDir) / 1024));
  }
  if (UniqueKey key = CreateUserKey(g_product.settingsKey)) {
    SetString(key.get(), L"InstallDir", installDir);
    SetString(key.get(), L"Version", v);
  }
}

std::wstring RegisteredVersion() {
  wchar_t value[32] = {};
  DWORD bytes = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, g_product.settingsKey, L"Version",
                   RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
    return L"";
  return value;
}
