// What only the tests use of the transfer code.
#pragma once

#include <string>

// UnpackPackage with the directory that holds tar.exe given: the tests
// cannot take tar.exe away from the system directory they share.
bool UnpackPackageWithToolsIn(const std::wstring& systemDir,
                              const std::wstring& zipPath,
                              const std::wstring& destDir,
                              std::wstring& errorText);

// The failure text for a path that holds a double quote.
extern const wchar_t kQuoteInPathText[];

// The line added to "Could not reach ..." when a certificate was refused.
extern const wchar_t kCertificateHint[];

// True for WinINet's errors about a refused certificate (date, name,
// authority, revocation) and the secure channel.
bool IsCertificateError(unsigned long error);
