// Unpacking the downloaded zip package with the tar.exe that Windows 10
// (1803 and later) ships in the system directory.
#pragma once

#include <functional>
#include <string>

// Runs "<system dir>\tar.exe" -xf "<zipPath>" -C "<destDir>" without a
// window and waits for it. True when tar exited with code 0. On false,
// errorText holds one user-facing sentence; on true it is untouched. The
// package is never deleted here. destDir must not end in a backslash. A path
// holding a double quote is refused with kQuoteInPathText before anything
// is started.
bool UnpackPackage(const std::wstring& zipPath,
                   const std::wstring& destDir,
                   std::wstring& errorText);

// UnpackPackage with the directory that holds tar.exe given: the tests
// cannot take tar.exe away from the system directory they share. When tar
// could not be started, beforeSecondTry (if any) runs before the one more
// try that follows a short wait: the tests end there what held tar.exe.
bool UnpackPackageWithToolsIn(
    const std::wstring& systemDir,
    const std::wstring& zipPath,
    const std::wstring& destDir,
    std::wstring& errorText,
    const std::function<void()>& beforeSecondTry = {});

// The failure text for a path that holds a double quote.
extern const wchar_t kQuoteInPathText[];
