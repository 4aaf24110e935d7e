#include "removal/uninstall.h"

#include <windows.h>

#include <shellapi.h>

#include "core/folder_lock.h"
#include "integration/shortcuts.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "relaunch/relaunch.h"
#include "core/install_dir.h"
#include "core/setup_state.h"

namespace {

const wchar_t kTitle[] = L"Uninstall Gorm Ek";

void DeleteShortcut(const std::wstring& path) {
  // An unknown folder gives no path: never a bare "\Gorm Ek.lnk".
  if (!path.empty())
    DeleteFileW(path.c_str());
}

// True when the whole folder went away.
bool DeleteFolder(const std::wstring& folder) {
  std::wstring from = folder;
  from.push_back(L'\0');  // a list of exactly one path, double-NUL ended
  SHFILEOPSTRUCTW op = {};
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.pTo = nullptr;
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  const int result = SHFileOperationW(&op);
  return result == 0 && !op.fAnyOperationsAborted;
}

}  // namespace

std::wstring UninstallFolder(bool relocated, const std::wstring& handedFolder) {
  // The copy removes exactly the folder its parent asked about: read anew,
  // the registry may hold nothing (a cleaner, an older install), and the
  // copy's own folder is the temporary folder. The parent ran from that
  // folder, so it holds the setup program; a hand-written "/folder" naming
  // any other folder (a backup of the game) is ignored, so the command line
  // can remove no more than "/uninstall /confirmed" already could.
  if (relocated && !handedFolder.empty() &&
      IsFile(handedFolder + L"\\" + g_product.setupExe)) {
    return handedFolder;
  }
  std::wstring folder = ReadRegisteredInstallDir();
  if (folder.empty())
    folder = ProgramDirectory();
  return folder;
}

std::vector<std::wstring> UninstallRelaunchArguments(
    const std::wstring& folder) {
  return {L"/uninstall", L"/confirmed", L"/folder", folder};
}

bool IsSafeToDelete(const std::wstring& folder) {
  if (!IsFile(folder + L"\\" + g_product.gameExe))
    return false;
  const std::wstring name = g_product.gameName;
  const std::wstring tail = folder.size() >= name.size()
                                ? folder.substr(folder.size() - name.size())
                                : folder;
  return EqualsAsciiNoCase(tail, name);
}

int RunUninstall(bool confirmed,
                 bool relocated,
                 const std::wstring& handedFolder) {
  const std::wstring folder = UninstallFolder(relocated, handedFolder);

  if (!confirmed) {
    const std::wstring question = L"Remove Gorm Ek from\n" + folder + L" ?";
    if (MessageBoxW(nullptr, question.c_str(), kTitle,
                    MB_YESNO | MB_ICONQUESTION) != IDYES) {
      return 0;
    }
  }

  if (!relocated && IsRunningFromFolder(folder) &&
      RelaunchFromTempCopy(UninstallRelaunchArguments(folder))) {
    return 0;
  }

  WaitForProcesses(g_state.waitPids);

  // Nothing is removed while a setup program works on the game: it would
  // go on into a folder half deleted. The lock keeps others out until the
  // folder's own deletion, which must take the lock file too. A folder
  // that fails the safety test is never written to, not even for a lock.
  const bool safe = IsSafeToDelete(folder);
  UniqueFile lock;
  if (safe && TakeFolderLock(folder, lock) == FolderLock::kHeld) {
    MessageBoxW(nullptr, FolderLockedText(folder).c_str(), kTitle,
                MB_OK | MB_ICONWARNING);
    return 0;
  }

  DeleteShortcut(StartMenuShortcutPath());
  DeleteShortcut(DesktopShortcutPath());

  bool folderFullyRemoved = true;
  if (safe) {
    lock.reset();
    folderFullyRemoved = DeleteFolder(folder);
  }

  RegDeleteTreeW(HKEY_CURRENT_USER, g_product.uninstallKey);
  RegDeleteTreeW(HKEY_CURRENT_USER, g_product.settingsKey);

  if (folderFullyRemoved) {
    MessageBoxW(nullptr, L"Gorm Ek was removed.", kTitle,
                MB_OK | MB_ICONINFORMATION);
  } else {
    const std::wstring text =
        L"Gorm Ek was removed, but some files could not be deleted.\n"
        L"Close the game and delete this folder by hand:\n" +
        folder;
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONWARNING);
  }
  return 0;
}
