// Paths the system reports about this process.
#pragma once

#include <string>

// The temporary folder as GetTempPathW(260) reports it (ending in a
// backslash), or "" when it cannot be determined.
std::wstring TempFolder();

// GetModuleFileNameW(NULL) into a buffer of 260 characters.
std::wstring OwnExecutablePath();
