#include "pipeline/installed_files.h"

#include <windows.h>

#include "platform/crc32.h"
#include "platform/unique_handle.h"

namespace {

constexpr DWORD kBlockSize = 1024 * 1024;
constexpr UINT kCodePage437 = 437;

std::wstring Decode(const std::string& name, bool utf8) {
  if (name.empty())
    return L"";
  const UINT page = utf8 ? CP_UTF8 : kCodePage437;
  const int size = static_cast<int>(name.size());
  std::wstring out(name.size(), L'\0');
  const int n =
      MultiByteToWideChar(page, 0, name.data(), size, out.data(), size);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

// True when no part of the "\"-separated path is "..", and it names no
// drive, root or device stream.
bool StaysInside(const std::wstring& path) {
  if (path.empty() || path.front() == L'\\' ||
      path.find(L':') != std::wstring::npos)
    return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(L'\\', start);
    const std::wstring part = path.substr(start, end - start);
    if (part == L"..")
      return false;
    if (end == std::wstring::npos)
      return true;
    start = end + 1;
  }
}

bool IsFolderEntry(const ZipEntry& e) {
  return !e.name.empty() && e.name.back() == '/';
}

// The file's size, or -1 when it is missing or not a file.
std::int64_t SizeOfFile(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
      data.nFileSizeLow);
}

// Reads the file once and compares its CRC-32; false when it differs or a
// read fails. done counts the bytes read, for the progress report.
bool SameCrc(const std::wstring& path,
             std::uint32_t crc,
             std::vector<char>& buffer,
             std::uint64_t& done,
             std::uint64_t total,
             const CompareProgress& onProgress,
             bool& cancelled) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file)
    return false;
  std::uint32_t sum = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.data(), kBlockSize, &read, nullptr))
      return false;
    if (read == 0)
      return sum == crc;
    sum = Crc32(sum, buffer.data(), read);
    done += read;
    if (onProgress && !onProgress(done, total)) {
      cancelled = true;
      return false;
    }
  }
}

}  // namespace

bool EntryRelativePath(const ZipEntry& entry, std::wstring& relative) {
  std::wstring path = Decode(entry.name, entry.utf8);
  for (wchar_t& c : path) {
    if (c == L'/')
      c = L'\\';
  }
  if (!path.empty() && path.back() == L'\\')
    path.pop_back();
  if (!StaysInside(path))
    return false;
  relative = path;
  return true;
}

CompareResult FindChangedEntries(const ZipIndex& index,
                                 const std::wstring& folder,
                                 const CompareProgress& onProgress,
                                 std::vector<std::size_t>& changed) {
  changed.clear();
  // First the names and sizes: what to read, and how much in all.
  std::vector<std::wstring> paths(index.entries.size());
  std::vector<bool> sizeMatches(index.entries.size(), false);
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    const ZipEntry& e = index.entries[i];
    std::wstring relative;
    if (!EntryRelativePath(e, relative))
      return CompareResult::kUnsafeName;
    if (IsFolderEntry(e))
      continue;
    paths[i] = folder + L"\\" + relative;
    const std::int64_t size = SizeOfFile(paths[i]);
    sizeMatches[i] = size >= 0 && static_cast<std::uint64_t>(size) ==
                                      e.uncompressedSize;
    if (sizeMatches[i])
      total += e.uncompressedSize;
  }
  std::vector<char> buffer(kBlockSize);
  std::uint64_t done = 0;
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    if (IsFolderEntry(index.entries[i]))
      continue;
    bool cancelled = false;
    if (!sizeMatches[i] || !SameCrc(paths[i], index.entries[i].crc32, buffer,
                                    done, total, onProgress, cancelled)) {
      if (cancelled)
        return CompareResult::kCancelled;
      changed.push_back(i);
    }
  }
  return CompareResult::kCompared;
}
