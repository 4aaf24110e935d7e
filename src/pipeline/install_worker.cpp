#include "pipeline/install_worker.h"

#include <windows.h>

#include <shlobj.h>

#include <new>

#include "integration/registration.h"
#include "integration/shortcuts.h"
#include "pipeline/package_progress.h"
#include "pipeline/version.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/unique_handle.h"
#include "startup/setup_state.h"
#include "transfer/http_download.h"
#include "transfer/unpack.h"
#include "window/worker_messages.h"

const wchar_t kNoTempFolderText[] =
    L"The temporary folder could not be found, so the download has nowhere "
    L"to go.";

namespace {

// The stages of one run. Returns true and sets finalText on success, or
// returns false with errorText set.
bool RunStages(const std::wstring& installDir,
               bool startMenuShortcut,
               bool desktopShortcut,
               bool updateMode,
               std::wstring& finalText,
               std::wstring& errorText) {
  const HWND window = g_state.mainWindow;

  if (!g_state.waitPids.empty()) {
    PostStatus(window, L"Waiting for Gorm Ek to close...");
    WaitForProcesses(g_state.waitPids);
  }

  PostStatus(window, L"Checking for the newest version...");
  std::string body;
  if (!HttpDownload(VersionUrl(), &body, L"", {}, errorText))
    return false;
  const int version = ParseVersion(body);
  if (version <= 0) {
    errorText = L"The version file on the server is not valid.";
    return false;
  }

  const int created =
      SHCreateDirectoryExW(nullptr, installDir.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_FILE_EXISTS &&
      created != ERROR_ALREADY_EXISTS) {
    errorText = L"Could not create the folder\n" + installDir +
                L"\nPick another folder.";
    return false;
  }

  // Nothing is written: the system deletes the file as the handle closes.
  UniqueFile probe(CreateFileW(
      (installDir + L"\\.write-test").c_str(), GENERIC_WRITE, 0, nullptr,
      CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
      nullptr));
  if (!probe) {
    errorText =
        L"No permission to write to\n" + installDir + L"\nPick another folder.";
    return false;
  }
  probe.reset();

  const std::wstring packagePath = PackageFilePath(version);
  if (packagePath.empty()) {
    errorText = kNoTempFolderText;
    return false;
  }
  std::int64_t lastMiB = -1;
  if (!HttpDownload(PackageUrl(version), nullptr, packagePath,
                    PackageProgress{version, lastMiB}, errorText)) {
    return false;
  }

  PostStatus(window, L"Unpacking...");
  PostProgress(window, 920);
  const bool unpacked = UnpackPackage(packagePath, installDir, errorText);
  DeleteFileW(packagePath.c_str());
  if (!unpacked)
    return false;

  const std::wstring gamePath = installDir + L"\\" + g_product.gameExe;
  if (!IsFile(gamePath)) {
    errorText = L"The download did not contain the game.";
    return false;
  }

  // A setup program already in the folder (from an earlier run or the
  // package) is kept, whatever its version.
  const std::wstring setupCopy = installDir + L"\\" + g_product.setupExe;
  if (!IsFile(setupCopy))
    CopyFileW(OwnExecutablePath().c_str(), setupCopy.c_str(), FALSE);
  PostProgress(window, 960);

  if (!updateMode) {
    PostStatus(window, L"Creating shortcuts...");
    if (startMenuShortcut)
      CreateShortcut(StartMenuShortcutPath(), gamePath, installDir);
    if (desktopShortcut)
      CreateShortcut(DesktopShortcutPath(), gamePath, installDir);
  }

  RegisterInstallation(installDir, version);
  PostProgress(window, 1000);

  const std::wstring v = FormatVersion(version);
  finalText = updateMode ? L"Updated to version " + v + L"."
                         : L"Gorm Ek " + v + L" is installed.";
  return true;
}

}  // namespace

void InstallWorker(std::wstring installDir,
                   bool startMenuShortcut,
                   bool desktopShortcut,
                   bool updateMode) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring finalText;
  std::wstring errorText;
  bool ok = false;
  // Nothing may escape the thread: an allocation failure ends the run like
  // any other failure, with one sentence.
  try {
    ok = RunStages(installDir, startMenuShortcut, desktopShortcut, updateMode,
                   finalText, errorText);
  } catch (const std::bad_alloc&) {
    ok = false;
    errorText =
        L"The computer ran out of memory. Close other programs and try "
        L"again.";
  } catch (...) {
    ok = false;
    errorText = L"Something unexpected went wrong. Try again.";
  }
  CoUninitialize();
  try {
    PostDone(g_state.mainWindow, ok, ok ? finalText : errorText);
  } catch (...) {
    // Out of memory for the very last text: nothing is left to report with.
  }
}
