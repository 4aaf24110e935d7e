// The package download's progress callback: bar positions 0 to 900 and
// "Downloading version 0042...  12 / 350 MB" status lines, posted to the
// setup window; and the user's cancel, answered from cancelRequested.
#pragma once

#include <cstdint>

struct PackageProgress {
  // All outlive the download. lastMiB is the whole-MiB count the last status
  // line showed (-2 - seconds while a line about a lost connection shows),
  // lastPosition the last bar position posted; the worker sets both to -1
  // before the download starts.
  const int& version;
  std::int64_t& lastMiB;
  int& lastPosition;

  // Posts a bar position when total > 0 (received * 900 / total) and it
  // differs from the last one posted, and a status line whenever the whole
  // number of MiB received changes. Returns false exactly when
  // g_state.cancelRequested is set.
  bool operator()(std::int64_t received, std::int64_t total) const;

  // While the download waits to try again after a lost connection: posts
  // "Connection lost. Trying again in 4 s..." whenever the seconds change
  // ("Connection lost. Trying again..." for 0, as an attempt starts); the
  // next progress call posts the download line again. Returns false exactly
  // when g_state.cancelRequested is set.
  bool Waiting(int secondsLeft) const;
};
