#include "pipeline/installed_files.h"

#include <windows.h>

#include <algorithm>

#include "platform/crc32.h"
#include "platform/scope_guard.h"
#include "platform/unique_handle.h"

namespace {

constexpr DWORD kBlockSize = 1024 * 1024;
// Two readers: while one waits for a file to open (a round trip to the file
// system and its filters, which dominates for small files), the other
// reads. More would only make a disk seek between files.
constexpr int kReaders = 2;
constexpr DWORD kReportEveryMs = 50;
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

std::int64_t SizeOfFile(const std::wstring& path) {
  return StampOf(path).size;
}

// What the readers share: the files to read (entries whose size matches),
// the next one to take, and the bytes read so far.
struct Readers {
  const ZipIndex& index;
  const std::vector<std::wstring>& paths;
  std::vector<std::size_t> toRead;
  std::vector<char> same;  // per entry: 1 when its CRC-32 matched
  volatile LONG next = 0;
  volatile LONG64 done = 0;
  volatile LONG stop = 0;
};

// Reads the file once and compares its CRC-32; false when it differs, a
// read fails or the readers are told to stop.
bool SameCrc(Readers& r, std::size_t entry, std::vector<char>& buffer) {
  UniqueFile file(CreateFileW(r.paths[entry].c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file)
    return false;
  std::uint32_t sum = 0;
  for (;;) {
    DWORD read = 0;
    if (r.stop ||
        !ReadFile(file.get(), buffer.data(), kBlockSize, &read, nullptr))
      return false;
    if (read == 0)
      return sum == r.index.entries[entry].crc32;
    sum = Crc32(sum, buffer.data(), read);
    InterlockedExchangeAdd64(&r.done, read);
  }
}

// One reader: takes the next file until none is left. A file it could not
// get to (no memory for its buffer) stays "different", which costs a fetch,
// never a wrong file.
DWORD WINAPI ReadFiles(void* param) {
  Readers& r = *static_cast<Readers*>(param);
  try {
    std::vector<char> buffer(kBlockSize);
    for (;;) {
      const auto k =
          static_cast<std::size_t>(InterlockedIncrement(&r.next) - 1);
      if (k >= r.toRead.size() || r.stop)
        return 0;
      r.same[r.toRead[k]] = SameCrc(r, r.toRead[k], buffer);
    }
  } catch (...) {
  }
  return 0;
}

// Reads r.toRead with kReaders threads (on this one when none can start),
// reporting from this thread. False when onProgress said stop.
bool ReadAll(Readers& r,
             std::uint64_t total,
             const CompareProgress& onProgress) {
  UniqueHandleKernel threads[kReaders];
  HANDLE handles[kReaders] = {};
  DWORD started = 0;
  // The readers use r: whatever leaves this function waits for them first.
  const ScopeGuard joinReaders([&] {
    InterlockedExchange(&r.stop, 1);
    if (started)
      WaitForMultipleObjects(started, handles, TRUE, INFINITE);
  });
  for (UniqueHandleKernel& thread : threads) {
    thread.reset(CreateThread(nullptr, 0, ReadFiles, &r, 0, nullptr));
    if (thread)
      handles[started++] = thread.get();
  }
  if (!started)
    ReadFiles(&r);
  const auto report = [&] {
    if (!r.stop && onProgress &&
        !onProgress(static_cast<std::uint64_t>(r.done), total))
      InterlockedExchange(&r.stop, 1);
  };
  while (started && WaitForMultipleObjects(started, handles, TRUE,
                                           kReportEveryMs) == WAIT_TIMEOUT)
    report();
  report();
  return !r.stop;  // read before the guard sets it
}

}  // namespace

FileStamp StampOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  FileStamp stamp;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return stamp;
  stamp.size = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
      data.nFileSizeLow);
  stamp.lastWrite =
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

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
                                 std::vector<std::size_t>& changed,
                                 const std::vector<KnownFile>* known,
                                 std::vector<FileStamp>* seen) {
  changed.clear();
  if (seen)
    seen->assign(index.entries.size(), FileStamp());
  if (known && known->size() != index.entries.size())
    known = nullptr;
  // First the names and sizes: what to read, and how much in all.
  std::vector<std::wstring> paths(index.entries.size());
  Readers readers{index, paths, {}, std::vector<char>(index.entries.size())};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    const ZipEntry& e = index.entries[i];
    std::wstring relative;
    if (!EntryRelativePath(e, relative))
      return CompareResult::kUnsafeName;
    if (IsFolderEntry(e))
      continue;
    paths[i] = folder + L"\\" + relative;
    const FileStamp stamp = StampOf(paths[i]);
    if (seen)
      (*seen)[i] = stamp;
    if (known && (*known)[i].known && stamp.size >= 0 &&
        stamp == (*known)[i].stamp) {
      readers.same[i] = (*known)[i].same;
      continue;
    }
    if (stamp.size >= 0 &&
        static_cast<std::uint64_t>(stamp.size) == e.uncompressedSize) {
      readers.toRead.push_back(i);
      total += e.uncompressedSize;
    }
  }
  if (!ReadAll(readers, total, onProgress))
    return CompareResult::kCancelled;
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    if (!IsFolderEntry(index.entries[i]) && !readers.same[i])
      changed.push_back(i);
  }
  return CompareResult::kCompared;
}

std::uint64_t BytesToWrite(const ZipIndex& index,
                           const std::wstring& folder,
                           const std::vector<std::size_t>& entries) {
  std::uint64_t bytes = 0;
  for (const std::size_t i : entries) {
    const ZipEntry& e = index.entries[i];
    if (IsFolderEntry(e))
      continue;
    std::wstring relative;
    const std::int64_t existing = EntryRelativePath(e, relative)
                                      ? SizeOfFile(folder + L"\\" + relative)
                                      : -1;
    const auto replaced =
        static_cast<std::uint64_t>(std::max<std::int64_t>(existing, 0));
    if (e.uncompressedSize > replaced)
      bytes += e.uncompressedSize - replaced;
  }
  return bytes;
}
