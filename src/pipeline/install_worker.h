// The install worker: the body of the one background thread of an install or
// update run, from the wait for the game to the final report.
#pragma once

#include <string>

// The arguments of one run, handed to the thread by value.
struct WorkerJob {
  std::wstring installDir;  // normalised, no trailing separator
  bool startMenuShortcut = false;
  bool desktopShortcut = false;
  bool updateMode = false;
};

// Waits for g_state.waitPids (30 s each at most), reads the newest version
// from the site, creates and write-tests the folder, downloads and unpacks
// the package, checks that the game arrived, places the setup copy, makes the
// shortcuts (install runs only) and registers the game. Reports only by
// posting WM_SETUP_STATUS / WM_SETUP_PROGRESS to g_state.mainWindow and, as
// its very last act, exactly one WM_SETUP_DONE. Never throws.
void InstallWorker(std::wstring installDir,
                   bool startMenuShortcut,
                   bool desktopShortcut,
                   bool updateMode);

// The worker's failure text when the temporary folder cannot be determined.
extern const wchar_t kNoTempFolderText[];
