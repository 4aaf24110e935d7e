// A stand-in for tar.exe that records how it was started:
//   line 1: its whole command line (GetCommandLineW), UTF-8;
//   line 2: "console-processes=N", the processes attached to its console
//           (1 when it was given a console of its own, as CREATE_NO_WINDOW
//           does; more when it shares its parent's).
// It writes to the file named by GORMEK_FAKE_TAR_LOG and exits with the
// number in GORMEK_FAKE_TAR_EXIT (0 when unset).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain() {
  wchar_t log[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"GORMEK_FAKE_TAR_LOG", log, MAX_PATH))
    return 90;
  DWORD processes[16] = {};
  const DWORD attached = GetConsoleProcessList(processes, 16);
  const wchar_t* line = GetCommandLineW();
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8.data(), bytes, nullptr,
                      nullptr);
  utf8.resize(static_cast<std::size_t>(bytes > 0 ? bytes - 1 : 0));
  FILE* f = _wfopen(log, L"wb");
  if (!f)
    return 91;
  std::fprintf(f, "%s\nconsole-processes=%lu\n", utf8.c_str(),
               static_cast<unsigned long>(attached));
  std::fclose(f);
  wchar_t code[16] = {};
  GetEnvironmentVariableW(L"GORMEK_FAKE_TAR_EXIT", code, 16);
  return static_cast<int>(std::wcstol(code, nullptr, 10));
}
