// Paths the system reports about this process.
#pragma once

#include <windows.h>

#include <string>

// The temporary folder as GetTempPathW(260) reports it (ending in a
// backslash), or "" when it cannot be determined.
std::wstring TempFolder();

// The running program's full path: ModulePath(NULL, 260).
std::wstring OwnExecutablePath();

// True when path names an existing file (not a folder).
bool IsFile(const std::wstring& path);

// SHGetKnownFolderPath(id, KF_FLAG_CREATE), or "" when the lookup fails. The
// system's buffer is freed on both paths.
std::wstring KnownFolderPath(const GUID& id);

// The known folders the program uses, declared here rather than taken from
// uuid.lib's FOLDERID_ symbols.
extern const GUID kFolderUserProgramFiles;
extern const GUID kFolderLocalAppData;
extern const GUID kFolderPrograms;
extern const GUID kFolderDesktop;

// GetModuleFileNameW(module) into a buffer of `capacity` characters; "" when
// the call fails or the path does not fit (never a cut, shorter path).
std::wstring ModulePath(HMODULE module, DWORD capacity);
