// What only the tests use of relocation and uninstall: the pieces the
// relaunch line and the uninstall's choices are made of.
#pragma once

#include <string>
#include <vector>

// The relaunch command line for a copy at copyPath.
std::wstring RelaunchCommandLine(const std::wstring& copyPath,
                                 const std::vector<std::wstring>& arguments,
                                 unsigned long processId);

// One argument in double quotes, escaped the way CommandLineToArgvW reads it
// back: backslashes before a quote (and before the closing quote) doubled,
// quotes escaped. A value without quotes or trailing backslashes is only
// enclosed in quotes.
std::wstring QuoteArgument(const std::wstring& value);

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
