// The progress of bringing the package, posted to the setup window: the
// check of the installed files, then the download, on one bar that never
// moves back (the check 0 to 300, the download from where the bar stands
// to 900), with "Downloading version 0042...  12 / 350 MB" status lines;
// and the user's cancel, answered from cancelRequested.
#pragma once

#include <cstdint>

// The bar position at which the check of the installed files ends and a
// download after it begins.
constexpr int kCheckedPosition = 300;

struct PackageProgress {
  // All outlive the run. lastMiB is the whole-MiB count the last status
  // line showed (-2 - seconds while a line about a lost connection shows),
  // lastPosition the last bar position posted, barFrom where the running
  // download's share of the bar begins; the worker sets lastMiB and
  // lastPosition to -1, barFrom to 0, before anything is posted.
  const int& version;
  std::int64_t& lastMiB;
  int& lastPosition;
  int& barFrom;

  // Posts the bar position barFrom + received * (900 - barFrom) / total
  // when total > 0 and it is past the last one posted, and a status line
  // whenever the whole number of MiB received changes. Returns false
  // exactly when g_state.cancelRequested is set.
  bool operator()(std::int64_t received, std::int64_t total) const;

  // A download's share of the bar begins where the bar stands: at 0 for a
  // first install, after the check for a part, and wherever a part had
  // come to for the whole package that replaces it.
  void StartDownload() const;

  // Posts "Checking the installed files...": the package's index is being
  // read and the files compared with it.
  void StartCheck() const;

  // While the package's index downloads: once bytes arrive again after a
  // line about a lost connection, the check's line comes back. Returns
  // false exactly when g_state.cancelRequested is set.
  bool Indexing() const;

  // done of total bytes of the installed files checked: the bar at
  // done * 300 / total (300 when total is 0). Returns false exactly when
  // g_state.cancelRequested is set.
  bool Checking(std::uint64_t done, std::uint64_t total) const;

  // While the download waits to try again after a lost connection: posts
  // "Connection lost. Trying again in 4 s..." whenever the seconds change
  // ("Connection lost. Trying again..." for 0, as an attempt starts); the
  // next progress call posts the download line again. Returns false exactly
  // when g_state.cancelRequested is set.
  bool Waiting(int secondsLeft) const;
};
