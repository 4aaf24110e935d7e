#include "integration/shortcuts.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include "platform/com_ptr.h"
#include "startup/setup_state.h"

namespace {

constexpr GUID kFolderPrograms = {
    0xA77F5D77,
    0x2E2B,
    0x44C3,
    {0xA6, 0xA2, 0xAB, 0xA6, 0x01, 0x05, 0x4A, 0x51}};
constexpr GUID kFolderDesktop = {
    0xB4BFCC3A,
    0xDB2C,
    0x424C,
    {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}};

std::wstring ShortcutIn(const GUID& folderId) {
  PWSTR raw = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(folderId, KF_FLAG_CREATE, nullptr, &raw)) &&
      raw) {
    folder = raw;
  }
  CoTaskMemFree(raw);
  if (folder.empty())
    return std::wstring();
  return folder + L"\\Gorm Ek.lnk";
}

}  // namespace

std::wstring StartMenuShortcutPath() {
  return ShortcutIn(kFolderPrograms);
}

std::wstring DesktopShortcutPath() {
  return ShortcutIn(kFolderDesktop);
}

bool CreateShortcut(const std::wstring& linkPath,
                    const std::wstring& targetPath,
                    const std::wstring& workingFolder) {
  if (linkPath.empty())
    return false;
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IShellLinkW, link.put_void()))) {
    return false;
  }
  link->SetPath(targetPath.c_str());
  link->SetWorkingDirectory(workingFolder.c_str());
  link->SetIconLocation(targetPath.c_str(), 0);
  link->SetDescription(g_product.gameName);
  ComPtr<IPersistFile> file;
  if (FAILED(link.As(IID_IPersistFile, file)))
    return false;
  return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}
