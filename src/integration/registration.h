// The game's entry in the current user's list of installed programs (the
// Uninstall key) and its settings key, both under HKEY_CURRENT_USER.
#pragma once

#include <cstdint>
#include <string>

// Writes the Uninstall key's DisplayName, DisplayVersion, InstallLocation,
// DisplayIcon, UninstallString, NoModify, NoRepair and EstimatedSize (KiB),
// then the settings key's InstallDir and Version. Values not listed stay.
// Best effort: failures are silent and each key is tried on its own.
void RegisterInstallation(const std::wstring& installDir, int version);

// Total size in bytes of all files below folder, hidden and system files
// included. A subfolder that cannot be listed counts 0. Junctions and
// symbolic links to folders are not followed, so a link back to an ancestor
// cannot make the walk endless (the link's own entry adds nothing).
std::uint64_t FolderSize(const std::wstring& folder);
