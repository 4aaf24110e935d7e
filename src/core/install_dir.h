// Which folder the game goes into: normalising folder texts, the install
// mode's default folder, and the check of the folder box's text.
#pragma once

#include <windows.h>

#include <string>

// Trims trailing spaces, backslashes and slashes and leading spaces, then
// appends "\Gorm Ek" unless the text already ends in "Gorm Ek" (ASCII letters
// compared without case). Pure; "" becomes "\Gorm Ek".
std::wstring NormalizeInstallDir(std::wstring text);

// The settings key's "InstallDir" as stored, or "" when it cannot be read as
// a string of fewer than 1024 characters.
std::wstring ReadRegisteredInstallDir();

// Sets g_state.installDir to the registered folder, else to the per-user
// programs folder + "\Gorm Ek". Not normalised.
void SetDefaultInstallDir();

// The full-path check of the Install button: sets g_state.installDir to
// NormalizeInstallDir(boxText) in every case and returns whether it is
// accepted: at least three characters with a colon as the second.
bool AcceptInstallDir(const std::wstring& boxText);

// The per-user programs folder: FOLDERID_UserProgramFiles, else (that lookup
// fails under Wine) FOLDERID_LocalAppData + "\Programs", which is its own
// default on Windows; "" when both fail.
std::wstring UserProgramsFolder();
