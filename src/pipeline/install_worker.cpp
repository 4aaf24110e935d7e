#include "pipeline/install_worker.h"

#include <windows.h>

#include <shlobj.h>

#include <memory>
#include <new>

#include "integration/registration.h"
#include "integration/shortcuts.h"
#include "pipeline/for_testing.h"
#include "pipeline/package_progress.h"
#include "pipeline/room_check.h"
#include "pipeline/version.h"
#include "platform/failure_texts.h"
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

// How long a broken package download goes on trying while no new byte
// arrives.
constexpr std::uint64_t kGiveUpAfterMs = 2 * 60 * 1000;

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
  int lastPosition = -1;
  const PackageProgress progress{version, lastMiB, lastPosition};
  DownloadOptions options;
  // A package is large and players' connections drop: a break goes on where
  // it left off instead of starting again from nothing.
  options.resume = true;
  options.giveUpAfterMs = kGiveUpAfterMs;
  options.onWait = [&progress](int secondsLeft) {
    return progress.Waiting(secondsLeft);
  };
  // A disk too small is said before minutes of downloading, not after. A
  // package file of the same name (left by a run that ended abruptly, or the
  // part of this download emptied for a start over) is about to be
  // replaced: its space counts as free.
  options.checkRoom = [&installDir, &packagePath](std::int64_t total,
                                                  std::wstring& error) {
    return CheckRoomForPackage(TempFolder(), installDir, total,
                               FileSize(packagePath), error);
  };
  if (!HttpDownload(PackageUrl(version), nullptr, packagePath, progress,
                    errorText, options)) {
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

std::unique_ptr<WorkerJob> MakeWorkerJob(std::wstring installDir,
                                         bool startMenuShortcut,
                                         bool desktopShortcut,
                                         bool updateMode) {
  auto job = std::make_unique<WorkerJob>();
  job->installDir = std::move(installDir);
  job->startMenuShortcut = startMenuShortcut;
  job->desktopShortcut = desktopShortcut;
  job->updateMode = updateMode;
  job->report = std::make_unique<std::wstring>(kOutOfMemoryText);
  return job;
}

void InstallWorker(std::unique_ptr<WorkerJob> job) noexcept {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = false;
  // Nothing may escape the thread. The report was allocated before the run
  // and already holds the out-of-memory text, so an allocation failure
  // anywhere is reported without needing memory.
  try {
    std::wstring finalText;
    std::wstring errorText;
    ok = RunStages(job->installDir, job->startMenuShortcut,
                   job->desktopShortcut, job->updateMode, finalText, errorText);
    *job->report = std::move(ok ? finalText : errorText);  // no allocation
  } catch (const std::bad_alloc&) {
    ok = false;
  } catch (...) {
    ok = false;
    try {
      // Shorter than the text the report holds: its storage is reused.
      *job->report = kUnexpectedFailureText;
    } catch (...) {
    }
  }
  CoUninitialize();
  PostDone(g_state.mainWindow, ok, std::move(job->report));
}
