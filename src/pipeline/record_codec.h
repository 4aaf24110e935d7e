// The record of the installed package as bytes: what names the package,
// its central directory and a stamp per entry, ending in a CRC-32. Pure
// functions over bytes (a record is read from a disk anything may have
// damaged), built without Windows headers so that they can be fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/installed_files.h"
#include "transfer/zip_index.h"

// What names a package and what it holds.
struct RecordedPackage {
  std::uint64_t size = 0;
  std::wstring validator;  // as If-Range sends it; "" when none was given
  std::string directory;   // the central directory's bytes
  ZipIndex index;          // read from directory; no entries when unknown
  // When the folder was checked against index before unpacking: each
  // entry's stamp as the check found it, and the entries unpacking then
  // replaced (empty when it replaced none or the folder was not checked).
  // Not part of the record's bytes.
  std::vector<FileStamp> seen;
  std::vector<std::size_t> unpacked;
  // The entries whose local header, from which tar.exe takes the name it
  // writes, names another file than their central record; index holds
  // them under the local header's name, directory as it was. Such an entry
  // gets no stamp. Not part of the record's bytes either.
  std::vector<std::size_t> renamed;
};

struct InstallRecord {
  int version = 0;
  std::wstring folder;  // the install folder it describes
  RecordedPackage package;
  std::vector<FileStamp> stamps;  // one per index entry, in its order
};

// The most bytes a record may hold before it counts as damaged: the largest
// directory the index reader takes, and a stamp for each of its entries.
constexpr std::uint64_t kMaxRecordBytes = 2 * kMaxCentralDirectoryBytes;

// The record as bytes, ending in a CRC-32 of everything before it.
std::string EncodeRecord(const InstallRecord& record);

// False, with record unspecified, unless bytes are a whole record with a
// good checksum, its directory reads as an index whose entry count is the
// stamps' count.
bool DecodeRecord(std::string_view bytes, InstallRecord& record);
