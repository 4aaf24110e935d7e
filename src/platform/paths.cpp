#include "platform/paths.h"

#include <windows.h>

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = GetTempPathW(MAX_PATH, buffer);
  // 0 is failure; a result above the buffer size is the size it would need.
  if (n == 0 || n >= MAX_PATH)
    return std::wstring();
  return std::wstring(buffer, n);
}

std::wstring OwnExecutablePath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, n < MAX_PATH ? n : MAX_PATH - 1);
}
