#include "pipeline/package_progress.h"

#include <string>

#include "pipeline/version.h"
#include "platform/text.h"
#include "core/setup_state.h"
#include "pipeline/worker_messages.h"

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

// A 64 KiB block moves the bar by less than one of its 900 steps in any
// package over 64 MiB: posting the same position again would only make the
// window repaint for nothing, thousands of times while the download competes
// with it for the processor. A lower one (a download that starts over) is
// not posted either: the bar waits until the bytes are back where it is.
void MoveBar(int& lastPosition, int position) {
  if (position > lastPosition) {
    lastPosition = position;
    PostProgress(g_state.mainWindow, position);
  }
}

}  // namespace

bool PackageProgress::operator()(std::int64_t received,
                                 std::int64_t total) const {
  if (total > 0)
    MoveBar(lastPosition,
            barFrom + static_cast<int>(received * (900 - barFrom) / total));

  const std::int64_t mib = received / kMiB;
  if (mib != lastMiB) {
    lastMiB = mib;
    std::wstring text = L"Downloading version " + FormatVersion(version) +
                        L"...  " +
                        UnsignedToWide(static_cast<std::uint64_t>(mib));
    if (total > 0)
      text += L" / " + UnsignedToWide(static_cast<std::uint64_t>(total / kMiB));
    text += L" MB";
    PostStatus(g_state.mainWindow, text);
  }
  return !g_state.cancelRequested.load();
}

void PackageProgress::StartDownload() const {
  barFrom = lastPosition > 0 ? lastPosition : 0;
}

void PackageProgress::StartCheck() const {
  lastMiB = -1;
  PostStatus(g_state.mainWindow, L"Checking the installed files...");
}

bool PackageProgress::Indexing() const {
  if (lastMiB <= -2)
    StartCheck();
  return !g_state.cancelRequested.load();
}

bool PackageProgress::Checking(std::uint64_t done, std::uint64_t total) const {
  MoveBar(lastPosition, total
                            ? static_cast<int>(done * kCheckedPosition / total)
                            : kCheckedPosition);
  return !g_state.cancelRequested.load();
}

bool PackageProgress::Waiting(int secondsLeft) const {
  // Below every MiB count, so the download line comes back with the next
  // bytes, whatever MiB they reach.
  const std::int64_t shown = -2 - secondsLeft;
  if (shown != lastMiB) {
    lastMiB = shown;
    PostStatus(
        g_state.mainWindow,
        secondsLeft > 0
            ? L"Connection lost. Trying again in " +
                  UnsignedToWide(static_cast<std::uint64_t>(secondsLeft)) +
                  L" s..."
            : std::wstring(L"Connection lost. Trying again..."));
  }
  return !g_state.cancelRequested.load();
}
