#include "pipeline/install_record.h"

#include <windows.h>

#include <cstdlib>

#include "core/setup_state.h"
#include "pipeline/version.h"
#include "platform/file_bytes.h"
#include "platform/unique_handle.h"

namespace {

std::wstring RecordPath(const std::wstring& folder) {
  return folder + L"\\" + g_product.recordFile;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool ReadInstallRecord(const std::wstring& folder,
                       const std::wstring& registeredVersion,
                       InstallRecord& record) {
  UniqueFile file(CreateFileW(RecordPath(folder).c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  std::string bytes;
  return file && GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
         static_cast<std::uint64_t>(size.QuadPart) <= kMaxRecordBytes &&
         ReadFileBytes(file.get(), 0, static_cast<std::uint64_t>(size.QuadPart),
                       bytes) &&
         DecodeRecord(bytes, record) && SameFolder(record.folder, folder) &&
         !registeredVersion.empty() &&
         FormatVersion(record.version) == registeredVersion;
}

bool WriteInstallRecord(const InstallRecord& record) {
  const std::wstring path = RecordPath(record.folder);
  const std::wstring temporary = path + L".new";
  const std::string bytes = EncodeRecord(record);
  bool written = false;
  {
    UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // On disk before the rename: a crash after it finds the whole record
    // or the old name empty, never a record cut short under its name.
    written = file && AppendFileBytes(file.get(), bytes) &&
              FlushFileBuffers(file.get());
  }
  if (written &&
      MoveFileExW(temporary.c_str(), path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileW(temporary.c_str());
  return false;
}

bool DeleteInstallRecord(const std::wstring& folder) {
  const std::wstring path = RecordPath(folder);
  return DeleteFileW(path.c_str()) ||
         GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::vector<FileStamp> StampFiles(const RecordedPackage& package,
                                  const std::wstring& folder) {
  const std::vector<ZipEntry>& entries = package.index.entries;
  const std::size_t n = entries.size();
  std::vector<FileStamp> stamps(n);
  EntryPaths map;
  if (!MapEntries(package.index, map))
    return stamps;
  // The files the check saw are as it saw them, unless unpacking replaced
  // them: a stat of each again would cost a wineserver or file system round
  // trip per file for nothing.
  const bool checked = package.seen.size() == n;
  std::vector<char> fresh(n, checked ? 0 : 1);
  for (const std::size_t i : package.unpacked) {
    if (i < n)
      fresh[i] = 1;
  }
  // A stamp says which entry's bytes a file holds: only the entry that tar
  // wrote last under its path and name gets one, and only when the file's
  // size is that entry's.
  std::vector<char> skip(map.folder);
  for (const std::size_t i : package.renamed)
    skip[i] = 1;
  for (std::size_t i = 0; i < n; ++i) {
    if (skip[i] || map.last[i] != i)
      continue;
    // What a part replaced is flushed before the record vouches for it. A
    // whole unpack is not: flushing every file would make the install take
    // a quarter to over half as long again (see the README).
    FileStamp stamp;
    if (!fresh[i]) {
      stamp = package.seen[i];  // only a checked folder has entries not fresh
    } else {
      const std::wstring path = folder + L"\\" + map.paths[i];
      stamp = checked ? FlushedStampOf(path) : StampOf(path);
    }
    if (stamp.size >= 0 &&
        static_cast<std::uint64_t>(stamp.size) == entries[i].uncompressedSize)
      stamps[i] = stamp;
  }
  return stamps;
}

std::vector<KnownFile> KnownFromRecord(const InstallRecord& record,
                                       const ZipIndex& index) {
  const ZipIndex& old = record.package.index;
  std::vector<KnownFile> known(index.entries.size());
  EntryPaths was;
  EntryPaths now;
  if (record.stamps.size() != old.entries.size() || !MapEntries(old, was) ||
      !MapEntries(index, now))
    return known;
  std::vector<const std::wstring*> byPath(was.paths.size());
  for (std::size_t k = 0; k < byPath.size(); ++k)
    byPath[k] = &was.paths[k];
  std::qsort(byPath.data(), byPath.size(), sizeof(byPath[0]),
             ComparePathPointers);
  for (std::size_t i = 0; i < known.size(); ++i) {
    const ZipEntry& e = index.entries[i];
    const std::wstring* key = &now.paths[i];
    const auto* found = static_cast<const std::wstring* const*>(
        std::bsearch(&key, byPath.data(), byPath.size(), sizeof(byPath[0]),
                     ComparePathPointers));
    if (!found)
      continue;
    // A path the record holds twice (in any case, with either separator):
    // which of its entries the file is, is not known.
    const std::size_t pos = static_cast<std::size_t>(found - byPath.data());
    if ((pos > 0 && ComparePaths(*byPath[pos - 1], *key) == 0) ||
        (pos + 1 < byPath.size() && ComparePaths(*byPath[pos + 1], *key) == 0))
      continue;
    const std::size_t at = static_cast<std::size_t>(*found - was.paths.data());
    const ZipEntry& entry = old.entries[at];
    if (record.stamps[at].size < 0)
      continue;
    known[i].known = true;
    known[i].stamp = record.stamps[at];
    known[i].same = entry.crc32 == e.crc32 &&
                    entry.uncompressedSize == e.uncompressedSize &&
                    static_cast<std::uint64_t>(known[i].stamp.size) ==
                        entry.uncompressedSize;
  }
  return known;
}
