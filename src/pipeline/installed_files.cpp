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

// A file entry and the folder it lies in, for grouping by folder.
// (The folder is the first `length` characters of the entry's path.)
struct InFolder {
  const std::wstring* path;
  int length;
  std::size_t entry;
};

int CompareFolders(const InFolder& a, const InFolder& b) {
  return CompareStringOrdinal(a.path->c_str(), a.length, b.path->c_str(),
                              b.length, TRUE) -
         CSTR_EQUAL;
}

int CompareParents(const void* a, const void* b) {
  return CompareFolders(*static_cast<const InFolder*>(a),
                        *static_cast<const InFolder*>(b));
}

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

// The names in folder as the file system spells them, sorted by
// ComparePaths: one listing costs a file system round trip or two, a search
// for each file's own name would cost as many per file.
std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data = {};
  const UniqueFind found(FindFirstFileExW(
      (folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
      nullptr, FIND_FIRST_EX_LARGE_FETCH));
  for (bool more = static_cast<bool>(found); more;
       more = FindNextFileW(found.get(), &data))
    names.push_back(data.cFileName);
  SortPaths(names, false);
  return names;
}

// Per entry: whether the last entry of its path is a file whose name in
// the folder is spelled as the entry spells it, case and all. Each folder
// is listed once, for the entries in it (the case of folders is not looked
// at: tar.exe writes into a folder as it finds it).
std::vector<char> SpelledAsEntries(const std::wstring& folder,
                                   const EntryPaths& map) {
  const std::size_t n = map.paths.size();
  std::vector<char> spelled(n, 0);
  std::vector<InFolder> files;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t slash = map.paths[i].rfind(L'\\');
    if (!map.folder[i] && map.last[i] == i)
      files.push_back(
          {&map.paths[i],
           slash == std::wstring::npos ? 0 : static_cast<int>(slash), i});
  }
  std::qsort(files.data(), files.size(), sizeof(InFolder), CompareParents);
  std::vector<std::wstring> names;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const InFolder& f = files[k];
    if (k == 0 || CompareFolders(files[k - 1], f) != 0)
      names = NamesIn(folder + L"\\" + f.path->substr(0, f.length));
    const std::wstring leaf = f.path->substr(f.length ? f.length + 1 : 0);
    const std::wstring* found = FindPath(names, leaf);
    spelled[f.entry] = found && *found == leaf;
  }
  return spelled;
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

FileStamp FlushedStampOf(const std::wstring& path) {
  // Opening a file to write and flushing it changes neither its data nor
  // its time.
  UniqueFile file(CreateFileW(
      path.c_str(), GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && FlushFileBuffers(file.get()) ? StampOf(path) : FileStamp();
}

CompareResult FindChangedEntries(const ZipIndex& index,
                                 const std::wstring& folder,
                                 const CompareProgress& onProgress,
                                 std::vector<std::size_t>& changed,
                                 const std::vector<KnownFile>* known,
                                 std::vector<FileStamp>* seen) {
  changed.clear();
  const std::size_t n = index.entries.size();
  if (seen)
    seen->assign(n, FileStamp());
  if (known && known->size() != n)
    known = nullptr;
  EntryPaths map;
  if (!MapEntries(index, map))
    return CompareResult::kUnsafeName;
  // tar.exe replaces a file whose name differs in case only, so that it
  // carries the entry's: such a file is not the entry's yet.
  const std::vector<char> spelled = SpelledAsEntries(folder, map);
  // First the names and sizes: what to read, and how much in all. Only the
  // last entry of each path is looked at; the others go with its verdict.
  std::vector<std::wstring> paths(n);
  Readers readers{index, paths, {}, std::vector<char>(n)};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (map.last[i] != i)
      continue;
    paths[i] = folder + L"\\" + map.paths[i];
    if (map.folder[i]) {
      const DWORD attributes = GetFileAttributesW(paths[i].c_str());
      readers.same[i] = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY);
      continue;
    }
    const FileStamp stamp = StampOf(paths[i]);
    if (stamp.size < 0 || !spelled[i])
      continue;
    if (seen)
      (*seen)[i] = stamp;
    if (known && (*known)[i].known && stamp == (*known)[i].stamp) {
      readers.same[i] = (*known)[i].same;
      continue;
    }
    if (static_cast<std::uint64_t>(stamp.size) ==
        index.entries[i].uncompressedSize) {
      readers.toRead.push_back(i);
      total += index.entries[i].uncompressedSize;
    }
  }
  if (!ReadAll(readers, total, onProgress))
    return CompareResult::kCancelled;
  for (std::size_t i = 0; i < n; ++i) {
    if (!readers.same[map.last[i]])
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
