// The record of the installed package, kept beside the setup copy: what
// names the package (version, size, validator), its central directory, and
// each file's size and last-write time as unpacking left them. An update
// trusts a file whose attributes are still the record's without reading it;
// a reinstall reads every file but takes the directory from the record when
// the site still serves the recorded package.
#pragma once

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

// The record in folder, when it fits: it decodes, names this folder (in any
// case), and its version formatted ("0042") is registeredVersion. False for
// a record that is missing, larger than kMaxRecordBytes, or does not fit.
bool ReadInstallRecord(const std::wstring& folder,
                       const std::wstring& registeredVersion,
                       InstallRecord& record);

// Writes record into record.folder under a temporary name, then renames it
// over the old record, so that a crash leaves no half record under the
// record's name. Best effort: false when it could not.
bool WriteInstallRecord(const InstallRecord& record);

// Deletes folder's record; true when there is none afterwards.
bool DeleteInstallRecord(const std::wstring& folder);

// The files of package's entries in folder as they are now: the stamps
// its check saw, but for the entries unpacking replaced, or each file
// anew when the folder was not checked.
std::vector<FileStamp> StampFiles(const RecordedPackage& package,
                                  const std::wstring& folder);

// What the record tells of each entry of a new package's index: for a name
// the record lists with a stamp, that stamp, and whether the recorded entry
// is the new one (same CRC-32 and size).
std::vector<KnownFile> KnownFromRecord(const InstallRecord& record,
                                       const ZipIndex& index);
