// Helpers shared by the unit tests: the real registry of the test prefix,
// scratch folders and the process-wide state.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/setup_state.h"
#include "transfer/zip_index.h"

// Puts every field of g_state back to its initial value: the tests run many
// scenarios in one process.
void ResetSetupState();

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
// Sets path's last-write time `seconds` before now.
void SetWriteTimeBack(const std::wstring& path, int seconds);
std::string ReadFileBytes(const std::wstring& path);

// The test bench marks its throwaway Wine prefix with the DWORD value
// "Throwaway" = 1 under HKCU\<kThrowawayMarkerKey>. True when it is there.
inline constexpr wchar_t kThrowawayMarkerKey[] = L"Software\\GormEkTestBench";
bool InThrowawayPrefix();

// Runs each test with g_state at its initial values and the two registry
// keys of the game absent. Refuses (fails without touching the registry)
// outside the test bench's throwaway prefix.
class StateTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

std::string Narrow(const std::wstring& text);

// The system's own answer for a known folder (no creation), "" on failure:
// an independent reference for the program's paths.
std::wstring KnownFolder(const GUID& id);

}  // namespace test

namespace test {

// The test site that CTest's fixture serves with tools/site: files written
// with WriteSiteFile are served at SiteUrl() + name.
std::wstring SiteUrl();
std::wstring SiteFilePath(const std::wstring& name);
void WriteSiteFile(const std::wstring& name, const std::string& bytes);
// The site's request log lines (one JSON object each) that hold `fragment`.
std::vector<std::string> SiteRequests(const std::string& fragment);
// The HTTPS site of tools/https-site (nginx, certificates from a throwaway
// authority that only the test prefix trusts): the good site and, on their
// own ports, its certificate faults and tools/site behind it for faults.
inline constexpr wchar_t kHttpsSite[] = L"https://localhost:47443/";
inline constexpr wchar_t kHttpsFaultSite[] = L"https://localhost:47449/";
inline constexpr wchar_t kTlsFaultSite[] = L"https://localhost:47450/";
// A file in one of its folders ("site", "fault-site"), as a Windows path.
std::wstring HttpsFilePath(const std::wstring& folder,
                           const std::wstring& name);
// An input kept in tests/fuzz/regressions/<target>/, as a Windows path.
std::wstring FuzzRegression(const std::wstring& target,
                            const std::wstring& name);
// A URL on 127.0.0.1 where nothing listens.
std::wstring RefusingUrl();

// Generated content: `size` bytes that differ from one position to the next.
std::string PatternBytes(std::size_t size, unsigned seed = 1);

// A window on the test's thread that records the worker's messages.
struct RecordedMessage {
  UINT message;
  WPARAM wParam;
  std::wstring text;  // for WM_SETUP_STATUS and WM_SETUP_DONE
};
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;
  HWND window() const { return window_; }
  // Delivers what is queued and returns everything recorded so far.
  const std::vector<RecordedMessage>& Pump();
  std::vector<std::wstring> StatusTexts();
  std::vector<int> Positions();
  void Clear();

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND window_ = nullptr;
  std::vector<RecordedMessage> messages_;
};

}  // namespace test

namespace test {
// A package written by make_test_packages.py, as a Windows path.
std::wstring TestPackage(const std::wstring& name);
// The content make_test_packages.py gives the file at rel ("/"-separated).
std::string PackageFileContent(const std::wstring& rel);
// Every file below folder as "/"-separated relative paths, sorted.
std::vector<std::wstring> ListFiles(const std::wstring& folder);
// The index of a whole zip in memory, read as an update reads it: the end
// records from the last 64 KiB, then the directory (a failure is reported).
ZipIndex ZipIndexOf(const std::string& zip);
}  // namespace test

namespace test {
// While one exists, every operator new on the creating thread throws
// std::bad_alloc, as when the computer is out of memory.
class FailAllocations {
 public:
  FailAllocations();
  ~FailAllocations();
  FailAllocations(const FailAllocations&) = delete;
  FailAllocations& operator=(const FailAllocations&) = delete;
};
}  // namespace test
