#include "test_support.h"

#include <winsock2.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

#include "win_helpers.h"
#include "core/setup_state.h"
#include "pipeline/worker_messages.h"
#include "transfer/http_download.h"

// Puts every field of g_state back to its initial value: the tests run many
// scenarios in one process.
void ResetSetupState() {
  g_state.updateMode = false;
  g_state.installDir.clear();
  g_state.waitPids.clear();
  g_state.siteUrl = kDefaultSiteUrl;
  g_state.mainWindow = g_state.folderEdit = g_state.browseButton = nullptr;
  g_state.startMenuCheck = g_state.desktopCheck = g_state.launchCheck = nullptr;
  g_state.statusLabel = g_state.progressBar = nullptr;
  g_state.installButton = g_state.cancelButton = nullptr;
  g_state.normalFont = g_state.titleFont = nullptr;
  g_state.dpi = 96;
  g_state.lastFocus = g_state.focusBeforeRun = nullptr;
  g_state.cancelRequested.store(false);
  g_state.workerRunning = g_state.finished = g_state.cancelPending = false;
}

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
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr,
                                           0, KEY_WRITE, nullptr, &h, nullptr));
  EXPECT_EQ(
      ERROR_SUCCESS,
      RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), bytes));
  RegCloseKey(h);
}

void SetUserString(const wchar_t* key,
                   const wchar_t* name,
                   const std::wstring& value) {
  SetUserValue(key, name, REG_SZ, value.c_str(),
               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

namespace {
void DeleteTree(const std::wstring& path) {
  std::wstring from = path + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  SHFileOperationW(&op);
}
}  // namespace

std::wstring KnownFolder(const GUID& id) {
  return testcommon::KnownFolder(id);
}

ScratchDir::ScratchDir() {
  static int counter = 0;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"gormek-test-" +
          std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter);
  DeleteTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() {
  DeleteTree(path_);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << Narrow(path);
  DWORD written = 0;
  if (!bytes.empty())
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
  CloseHandle(h);
  ASSERT_EQ(bytes.size(), written);
}

void SetWriteTimeBack(const std::wstring& path, int seconds) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << Narrow(path);
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
  t.QuadPart -= static_cast<ULONGLONG>(seconds) * 10000000;
  const FILETIME back = {t.LowPart, t.HighPart};
  const BOOL set = SetFileTime(h, nullptr, nullptr, &back);
  CloseHandle(h);
  ASSERT_TRUE(set);
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

bool InThrowawayPrefix() {
  DWORD value = 0;
  DWORD size = sizeof(value);
  return RegGetValueW(HKEY_CURRENT_USER, kThrowawayMarkerKey, L"Throwaway",
                      RRF_RT_REG_DWORD, nullptr, &value,
                      &size) == ERROR_SUCCESS &&
         value == 1;
}

void StateTest::SetUp() {
  // These tests delete the game's registry keys: never on a machine where
  // the game may really be installed.
  ASSERT_TRUE(InThrowawayPrefix())
      << "not the test bench's throwaway Wine prefix (HKCU\\"
      << Narrow(kThrowawayMarkerKey)
      << " missing): run the tests with tools/check, or tools/testbench "
         "--fresh first";
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
  return testcommon::Utf8(text);
}

namespace {

// The fixture's folder, as a Unix path in GORMEK_TEST_SITE: "port" holds the
// port, "root" is what the site serves. Wine maps Unix paths to drive Z:.
std::wstring SiteStateDir() {
  wchar_t buffer[1024] = {};
  GetEnvironmentVariableW(L"GORMEK_TEST_SITE", buffer, 1024);
  std::wstring dir = buffer;
  EXPECT_FALSE(dir.empty()) << "GORMEK_TEST_SITE is not set";
  for (wchar_t& c : dir) {
    if (c == L'/')
      c = L'\\';
  }
  return L"Z:" + dir;
}

}  // namespace

std::wstring SiteUrl() {
  std::string port = ReadFileBytes(SiteStateDir() + L"\\port");
  while (!port.empty() && (port.back() == '\n' || port.back() == '\r'))
    port.pop_back();
  EXPECT_FALSE(port.empty()) << "the test site is not running";
  return L"http://127.0.0.1:" + std::wstring(port.begin(), port.end()) + L"/";
}

std::vector<std::string> SiteRequests(const std::string& fragment) {
  // An answer's line is written after its last byte has gone out: the site
  // answers this once every answer before it is in the log.
  std::string idle;
  std::wstring error;
  EXPECT_TRUE(HttpDownload(SiteUrl() + L"_control/idle", &idle, L"", {}, error))
      << Narrow(error);
  const std::string log = ReadFileBytes(SiteStateDir() + L"\\requests.log");
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos)
      end = log.size();
    const std::string line = log.substr(start, end - start);
    if (line.find(fragment) != std::string::npos)
      lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::wstring SiteFilePath(const std::wstring& name) {
  return SiteStateDir() + L"\\root\\" + name;
}

void WriteSiteFile(const std::wstring& name, const std::string& bytes) {
  WriteFileBytes(SiteFilePath(name), bytes);
}

namespace {

// A Unix path of the work tree (ASCII), as Wine shows it on drive Z:.
std::wstring OnDriveZ(const std::string& unixPath) {
  std::wstring path(unixPath.begin(), unixPath.end());
  for (wchar_t& c : path) {
    if (c == L'/')
      c = L'\\';
  }
  return L"Z:" + path;
}

}  // namespace

std::wstring HttpsFilePath(const std::wstring& folder,
                           const std::wstring& name) {
  return OnDriveZ(GORMEK_HTTPS_ROOT) + L"\\" + folder + L"\\" + name;
}

std::wstring FuzzRegression(const std::wstring& target,
                            const std::wstring& name) {
  return OnDriveZ(GORMEK_FUZZ_REGRESSIONS) + L"\\" + target + L"\\" + name;
}

std::wstring RefusingUrl() {
  // Bind a port, then close it: nothing listens there afterwards.
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  int len = sizeof(addr);
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  const unsigned port = ntohs(addr.sin_port);
  closesocket(s);
  return L"http://127.0.0.1:" + std::to_wstring(port) + L"/version.txt";
}

std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned x = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(x >> 16);
  }
  return bytes;
}

MessageRecorder::MessageRecorder() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"GormEkTestRecorder";
    RegisterClassW(&wc);
    registered = true;
  }
  window_ =
      CreateWindowExW(0, L"GormEkTestRecorder", L"", WS_POPUP, 0, 0, 1, 1,
                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageRecorder::~MessageRecorder() {
  Pump();
  DestroyWindow(window_);
}

LRESULT CALLBACK MessageRecorder::Proc(HWND hwnd,
                                       UINT msg,
                                       WPARAM wParam,
                                       LPARAM lParam) {
  auto* self = reinterpret_cast<MessageRecorder*>(
      GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && (msg == WM_SETUP_STATUS || msg == WM_SETUP_DONE)) {
    self->messages_.push_back({msg, wParam, TakePostedText(lParam)});
    return 0;
  }
  if (self && msg == WM_SETUP_PROGRESS) {
    self->messages_.push_back({msg, wParam, L""});
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

const std::vector<RecordedMessage>& MessageRecorder::Pump() {
  MSG msg;
  while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE))
    DispatchMessageW(&msg);
  return messages_;
}

std::vector<std::wstring> MessageRecorder::StatusTexts() {
  std::vector<std::wstring> texts;
  for (const RecordedMessage& m : Pump()) {
    if (m.message == WM_SETUP_STATUS)
      texts.push_back(m.text);
  }
  return texts;
}

std::vector<int> MessageRecorder::Positions() {
  std::vector<int> positions;
  for (const RecordedMessage& m : Pump()) {
    if (m.message == WM_SETUP_PROGRESS)
      positions.push_back(static_cast<int>(m.wParam));
  }
  return positions;
}

void MessageRecorder::Clear() {
  Pump();
  messages_.clear();
}

std::wstring TestPackage(const std::wstring& name) {
  return SiteStateDir() + L"\\packages\\" + name;
}

std::string PackageFileContent(const std::wstring& rel) {
  const std::string line = Narrow(rel) + "\n";
  std::string content;
  for (int i = 0; i < 100; ++i)
    content += line;
  return content;
}

namespace {
void ListInto(const std::wstring& folder,
              const std::wstring& prefix,
              std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListInto(folder + L"\\" + name, prefix + name + L"/", out);
    else
      out.push_back(prefix + name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}
}  // namespace

std::vector<std::wstring> ListFiles(const std::wstring& folder) {
  std::vector<std::wstring> files;
  ListInto(folder, L"", files);
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace test

namespace test {
ZipIndex ZipIndexOf(const std::string& zip) {
  const std::size_t tail = std::min<std::size_t>(zip.size(), 64 * 1024);
  ZipEnd end;
  ZipIndex index;
  EXPECT_TRUE(FindZipEnd(std::string_view(zip).substr(zip.size() - tail),
                         zip.size(), end));
  EXPECT_TRUE(ReadCentralDirectory(
      std::string_view(zip).substr(
          static_cast<std::size_t>(end.centralDirectoryOffset),
          static_cast<std::size_t>(end.centralDirectorySize)),
      end, index));
  return index;
}
}  // namespace test
