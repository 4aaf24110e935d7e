// The download site as the program sees it: "version.txt" holding the newest
// version as decimal text, and one package "GormEk-NNNN.zip" per version, side
// by side under g_state.siteUrl.
#pragma once

#include <string>
#include <string_view>

// siteUrl + "version.txt?t=" + GetTickCount64(), so no cache answers it.
std::wstring VersionUrl();

// The version file's body read as bytes, like strtol in base 10: leading
// white space, optional sign, digits up to the first other byte, saturating
// to the signed 32-bit range; no digits give 0. Stops at a NUL byte. Only a
// result above 0 is a usable version.
int ParseVersion(std::string_view body);

// "%04d": at least four digits, zero-padded.
std::wstring FormatVersion(int version);

// siteUrl + PackageFileName(version).
std::wstring PackageUrl(int version);

// The temporary folder + PackageFileName(version); "" when the temporary
// folder cannot be determined. The same path for every run of a version.
std::wstring PackageFilePath(int version);

// "GormEk-" + FormatVersion(version) + ".zip".
std::wstring PackageFileName(int version);
