#include "integration/shortcuts.h"

#include <windows.h>

#include <shobjidl.h>

#include "platform/com_ptr.h"
#include "platform/paths.h"
#include "core/setup_state.h"

namespace {

std::wstring ShortcutIn(const GUID& folderId) {
  const std::wstring folder = KnownFolderPath(folderId);
  return folder.empty() ? std::wstring() : folder + L"\\Gorm Ek.lnk";
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
