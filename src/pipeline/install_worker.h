// The install worker: the body of the one background thread of an install or
// update run, from the wait for the game to the final report.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The arguments of one run, handed to the thread.
struct WorkerJob {
  std::wstring installDir;  // normalised, no trailing separator
  bool startMenuShortcut = false;
  bool desktopShortcut = false;
  bool updateMode = false;
  // Where the run reports, and the processes it waits for first: copied
  // from g_state when the job is made, on the main thread.
  HWND window = nullptr;
  std::vector<std::uint32_t> waitPids;
  // The text object of the run's final report, allocated before the run
  // starts so that reporting never needs memory: it holds the out-of-memory
  // text until the run's own outcome replaces it. The window frees it.
  std::unique_ptr<std::wstring> report;
};

// A job with its report allocated, g_state.mainWindow and g_state.waitPids
// copied into it. Throws std::bad_alloc when memory is
// short, before any run has started.
std::unique_ptr<WorkerJob> MakeWorkerJob(std::wstring installDir,
                                         bool startMenuShortcut,
                                         bool desktopShortcut,
                                         bool updateMode);

// Waits for job->waitPids (30 s each at most), reads the newest version
// from the site, creates and write-tests the folder, downloads and unpacks
// the package, checks that the game arrived, places the setup copy, makes the
// shortcuts (install runs only) and registers the game. Reports only by
// posting WM_SETUP_STATUS / WM_SETUP_PROGRESS to job->window and, as
// its very last act, exactly one WM_SETUP_DONE carrying job->report. Never
// throws: an exception ends the run like any failure, with one sentence.
void InstallWorker(std::unique_ptr<WorkerJob> job) noexcept;

// The worker's failure text when the temporary folder cannot be determined.
extern const wchar_t kNoTempFolderText[];
