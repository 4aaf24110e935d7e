#include "transfer/unpack.h"

#include <windows.h>

#include "platform/paths.h"
#include "platform/processes.h"

namespace {

constexpr DWORD kStartRetryWaitMs = 500;

// tar.exe reads its arguments in the ANSI code page, so a path with a
// character that page cannot hold (a Cyrillic user name on a Western system,
// say) reaches it garbled and cannot be opened. Such a path is handed over
// by its short (8.3) name, which is plain ASCII; when the volume keeps no
// short names, the path stays as it is. Every other path is passed unchanged.
std::wstring PathForTar(const std::wstring& path) {
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, nullptr,
                      0, nullptr, &lossy);
  if (!lossy)
    return path;
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return path;
  return shortPath;
}

}  // namespace

const wchar_t kQuoteInPathText[] =
    L"A folder name cannot contain a double quote (\"). Pick another folder.";

bool UnpackPackage(const std::wstring& zipPath,
                   const std::wstring& destDir,
                   std::wstring& errorText) {
  wchar_t systemDir[MAX_PATH] = {};
  GetSystemDirectoryW(systemDir, MAX_PATH);
  return UnpackPackageWithToolsIn(systemDir, zipPath, destDir, errorText);
}

bool UnpackPackageWithToolsIn(const std::wstring& systemDir,
                              const std::wstring& zipPath,
                              const std::wstring& destDir,
                              std::wstring& errorText,
                              const std::function<void()>& beforeSecondTry) {
  const std::wstring tar = systemDir + L"\\tar.exe";
  if (!IsFile(tar)) {
    errorText =
        L"Windows 10 (version 1803) or newer is needed to unpack the game.";
    return false;
  }

  // A double quote cannot be passed inside a quoted argument without ending
  // it; Windows allows none in file names, so such a path cannot be unpacked
  // into or from, and no broken command line is built.
  if (zipPath.find(L'"') != std::wstring::npos ||
      destDir.find(L'"') != std::wstring::npos) {
    errorText = kQuoteInPathText;
    return false;
  }

  // Both paths are quoted; destDir never ends in a backslash, so its closing
  // quote is never read as escaped.
  const std::wstring commandLine = L"\"" + tar + L"\" -xf \"" +
                                   PathForTar(zipPath) + L"\" -C \"" +
                                   PathForTar(destDir) + L"\"";
  // Starting a process can fail for a moment (security software scanning
  // tar.exe as it starts, a system short of resources): one more try after
  // a short wait, rather than losing a download that took minutes.
  UniqueHandleKernel process;
  for (int attempt = 0; attempt < 2 && !process; ++attempt) {
    if (attempt > 0) {
      if (beforeSecondTry)
        beforeSecondTry();
      Sleep(kStartRetryWaitMs);
    }
    process = StartProcess(commandLine, CREATE_NO_WINDOW, L"");
  }
  if (!process) {
    errorText = L"Could not start the unpacker.";
    return false;
  }
  WaitForSingleObject(process.get(), INFINITE);
  // A failed read leaves 1 and counts as a failure.
  DWORD exitCode = 1;
  GetExitCodeProcess(process.get(), &exitCode);
  process.reset();

  if (exitCode != 0) {
    errorText = L"Unpacking failed. Make sure Gorm Ek is closed and try again.";
    return false;
  }
  return true;
}
