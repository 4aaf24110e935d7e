// One setup program at a time on a game folder. Every run that installs,
// updates, reinstalls or uninstalls holds "GormEkSetup.lock" in the folder
// while it changes anything there: the file is opened with no sharing and
// deleted as its handle closes, so it cannot outlive its holder (a crash
// or a kill closes the handle too). A file of that name that nothing holds
// (left by a power cut) is simply taken.
#pragma once

#include <string>

#include "platform/unique_handle.h"

enum class FolderLock {
  kTaken,     // lock holds the file; closing it releases the folder
  kHeld,      // another program holds it: another setup is at work
  kNotTaken,  // the file could not be created (no folder, no permission)
};

// Opens folder's lock file into lock (reset first).
FolderLock TakeFolderLock(const std::wstring& folder, UniqueFile& lock);

// "Another Gorm Ek setup is working on\n<folder>\nWait until it has
// finished, then try again."
std::wstring FolderLockedText(const std::wstring& folder);
