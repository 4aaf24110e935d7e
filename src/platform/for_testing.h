// What only the tests use of the platform helpers.
#pragma once

#include <windows.h>

#include <string>

// GetModuleFileNameW(module) into a buffer of `capacity` characters; "" when
// the call fails or the path does not fit (never a cut, shorter path).
std::wstring ModulePath(HMODULE module, DWORD capacity);
