// What only the tests use of the install pipeline.
#pragma once

#include <string>

// "GormEk-" + FormatVersion(version) + ".zip".
std::wstring PackageFileName(int version);

// The worker's failure text when the temporary folder cannot be determined.
extern const wchar_t kNoTempFolderText[];
