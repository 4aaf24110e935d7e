// Helpers shared by the unit tests: the real registry of the test prefix,
// scratch folders and the process-wide state.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "startup/setup_state.h"

namespace test {

// Deletes HKCU\<path> and everything below it; a missing key is fine.
void DeleteUserKey(const wchar_t* path);

// Writes a value of any type under HKCU\<key>, creating the key.
void SetUserValue(const wchar_t* key,
                  const wchar_t* name,
                  DWORD type,
                  const void* data,
                  DWORD bytes);
void SetUserString(const wchar_t* key,
                   const wchar_t* name,
                   const std::wstring& value);

// A fresh, empty folder under the prefix's temporary folder, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// Writes bytes to a file (creating or truncating it).
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);

// Runs each test with g_state at its initial values and the two registry
// keys of the game absent.
class StateTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

std::string Narrow(const std::wstring& text);

}  // namespace test
