#include "pipeline/room_check.h"

#include <windows.h>

#include <algorithm>
#include <limits>

#include "platform/text.h"

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Bytes this user may still write on the folder's drive; false when the
// system cannot tell.
bool FreeBytes(const std::wstring& folder, std::uint64_t& bytes) {
  ULARGE_INTEGER forCaller = {};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &forCaller, nullptr, nullptr))
    return false;
  bytes = forCaller.QuadPart;
  return true;
}

// The root of the volume that holds the path ("C:\", a mounted folder, ...).
std::wstring VolumeOf(const std::wstring& path) {
  wchar_t volume[MAX_PATH] = {};
  if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH))
    return L"";
  return volume;
}

std::uint64_t PlusSaturating(std::uint64_t free, std::int64_t more) {
  if (more <= 0)
    return free;
  return free + std::min(static_cast<std::uint64_t>(more),
                         std::numeric_limits<std::uint64_t>::max() - free);
}

std::wstring MegabytesDown(std::uint64_t bytes) {
  return UnsignedToWide(bytes / kMiB);
}

std::wstring MegabytesUp(std::uint64_t bytes) {
  return UnsignedToWide(bytes / kMiB + (bytes % kMiB != 0));
}

bool Enough(const std::wstring& folder,
            std::uint64_t free,
            std::uint64_t needed,
            const wchar_t* what,
            bool pickAnother,
            std::wstring& errorText) {
  if (free >= needed)
    return true;
  errorText = L"There is not enough free space in\n" + folder + L"\n" + what +
              L" " + MegabytesUp(needed) + L" MB, and " + MegabytesDown(free) +
              L" MB are free.";
  if (pickAnother)
    errorText += L"\nFree some space or pick another folder.";
  return false;
}

}  // namespace

bool CheckRoom(const std::wstring& tempFolder,
               const std::wstring& installDir,
               std::int64_t downloadBytes,
               std::int64_t unpackBytes,
               std::int64_t replacedBytes,
               std::wstring& errorText) {
  const auto download =
      static_cast<std::uint64_t>(std::max<std::int64_t>(downloadBytes, 0));
  const auto unpack =
      static_cast<std::uint64_t>(std::max<std::int64_t>(unpackBytes, 0));
  std::uint64_t tempFree = 0;
  std::uint64_t installFree = 0;
  const bool tempKnown = FreeBytes(tempFolder, tempFree);
  const bool installKnown = FreeBytes(installDir, installFree);
  tempFree = PlusSaturating(tempFree, replacedBytes);

  const std::wstring volume = VolumeOf(tempFolder);
  if (download > 0 && tempKnown && installKnown && !volume.empty() &&
      EqualsAsciiNoCase(volume, VolumeOf(installDir))) {
    // One drive holds both the download and the unpacked game. The smaller
    // figure is the honest one where a folder is a mount of its own that
    // the volume path does not show.
    const std::uint64_t both =
        download > std::numeric_limits<std::uint64_t>::max() - unpack
            ? std::numeric_limits<std::uint64_t>::max()
            : download + unpack;
    // What the download frees is on this drive too.
    installFree = PlusSaturating(installFree, replacedBytes);
    const bool tempSmaller = tempFree <= installFree;
    return Enough(tempSmaller ? tempFolder : installDir,
                  std::min(tempFree, installFree), both,
                  L"The download and Gorm Ek together need", !tempSmaller,
                  errorText);
  }
  if (download > 0 && tempKnown &&
      !Enough(tempFolder, tempFree, download, L"The download needs", false,
              errorText)) {
    return false;
  }
  if (unpack > 0 && installKnown &&
      !Enough(installDir, installFree, unpack, L"Gorm Ek needs", true,
              errorText)) {
    return false;
  }
  return true;
}

bool CheckRoomForPackage(const std::wstring& tempFolder,
                         const std::wstring& installDir,
                         std::int64_t packageBytes,
                         std::int64_t replacedBytes,
                         std::wstring& errorText) {
  return packageBytes <= 0 || CheckRoom(tempFolder, installDir, packageBytes,
                                        packageBytes, replacedBytes, errorText);
}
