// The sample game that the demo and the end-to-end tests publish as
// "Gorm Ek.exe". It shows its version (from game-version.txt beside it) and
// offers to update, which starts its folder's GormEkSetup.exe with
// "/update <folder> /pid <its id>" and ends. A real game needs nothing more:
// the setup program knows its download site. The sample is published to
// local test sites, so it hands on the site named in site.txt beside it, if
// any, with "/site". Every start is logged to %TEMP%\GormEk-game-log.txt, so
// tests can see that it was started.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kUpdateId = 201;
std::wstring g_folder;
std::wstring g_version = L"?";

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/"));
}

// The first line of a small ASCII file beside the game.
std::wstring ReadLineBeside(const wchar_t* name) {
  HANDLE f = CreateFileW((g_folder + L"\\" + name).c_str(), GENERIC_READ,
                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE)
    return std::wstring();
  char buffer[512] = {};
  DWORD got = 0;
  ReadFile(f, buffer, sizeof(buffer) - 1, &got, nullptr);
  CloseHandle(f);
  std::wstring line;
  for (DWORD i = 0; i < got && buffer[i] != '\r' && buffer[i] != '\n'; ++i)
    line += static_cast<wchar_t>(static_cast<unsigned char>(buffer[i]));
  return line;
}

std::wstring ReadVersion() {
  const std::wstring v = ReadLineBeside(L"game-version.txt");
  return v.empty() ? L"?" : v;
}

void LogStart() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  const std::wstring line =
      L"started pid=" + std::to_wstring(GetCurrentProcessId()) + L" version=" +
      g_version + L" folder=" + g_folder + L" cwd=" + cwd + L" args=" +
      GetCommandLineW() + L"\r\n";
  char utf8[4096] = {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8,
                                    sizeof(utf8), nullptr, nullptr);
  HANDLE f = CreateFileW((std::wstring(temp) + L"GormEk-game-log.txt").c_str(),
                         FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(f, utf8, static_cast<DWORD>(n > 0 ? n - 1 : 0), &written,
              nullptr);
    CloseHandle(f);
  }
}

void StartUpdate(HWND window) {
  const std::wstring setup = g_folder + L"\\GormEkSetup.exe";
  std::wstring line = L"\"" + setup + L"\" /update \"" + g_folder +
                      L"\" /pid " + std::to_wstring(GetCurrentProcessId());
  const std::wstring site = ReadLineBeside(L"site.txt");
  if (!site.empty())
    line += L" /site \"" + site + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     g_folder.c_str(), &si, &pi)) {
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    DestroyWindow(window);
  } else {
    MessageBoxW(window, L"GormEkSetup.exe could not be started.", L"Gorm Ek",
                MB_OK | MB_ICONERROR);
  }
}

LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wp) == kUpdateId) {
        StartUpdate(w);
        return 0;
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  g_folder = OwnFolder();
  g_version = ReadVersion();
  LogStart();

  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"GormEkSample";
  RegisterClassW(&wc);
  const std::wstring title = L"Gorm Ek " + g_version;
  HWND w = CreateWindowExW(0, L"GormEkSample", title.c_str(),
                           WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 60, 60, 360,
                           170, nullptr, nullptr, instance, nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const std::wstring text = L"Gorm Ek, version " + g_version +
                            L". This sample stands in for the game.";
  HWND label =
      CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, 16, 16,
                      320, 40, w, nullptr, instance, nullptr);
  HWND button = CreateWindowExW(
      0, L"BUTTON", L"Update", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 16, 70, 100,
      28, w, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kUpdateId)), instance,
      nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ShowWindow(w, SW_SHOWNORMAL);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
