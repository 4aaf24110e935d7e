// Small helpers that the unit tests and the UI driver (two programs) share.
#pragma once

#include <windows.h>

#include <string>

namespace testcommon {

// UTF-16 to UTF-8.
std::string Utf8(const std::wstring& text);

// The system's own answer for a known folder (no creation), "" on failure:
// an independent reference for the program's paths.
std::wstring KnownFolder(const GUID& id);

}  // namespace testcommon
