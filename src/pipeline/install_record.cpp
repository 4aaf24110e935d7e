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

// Orders entries by name for qsort and bsearch, which cost the program far
// fewer bytes than std::sort's instantiations.
int CompareNames(const void* a, const void* b) {
  return (*static_cast<const ZipEntry* const*>(a))
      ->name.compare((*static_cast<const ZipEntry* const*>(b))->name);
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
  const bool checked = package.seen.size() == entries.size();
  std::vector<FileStamp> stamps =
      checked ? package.seen : std::vector<FileStamp>(entries.size());
  // The files the check saw are as it saw them, unless unpacking replaced
  // them: a stat of each again would cost a wineserver or file system round
  // trip per file for nothing.
  const auto restamp = [&](std::size_t i) {
    std::wstring relative;
    const ZipEntry& e = entries[i];
    // A folder entry and a name that could leave the folder get no stamp.
    if (!e.name.empty() && e.name.back() != '/' &&
        EntryRelativePath(e, relative))
      stamps[i] = StampOf(folder + L"\\" + relative);
  };
  if (checked) {
    for (const std::size_t i : package.unpacked) {
      if (i < stamps.size())
        restamp(i);
    }
  } else {
    for (std::size_t i = 0; i < stamps.size(); ++i)
      restamp(i);
  }
  return stamps;
}

std::vector<KnownFile> KnownFromRecord(const InstallRecord& record,
                                       const ZipIndex& index) {
  const ZipIndex& old = record.package.index;
  std::vector<KnownFile> known(index.entries.size());
  if (record.stamps.size() != old.entries.size())
    return known;
  std::vector<const ZipEntry*> byName(old.entries.size());
  for (std::size_t k = 0; k < byName.size(); ++k)
    byName[k] = &old.entries[k];
  std::qsort(byName.data(), byName.size(), sizeof(byName[0]), CompareNames);
  for (std::size_t i = 0; i < known.size(); ++i) {
    const ZipEntry& e = index.entries[i];
    const ZipEntry* key = &e;
    const auto* found = static_cast<const ZipEntry* const*>(std::bsearch(
        &key, byName.data(), byName.size(), sizeof(byName[0]), CompareNames));
    if (!found)
      continue;
    // A name the record holds twice: which of the two the file is, is not
    // known.
    const std::size_t pos = static_cast<std::size_t>(found - byName.data());
    const ZipEntry& was = **found;
    if ((pos > 0 && byName[pos - 1]->name == e.name) ||
        (pos + 1 < byName.size() && byName[pos + 1]->name == e.name))
      continue;
    const std::size_t at = static_cast<std::size_t>(&was - old.entries.data());
    if (record.stamps[at].size < 0)
      continue;
    known[i].known = true;
    known[i].stamp = record.stamps[at];
    known[i].same =
        was.crc32 == e.crc32 && was.uncompressedSize == e.uncompressedSize &&
        static_cast<std::uint64_t>(known[i].stamp.size) == was.uncompressedSize;
  }
  return known;
}
