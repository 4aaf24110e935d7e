#include "platform/sizes.h"

#include <windows.h>

#include "platform/unique_handle.h"

std::int64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return 0;
  return static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
      data.nFileSizeLow);
}

std::uint64_t FolderSize(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!find)
    return 0;
  std::uint64_t sum = 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or directory symlink may lead back to an ancestor.
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        sum += FolderSize(folder + L"\\" + name);
    } else {
      sum += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) +
             entry.nFileSizeLow;
    }
  } while (FindNextFileW(find.get(), &entry));
  return sum;
}
