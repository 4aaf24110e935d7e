// WinINet, loaded at run time from System32 only: the program does not
// import wininet.dll, so a DLL of that name planted beside a downloaded setup
// program is never loaded.
#pragma once

#include <windows.h>

#include <wininet.h>

struct WinInetApi {
  decltype(&::InternetOpenW) InternetOpenW;
  decltype(&::InternetOpenUrlW) InternetOpenUrlW;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&::InternetReadFile) InternetReadFile;
  decltype(&::InternetCloseHandle) InternetCloseHandle;
  decltype(&::InternetSetOptionW) InternetSetOptionW;
};

// The loaded functions, or null when wininet.dll or one of them cannot be
// had. Loaded once per process and kept until it ends; thread-safe.
const WinInetApi* LoadWinInet();
