#include "platform/paths.h"

#include <windows.h>

#include <shlobj.h>

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = GetTempPathW(MAX_PATH, buffer);
  // 0 is failure; a result above the buffer size is the size it would need.
  if (n == 0 || n >= MAX_PATH)
    return std::wstring();
  return std::wstring(buffer, n);
}

std::wstring ModulePath(HMODULE module, DWORD capacity) {
  std::wstring buffer(capacity, L'\0');
  const DWORD n = GetModuleFileNameW(module, buffer.data(), capacity);
  // A full buffer means the path was cut: a shorter path would name another
  // file or folder, so a cut path counts as none.
  if (n == 0 || n >= capacity)
    return std::wstring();
  buffer.resize(n);
  return buffer;
}

std::wstring OwnExecutablePath() {
  return ModulePath(nullptr, MAX_PATH);
}

const GUID kFolderUserProgramFiles = {
    0x5CD7AEE2,
    0x2219,
    0x4A67,
    {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}};
const GUID kFolderLocalAppData = {
    0xF1B32785,
    0x6FBA,
    0x4FCF,
    {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
const GUID kFolderPrograms = {0xA77F5D77,
                              0x2E2B,
                              0x44C3,
                              {0xA6, 0xA2, 0xAB, 0xA6, 0x01, 0x05, 0x4A, 0x51}};
const GUID kFolderDesktop = {0xB4BFCC3A,
                             0xDB2C,
                             0x424C,
                             {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}};

bool IsFile(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring KnownFolderPath(const GUID& id) {
  PWSTR raw = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &raw)) && raw)
    path = raw;
  // The buffer is ours to free on failure too.
  CoTaskMemFree(raw);
  return path;
}
