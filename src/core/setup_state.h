// The two process-wide records: the product's constant names and the state
// of the run. Exactly one instance of each exists; they are reached directly.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct ProductInfo {
  const wchar_t* gameName;      // "Gorm Ek"
  const wchar_t* gameExe;       // "Gorm Ek.exe", directly in the install folder
  const wchar_t* setupExe;      // "GormEkSetup.exe", our copy in that folder
  const wchar_t* uninstallKey;  // under HKEY_CURRENT_USER
  const wchar_t* settingsKey;   // under HKEY_CURRENT_USER
  // "GormEkSetup.record", beside the setup copy: what the folder was last
  // installed from, and the files as unpacking left them.
  const wchar_t* recordFile;
  // "GormEkSetup.lock", held by the one run at work on the folder.
  const wchar_t* lockFile;
};

extern const ProductInfo g_product;

// The download site built in (an HTTPS base URL ending in "/") and its host
// name, which the update-failure message names. Constant-initialised, so
// g_state may copy it during static initialisation.
extern const wchar_t* const kDefaultSiteUrl;
extern const wchar_t* const kDefaultSiteHost;

// Threading: the main thread writes every field. The worker thread reads
// waitPids, siteUrl and mainWindow, which are all written before any worker
// starts and never again. cancelRequested is the one field both threads touch
// while both run (atomic exchange on the main thread, atomic loads elsewhere).
struct SetupState {
  bool updateMode = false;
  std::wstring installDir;
  std::vector<std::uint32_t> waitPids;  // command-line order, duplicates kept
  std::wstring siteUrl = kDefaultSiteUrl;  // always ends in "/"

  HWND mainWindow = nullptr;
  HWND folderEdit = nullptr;
  HWND browseButton = nullptr;
  HWND startMenuCheck = nullptr;
  HWND desktopCheck = nullptr;
  HWND launchCheck = nullptr;
  HWND statusLabel = nullptr;
  HWND progressBar = nullptr;  // range 0 to 1000
  HWND installButton = nullptr;
  HWND cancelButton = nullptr;
  HFONT normalFont = nullptr;  // never deleted
  HFONT titleFont = nullptr;   // never deleted
  int dpi = 96;
  // The control that had the keyboard focus when the window was last
  // deactivated; it gets the focus back when the window is activated.
  HWND lastFocus = nullptr;
  // The control that had the focus when the last run started; it gets it
  // back after that run's error box.
  HWND focusBeforeRun = nullptr;

  std::atomic<bool> cancelRequested{false};
  bool workerRunning = false;
  bool finished = false;       // only ever goes false -> true
  bool cancelPending = false;  // only ever goes false -> true
};

extern SetupState g_state;
