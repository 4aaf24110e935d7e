// The record of the installed package, kept beside the setup copy: what
// names the package (version, size, validator), its central directory, and
// each file's size and last-write time as unpacking left them. An update
// trusts a file whose attributes are still the record's without reading it;
// a reinstall reads every file but takes the directory from the record when
// the site still serves the recorded package.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "pipeline/installed_files.h"
#include "pipeline/record_codec.h"
#include "transfer/zip_index.h"

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
// its check saw, but for the entries unpacking replaced, which are flushed
// to the disk first (none for a file that cannot be opened to write), or
// each file anew when the folder was not checked (a whole unpack).
std::vector<FileStamp> StampFiles(const RecordedPackage& package,
                                  const std::wstring& folder);

// What the record tells of each entry of a new package's index: for a name
// the record lists with a stamp, that stamp, and whether the recorded entry
// is the new one (same CRC-32 and size).
std::vector<KnownFile> KnownFromRecord(const InstallRecord& record,
                                       const ZipIndex& index);
