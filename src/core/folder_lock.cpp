#include "core/folder_lock.h"

#include <windows.h>

#include "core/setup_state.h"

FolderLock TakeFolderLock(const std::wstring& folder, UniqueFile& lock) {
  // OPEN_ALWAYS, not CREATE_ALWAYS: a file left behind with other
  // attributes is taken as it is rather than refused.
  lock.reset(CreateFileW((folder + L"\\" + g_product.lockFile).c_str(),
                         GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                         nullptr));
  if (lock)
    return FolderLock::kTaken;
  return GetLastError() == ERROR_SHARING_VIOLATION ? FolderLock::kHeld
                                                   : FolderLock::kNotTaken;
}

std::wstring FolderLockedText(const std::wstring& folder) {
  return L"Another Gorm Ek setup is working on\n" + folder +
         L"\nWait until it has finished, then try again.";
}
