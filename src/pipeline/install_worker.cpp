#include "pipeline/install_worker.h"

#include <windows.h>

#include <shlobj.h>

#include <memory>
#include <new>

#include "integration/registration.h"
#include "integration/shortcuts.h"
#include "pipeline/differential.h"
#include "pipeline/dropped_files.h"
#include "pipeline/held_package.h"
#include "pipeline/install_record.h"
#include "pipeline/package_progress.h"
#include "pipeline/room_check.h"
#include "pipeline/version.h"
#include "core/failure_texts.h"
#include "core/folder_lock.h"
#include "platform/paths.h"
#include "platform/sizes.h"
#include "platform/processes.h"
#include "platform/scope_guard.h"
#include "platform/unique_handle.h"
#include "core/setup_state.h"
#include "transfer/http_download.h"
#include "transfer/unpack.h"
#include "pipeline/worker_messages.h"

const wchar_t kNoTempFolderText[] =
    L"The temporary folder could not be found, so the download has nowhere "
    L"to go.";

namespace {

// How long a broken package download goes on trying while no new byte
// arrives.
constexpr std::uint64_t kGiveUpAfterMs = 2 * 60 * 1000;

// What every stage of one run shares.
struct Run {
  const WorkerJob& job;
  std::wstring& errorText;
};

void WaitForTheGame(const Run& run) {
  if (run.job.waitPids.empty())
    return;
  PostStatus(run.job.window, L"Waiting for Gorm Ek to close...");
  WaitForProcesses(run.job.waitPids);
}

// The newest version on the site; 0 with errorText set when it cannot be
// read or is not a version.
int ReadNewestVersion(const Run& run) {
  PostStatus(run.job.window, L"Checking for the newest version...");
  std::string body;
  if (!HttpDownload(VersionUrl(), &body, L"", {}, run.errorText))
    return 0;
  const int version = ParseVersion(body);
  if (version <= 0)
    run.errorText = L"The version file on the server is not valid.";
  return version > 0 ? version : 0;
}

// Creates the install folder and proves it can be written to.
bool PrepareFolder(const Run& run) {
  const std::wstring& installDir = run.job.installDir;
  const int created =
      SHCreateDirectoryExW(nullptr, installDir.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_FILE_EXISTS &&
      created != ERROR_ALREADY_EXISTS) {
    run.errorText = L"Could not create the folder\n" + installDir +
                    L"\nPick another folder.";
    return false;
  }
  // Nothing is written: the system deletes the file as the handle closes.
  UniqueFile probe(CreateFileW(
      (installDir + L"\\.write-test").c_str(), GENERIC_WRITE, 0, nullptr,
      CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
      nullptr));
  if (!probe) {
    // Only another setup program holds that file: it is at work here.
    run.errorText = GetLastError() == ERROR_SHARING_VIOLATION
                        ? FolderLockedText(installDir)
                        : L"No permission to write to\n" + installDir +
                              L"\nPick another folder.";
    return false;
  }
  return true;
}

std::wstring CouldNotReplaceText(const Run& run, const wchar_t* name) {
  return L"Could not replace the file\n" + run.job.installDir + L"\\" + name +
         L"\nClose any program that uses it and try again.";
}

// Takes the folder's lock unless this run holds it already. False with the
// sentence when another setup program holds it, and, when required, when
// it cannot be taken; a folder that is missing or cannot be written is
// said by PrepareFolder instead.
bool LockFolder(const Run& run, UniqueFile& lock, bool required) {
  if (lock)
    return true;
  switch (TakeFolderLock(run.job.installDir, lock)) {
    case FolderLock::kTaken:
      return true;
    case FolderLock::kHeld:
      run.errorText = FolderLockedText(run.job.installDir);
      return false;
    case FolderLock::kNotTaken:
      break;
  }
  if (required)
    run.errorText = CouldNotReplaceText(run, g_product.lockFile);
  return !required;
}

// Brings the package and holds it, reporting progress: over a folder that
// holds the game (an update, a reinstall), only the entries that differ
// from its files, as a part package; else, or when that cannot be done, the
// whole package. True with nothing held when the folder already holds every
// file of the package as it is. record: the folder's, when it fits. brought
// names the package and holds its index (none when it cannot be read).
bool BringPackage(const Run& run,
                  int version,
                  const std::wstring& packagePath,
                  const InstallRecord* record,
                  HeldPackage& package,
                  RecordedPackage& brought) {
  std::int64_t lastMiB = -1;
  int lastPosition = -1;
  int barFrom = 0;
  const PackageProgress progress{version, lastMiB, lastPosition, barFrom};
  DownloadOptions options;
  // A package is large and players' connections drop: a break goes on where
  // it left off instead of starting again from nothing.
  options.resume = true;
  options.giveUpAfterMs = kGiveUpAfterMs;
  options.onWait = [&progress](int secondsLeft) {
    return progress.Waiting(secondsLeft);
  };
  std::wstring validator;
  options.validator = &validator;
  // A disk too small is said before minutes of downloading, not after. A
  // package file of the same name (left by a run that ended abruptly, or the
  // part of this download emptied for a start over) is about to be
  // replaced: its space counts as free.
  const std::wstring& installDir = run.job.installDir;
  options.checkRoom = [&installDir, &packagePath](std::int64_t total,
                                                  std::wstring& error) {
    return CheckRoomForPackage(TempFolder(), installDir, total,
                               FileSize(packagePath), error);
  };
  DifferentialResult got = DifferentialResult::kWholeNeeded;
  if (IsFile(installDir + L"\\" + g_product.gameExe)) {
    const DifferentialJob differences{
        PackageUrl(version), packagePath, installDir, progress, options, record,
        run.job.updateMode};
    got = FetchDifferences(differences, package, brought, run.errorText);
  }
  switch (got) {
    case DifferentialResult::kPart:
    case DifferentialResult::kNothing:
      return true;
    case DifferentialResult::kFailed:
      return false;
    case DifferentialResult::kWhole:
      break;
    case DifferentialResult::kWholeNeeded:
      progress.StartDownload();
      if (!HttpDownload(PackageUrl(version), nullptr, packagePath, progress,
                        run.errorText, options) ||
          !HoldPackage(packagePath, package, run.errorText))
        return false;
      break;
  }
  // A package is often several times smaller than what it unpacks to: the
  // install drive is checked against its own index before tar.exe starts.
  const bool room = RoomToUnpack(package, installDir, brought, run.errorText);
  brought.validator = validator;
  return room;
}

// Once tar.exe has begun to change files, the record no longer tells what
// they are: it goes first, so that a run that fails or is killed from here
// on leaves none to trust.
bool ForgetRecord(const Run& run) {
  if (DeleteInstallRecord(run.job.installDir))
    return true;
  run.errorText = CouldNotReplaceText(run, g_product.recordFile);
  return false;
}

// The record of what the folder now holds, for the next update. Best
// effort: without it the next run reads every file.
void RecordInstall(const Run& run, int version, RecordedPackage& brought) {
  if (brought.index.entries.empty())
    return;
  InstallRecord record;
  record.version = version;
  record.folder = run.job.installDir;
  record.stamps = StampFiles(brought, record.folder);
  record.package = std::move(brought);
  WriteInstallRecord(record);
}

// Unpacks the held package into the folder, deletes it, and checks that
// the game arrived.
bool UnpackAndCheck(const Run& run, HeldPackage& package) {
  PostStatus(run.job.window, L"Unpacking...");
  PostProgress(run.job.window, 920);
  const bool unpacked =
      UnpackPackage(package.path, run.job.installDir, run.errorText);
  DeleteHeldPackage(package);
  if (!unpacked)
    return false;
  if (!IsFile(run.job.installDir + L"\\" + g_product.gameExe)) {
    run.errorText = L"The download did not contain the game.";
    return false;
  }
  return true;
}

// The setup copy, the shortcuts (install runs) and the registry: best effort.
void Integrate(const Run& run, int version) {
  const WorkerJob& job = run.job;
  // A setup program already in the folder (from an earlier run or the
  // package) is kept, whatever its version.
  const std::wstring setupCopy = job.installDir + L"\\" + g_product.setupExe;
  if (!IsFile(setupCopy))
    CopyFileW(OwnExecutablePath().c_str(), setupCopy.c_str(), FALSE);
  PostProgress(job.window, 960);

  if (!job.updateMode) {
    PostStatus(job.window, L"Creating shortcuts...");
    const std::wstring gamePath = job.installDir + L"\\" + g_product.gameExe;
    if (job.startMenuShortcut)
      CreateShortcut(StartMenuShortcutPath(), gamePath, job.installDir);
    if (job.desktopShortcut)
      CreateShortcut(DesktopShortcutPath(), gamePath, job.installDir);
  }
  RegisterInstallation(job.installDir, FormatVersion(version));
  PostProgress(job.window, 1000);
}

// The stages of one run. Returns true and sets finalText on success, or
// returns false with errorText set.
bool RunStages(const WorkerJob& job,
               std::wstring& finalText,
               std::wstring& errorText) {
  const Run run{job, errorText};
  WaitForTheGame(run);
  // What a run decides from its look at the folder holds until it has
  // unpacked and registered: no other setup program may change the folder
  // in between. A folder that exists is locked before anything is fetched,
  // a new one as soon as it has been made.
  UniqueFile lock;
  if (!LockFolder(run, lock, false))
    return false;
  const int version = ReadNewestVersion(run);
  if (version == 0 || !PrepareFolder(run) || !LockFolder(run, lock, true))
    return false;
  const std::wstring packagePath = PackageFilePath(version);
  if (packagePath.empty()) {
    errorText = kNoTempFolderText;
    return false;
  }
  // From the end of the download until it is deleted (on every path, also
  // an exception's) the package is held: another setup program started at
  // the same time cannot empty it under tar.exe.
  HeldPackage package;
  ScopeGuard deletePackage([&package] { DeleteHeldPackage(package); });
  InstallRecord record;
  const bool fits =
      ReadInstallRecord(job.installDir, RegisteredVersion(), record);
  RecordedPackage brought;
  // Nothing held after a successful bring: nothing differed, nothing to
  // unpack.
  if (!BringPackage(run, version, packagePath, fits ? &record : nullptr,
                    package, brought) ||
      (package.file && (!ForgetRecord(run) || !UnpackAndCheck(run, package))))
    return false;
  // What the installed version put here and the new one no longer holds
  // goes, as a whole install into an empty folder would never have it. Only
  // the record tells what this program wrote.
  if (fits)
    RemoveDroppedFiles(record, brought, job.installDir);
  RecordInstall(run, version, brought);
  Integrate(run, version);
  const std::wstring v = FormatVersion(version);
  finalText = job.updateMode ? L"Updated to version " + v + L"."
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
  job->window = g_state.mainWindow;
  job->waitPids = g_state.waitPids;
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
    ok = RunStages(*job, finalText, errorText);
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
  PostDone(job->window, ok, std::move(job->report));
}
