// UI driver commands that read or reset what the setup program leaves on
// the machine: registry keys, shortcuts, temporary files, and a file held
// open the way a running game holds it.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "driver_common.h"

namespace {

const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GormEk";
const wchar_t kSettingsKey[] = L"Software\\GormEk";

std::wstring Known(REFKNOWNFOLDERID id) {
  return testcommon::KnownFolder(id);
}

std::wstring Temp() {
  wchar_t buffer[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, buffer);
  return buffer;
}

void DeleteMatching(const std::wstring& folder, const std::wstring& pattern) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + pattern).c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    DeleteFileW((folder + entry.cFileName).c_str());
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

std::string KeyJson(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return "null";
  std::string out = "{";
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLen = 256;
    BYTE data[8192];
    DWORD dataLen = sizeof(data);
    DWORD type = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &dataLen) !=
        ERROR_SUCCESS)
      break;
    std::string value;
    if (type == REG_DWORD && dataLen == 4) {
      DWORD v = 0;
      memcpy(&v, data, 4);
      value = std::to_string(v);
    } else {
      // Strings as text without their terminator; "bytes" keeps the length.
      std::wstring text(reinterpret_cast<wchar_t*>(data), dataLen / 2);
      if (!text.empty() && text.back() == L'\0')
        text.pop_back();
      value = Json(text);
    }
    out += (out.size() > 1 ? "," : "") + Json(std::wstring(name, nameLen)) +
           ":{\"type\":" + std::to_string(type) +
           ",\"bytes\":" + std::to_string(dataLen) + ",\"data\":" + value + "}";
  }
  RegCloseKey(key);
  return out + "}";
}

bool ReadLink(const std::wstring& file) {
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr,
                                       CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&link))) &&
            SUCCEEDED(link->QueryInterface(
                IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
            SUCCEEDED(persist->Load(file.c_str(), STGM_READ));
  if (ok) {
    wchar_t path[1024] = {}, dir[1024] = {}, icon[1024] = {}, desc[1024] = {},
            args[1024] = {};
    int iconIndex = -1;
    link->GetPath(path, 1024, nullptr, SLGP_RAWPATH);
    link->GetWorkingDirectory(dir, 1024);
    link->GetIconLocation(icon, 1024, &iconIndex);
    link->GetDescription(desc, 1024);
    link->GetArguments(args, 1024);
    Emit("{\"target\":" + Json(path) + ",\"workdir\":" + Json(dir) +
         ",\"icon\":" + Json(icon) + ",\"iconIndex\":" +
         std::to_string(iconIndex) + ",\"description\":" + Json(desc) +
         ",\"arguments\":" + Json(args) + "}");
  }
  if (persist)
    persist->Release();
  if (link)
    link->Release();
  return ok ? true : Fail("cannot read the shortcut");
}

}  // namespace

bool RunStateCommand(const std::vector<std::wstring>& args, bool& handled) {
  handled = true;
  const std::wstring& cmd = args[0];
  const std::wstring startMenuLink =
      Known(FOLDERID_Programs) + L"\\Gorm Ek.lnk";
  const std::wstring desktopLink = Known(FOLDERID_Desktop) + L"\\Gorm Ek.lnk";
  if (cmd == L"paths") {
    Emit("{\"temp\":" + Json(Temp()) + ",\"startMenuLink\":" +
         Json(startMenuLink) + ",\"desktopLink\":" + Json(desktopLink) +
         ",\"localAppData\":" + Json(Known(FOLDERID_LocalAppData)) + "}");
    return true;
  }
  if (cmd == L"reset-state") {
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    DeleteFileW(startMenuLink.c_str());
    DeleteFileW(desktopLink.c_str());
    DeleteMatching(Temp(), L"GormEk-*.zip");
    DeleteMatching(Temp(), L"GormEkSetup*.exe");
    // A test that was stopped half-way may have left another TEMP behind.
    HKEY env = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_WRITE, &env) ==
        ERROR_SUCCESS) {
      const wchar_t temp[] = L"%USERPROFILE%\\Temp";
      for (const wchar_t* name : {L"TEMP", L"TMP"}) {
        RegSetValueExW(env, name, 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(temp), sizeof(temp));
      }
      RegCloseKey(env);
    }
    Emit("{\"reset\":true}");
    return true;
  }
  if (cmd == L"reg-dump") {
    Emit("{\"uninstall\":" + KeyJson(kUninstallKey) +
         ",\"settings\":" + KeyJson(kSettingsKey) + "}");
    return true;
  }
  if (cmd == L"set-install-dir" && args.size() > 1) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE,
                    nullptr, &key, nullptr);
    RegSetValueExW(key, L"InstallDir", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(args[1].c_str()),
                   static_cast<DWORD>((args[1].size() + 1) * 2));
    RegCloseKey(key);
    Emit("{\"installDir\":" + Json(args[1]) + "}");
    return true;
  }
  if (cmd == L"reg-delete-value" && args.size() > 2) {
    // reg-delete-value settings|uninstall NAME: as a registry cleaner would.
    const wchar_t* key = args[1] == L"settings" ? kSettingsKey : kUninstallKey;
    const LSTATUS status =
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, args[2].c_str());
    Emit("{\"deleted\":" +
         std::string(status == ERROR_SUCCESS ? "true" : "false") + "}");
    return true;
  }
  if (cmd == L"read-link" && args.size() > 1)
    return ReadLink(args[1]);
  if (cmd == L"hold-file" && args.size() > 2) {
    // Opens the file without sharing and keeps it for the given time, as a
    // running game holds its files.
    HANDLE f = CreateFileW(args[1].c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
      return Fail("cannot open the file");
    Emit("{\"holding\":" + Json(args[1]) +
         ",\"pid\":" + std::to_string(GetCurrentProcessId()) +
         ",\"tick\":" + std::to_string(GetTickCount64()) + "}");
    Sleep(static_cast<DWORD>(wcstol(args[2].c_str(), nullptr, 10)));
    CloseHandle(f);
    return true;
  }
  handled = false;
  return false;
}
