// The game's entry in the current user's list of installed programs (the
// Uninstall key) and its settings key, both under HKEY_CURRENT_USER.
#pragma once

#include <string>

// Writes the Uninstall key's DisplayName, DisplayVersion, InstallLocation,
// DisplayIcon, UninstallString, NoModify, NoRepair and EstimatedSize (KiB),
// then the settings key's InstallDir and Version. Values not listed stay.
// Best effort: failures are silent and each key is tried on its own.
// version is the formatted version ("0042"), as DisplayVersion and Version
// hold it.
void RegisterInstallation(const std::wstring& installDir,
                          const std::wstring& version);

// The settings key's Version ("0042"), as the last successful run wrote it;
// "" when there is none.
std::wstring RegisteredVersion();
