// Uninstall mode: removes the game folder, the shortcuts and both registry
// keys after the user confirms, from a temporary copy when started in the
// game folder.
#pragma once

#include <string>

// The whole uninstall flow; returns the exit code, 0 on every path.
// confirmed skips the question; relocated skips the move to a temporary copy.
int RunUninstall(bool confirmed, bool relocated);

// The folder an uninstall removes: the settings key's InstallDir, else the
// running program's directory. Used as read, not normalised.
std::wstring UninstallFolder();

// The safety test before a folder is deleted: "Gorm Ek.exe" is a file in it
// and its last seven characters are "Gorm Ek" (ASCII case ignored).
bool IsSafeToDelete(const std::wstring& folder);
