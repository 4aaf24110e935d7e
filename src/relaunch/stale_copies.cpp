#include "relaunch/stale_copies.h"

#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

namespace {

// 100-nanosecond steps of a FILETIME.
constexpr ULONGLONG kFileTimeTicksPerSecond = 10000000ULL;
constexpr ULONGLONG kLeftoverAgeSeconds = 10 * 60;

ULONGLONG AsTicks(const FILETIME& t) {
  return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// "GormEk-" + digits + ".zip": the name of a package file, and nothing a
// player may have put there under a similar name.
bool IsPackageName(std::wstring_view name) {
  constexpr std::wstring_view kPrefix = L"GormEk-";
  constexpr std::wstring_view kSuffix = L".zip";
  if (name.size() <= kPrefix.size() + kSuffix.size() ||
      !EqualsAsciiNoCase(name.substr(0, kPrefix.size()), kPrefix) ||
      !EndsWithAsciiNoCase(name, kSuffix)) {
    return false;
  }
  for (std::size_t i = kPrefix.size(); i < name.size() - kSuffix.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9')
      return false;
  }
  return true;
}

// Calls visit(path, entry) for every match of pattern in the temporary
// folder. The path is built on the folder searched, not on a fresh lookup
// that could come back empty and make it relative to the current folder.
template <typename Visit>
void ForEachInTempFolder(const wchar_t* pattern, Visit visit) {
  const std::wstring temp = TempFolder();
  if (temp.empty())
    return;
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((temp + pattern).c_str(), &entry));
  if (!find)
    return;
  do {
    visit(temp + entry.cFileName, entry);
  } while (FindNextFileW(find.get(), &entry));
}

}  // namespace

void RemoveStaleTempCopies() {
  const std::wstring own = OwnExecutablePath();
  ForEachInTempFolder(L"GormEkSetup-*.exe",
                      [&](const std::wstring& path, const WIN32_FIND_DATAW&) {
                        if (!EqualsAsciiNoCase(path, own))
                          DeleteFileW(path.c_str());
                      });
}

void RemoveLeftoverPackages() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG current = AsTicks(now);
  ForEachInTempFolder(L"GormEk-*.zip", [&](const std::wstring& path,
                                           const WIN32_FIND_DATAW& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !IsPackageName(entry.cFileName)) {
      return;
    }
    // A package that another running setup is writing is open without
    // sharing, so the deletion fails and it stays. Between its download and
    // the start of its unpacker it is closed for a moment; a recent one is
    // therefore left alone too (a leftover of a run that was killed just
    // now goes at a later start, or is overwritten by the next download).
    const ULONGLONG written = AsTicks(entry.ftLastWriteTime);
    if (current < written ||
        current - written < kLeftoverAgeSeconds * kFileTimeTicksPerSecond) {
      return;
    }
    DeleteFileW(path.c_str());
  });
}
