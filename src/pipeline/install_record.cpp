#include "pipeline/install_record.h"

#include <windows.h>

#include <cstdlib>

#include "core/setup_state.h"
#include "pipeline/version.h"
#include "platform/crc32.h"
#include "platform/file_bytes.h"
#include "platform/unique_handle.h"

namespace {

// "GERC" and the layout's number: a record of another layout (an older or
// newer program) does not decode, and is ignored.
constexpr std::uint32_t kMagic = 0x43524547;
constexpr std::uint32_t kLayout = 1;
constexpr std::size_t kMaxTextChars = 32768;  // a path, a validator

void Put(std::string& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutText(std::string& out, const std::wstring& text) {
  Put(out, text.size(), 4);
  for (const wchar_t c : text)
    Put(out, static_cast<std::uint16_t>(c), 2);
}

// Reads what EncodeRecord wrote, each read checked against the end.
struct Reader {
  std::string_view bytes;
  std::size_t at = 0;
  bool ok = true;

  std::uint64_t Take(int size) {
    if (!ok || bytes.size() - at < static_cast<std::size_t>(size)) {
      ok = false;
      return 0;
    }
    const std::uint64_t value = zip::ReadLittleEndian(bytes, at, size);
    at += static_cast<std::size_t>(size);
    return value;
  }

  std::wstring TakeText() {
    const std::uint64_t chars = Take(4);
    if (chars > kMaxTextChars || (bytes.size() - at) / 2 < chars) {
      ok = false;
      return L"";
    }
    std::wstring text(static_cast<std::size_t>(chars), L'\0');
    for (wchar_t& c : text)
      c = static_cast<wchar_t>(Take(2));
    return text;
  }
};

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

std::string EncodeRecord(const InstallRecord& record) {
  const RecordedPackage& package = record.package;
  const ZipEnd& end = package.index.end;
  std::string out;
  Put(out, kMagic, 4);
  Put(out, kLayout, 4);
  Put(out, static_cast<std::uint32_t>(record.version), 4);
  PutText(out, record.folder);
  Put(out, package.size, 8);
  PutText(out, package.validator);
  Put(out, end.entryCount, 8);
  Put(out, end.centralDirectoryOffset, 8);
  Put(out, package.directory.size(), 8);
  out += package.directory;
  Put(out, record.stamps.size(), 8);
  for (const FileStamp& stamp : record.stamps) {
    Put(out, static_cast<std::uint64_t>(stamp.size), 8);
    Put(out, stamp.lastWrite, 8);
  }
  Put(out, Crc32(0, out.data(), out.size()), 4);
  return out;
}

bool DecodeRecord(std::string_view bytes, InstallRecord& record) {
  if (bytes.size() < 8)
    return false;
  const std::string_view body = bytes.substr(0, bytes.size() - 4);
  Reader sum{bytes, body.size()};
  if (sum.Take(4) != Crc32(0, body.data(), body.size()))
    return false;
  Reader r{body};
  if (r.Take(4) != kMagic || r.Take(4) != kLayout)
    return false;
  record.version = static_cast<int>(r.Take(4));
  record.folder = r.TakeText();
  RecordedPackage& package = record.package;
  package.size = r.Take(8);
  package.validator = r.TakeText();
  ZipEnd end;
  end.entryCount = r.Take(8);
  end.centralDirectoryOffset = r.Take(8);
  end.centralDirectorySize = r.Take(8);
  if (!r.ok || end.centralDirectorySize > body.size() - r.at)
    return false;
  package.directory.assign(
      body.substr(r.at, static_cast<std::size_t>(end.centralDirectorySize)));
  r.at += package.directory.size();
  const std::uint64_t count = r.Take(8);
  // Exactly one stamp per entry, and nothing after them.
  if (!r.ok || count != end.entryCount || (body.size() - r.at) / 16 != count ||
      (body.size() - r.at) % 16 != 0 ||
      !ReadCentralDirectory(package.directory, end, package.index))
    return false;
  record.stamps.resize(static_cast<std::size_t>(count));
  for (FileStamp& stamp : record.stamps) {
    stamp.size = static_cast<std::int64_t>(r.Take(8));
    stamp.lastWrite = r.Take(8);
  }
  return r.ok;
}

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
