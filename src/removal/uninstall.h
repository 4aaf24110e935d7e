// Uninstall mode: removes the game folder, the shortcuts and both registry
// keys after the user confirms, from a temporary copy when started in the
// game folder.
#pragma once

#include <string>
#include <vector>

// The whole uninstall flow; returns the exit code, 0 on every path.
// confirmed skips the question; relocated skips the move to a temporary copy;
// handedFolder is the "/folder" value of the command line ("" when absent).
int RunUninstall(bool confirmed,
                 bool relocated,
                 const std::wstring& handedFolder);

// The folder an uninstall removes. A relocated run takes the handed-over
// folder when it holds "GormEkSetup.exe" (its parent ran from there); every
// other run, and a relocated one whose handed folder does not hold it, takes
// the settings key's InstallDir, else the running program's directory. Used
// as read, not normalised.
std::wstring UninstallFolder(bool relocated, const std::wstring& handedFolder);

// What a relocating uninstall hands to its temporary copy: "/uninstall",
// "/confirmed", then "/folder" and the folder the user was asked about.
std::vector<std::wstring> UninstallRelaunchArguments(
    const std::wstring& folder);

// The safety test before a folder is deleted: "Gorm Ek.exe" is a file in it
// and its last seven characters are "Gorm Ek" (ASCII case ignored).
bool IsSafeToDelete(const std::wstring& folder);
