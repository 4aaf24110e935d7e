// An update or a reinstall over the game fetches only the package's entries
// that differ from the installed files: the package's index from its tail,
// a check of the folder against it, the changed entries by byte ranges, and
// a part package of just those, which tar.exe unpacks as it would the whole.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "pipeline/held_package.h"
#include "pipeline/install_record.h"
#include "pipeline/package_progress.h"
#include "transfer/http_download.h"

enum class DifferentialResult {
  kPart,         // the held package is a part package: unpack it
  kNothing,      // every file is the package's already: nothing to unpack
  kWhole,        // the held package is the whole package (the server sent it)
  kWholeNeeded,  // fetch the whole package as a first install does
  kFailed,       // errorText holds one sentence
};

// What one differential fetch needs from the run.
struct DifferentialJob {
  std::wstring packageUrl;
  std::wstring packagePath;         // in the temporary folder
  std::wstring installDir;          // holds the game
  const PackageProgress& progress;  // the status lines and the bar
  const DownloadOptions& options;   // resume, waits, the room for a whole one
  // The folder's record when it fits, else null. It gives the directory of
  // the package it names; with trustRecord (an update) a file whose stamp is
  // still the record's is known without being read.
  const InstallRecord* record = nullptr;
  bool trustRecord = false;
};

// How many bytes of the package's end are asked for first: enough for the
// end records and the central directory of a few hundred entries.
constexpr std::uint64_t kTailBytes = 64 * 1024;

// Fetches what differs, as above, into `package`, which it creates at
// job.packagePath and holds from its first byte on. Posts "Checking the
// installed files..." as it reads the package's index, with the bar moving
// to 300 while it compares, then the download lines, counting the bytes it
// fetches. Never a failure of its own: an index that is missing or makes
// no sense, an answer that does not fit, changes over half the package, or
// a part whose directory cannot be written give kWholeNeeded. On kNothing,
// kWholeNeeded and kFailed nothing is held or left at the path. On kPart
// and kNothing, brought names the newest package and holds its index.
DifferentialResult FetchDifferences(const DifferentialJob& job,
                                    HeldPackage& package,
                                    RecordedPackage& brought,
                                    std::wstring& errorText);

// For a whole package that is held, before it is unpacked: whether the
// install folder's drive holds what unpacking adds (each file's size less
// that of the file it replaces, from the package's own index). True when it
// does or the index cannot be read; false with the room sentence otherwise.
// Fills brought's size, directory and index when the index can be read.
bool RoomToUnpack(const HeldPackage& package,
                  const std::wstring& installDir,
                  RecordedPackage& brought,
                  std::wstring& errorText);
