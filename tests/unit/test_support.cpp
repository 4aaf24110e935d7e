#include "test_support.h"

#include <shellapi.h>

namespace test {

void DeleteUserKey(const wchar_t* path) {
  RegDeleteTreeW(HKEY_CURRENT_USER, path);
  RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

void SetUserValue(const wchar_t* key,
                  const wchar_t* name,
                  DWORD type,
                  const void* data,
                  DWORD bytes) {
  HKEY h = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE,
                            nullptr, &h, nullptr));
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExW(h, name, 0, type,
                           static_cast<const BYTE*>(data), bytes));
  RegCloseKey(h);
}

void SetUserString(const wchar_t* key,
                   const wchar_t* name,
                   const std::wstring& value) {
  SetUserValue(key, name, REG_SZ, value.c_str(),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

ScratchDir::ScratchDir() {
  static int counter = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"gormek-test-" +
          std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter);
  std::wstring from = path_ + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  SHFileOperationW(&op);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() {
  std::wstring from = path_ + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  SHFileOperationW(&op);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << Narrow(path);
  DWORD written = 0;
  if (!bytes.empty())
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
  CloseHandle(h);
  ASSERT_EQ(bytes.size(), written);
}

bool FileExists(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string result;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return result;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    result.append(buffer, got);
  CloseHandle(h);
  return result;
}

void StateTest::SetUp() {
  ResetSetupState();
  DeleteUserKey(g_product.uninstallKey);
  DeleteUserKey(g_product.settingsKey);
}

void StateTest::TearDown() {
  ResetSetupState();
  DeleteUserKey(g_product.uninstallKey);
  DeleteUserKey(g_product.settingsKey);
}

std::string Narrow(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace test
