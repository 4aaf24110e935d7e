// The installed game against a package's index: which entries the folder
// already holds byte for byte, so that an update fetches only the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/entry_paths.h"
#include "transfer/zip_index.h"

// A file's size and last-write time (FILETIME units) as the file system
// reports them; size -1 for a path that is missing or not a file.
struct FileStamp {
  std::int64_t size = -1;
  std::uint64_t lastWrite = 0;
};

inline bool operator==(const FileStamp& a, const FileStamp& b) {
  return a.size == b.size && a.lastWrite == b.lastWrite;
}

// The stamp of the file at path.
FileStamp StampOf(const std::wstring& path);

// The stamp of the file at path once its data is on the disk: what a stamp
// vouches for must outlive a power cut (a file can keep its size and time
// while its data reads back as zeros). No stamp (size -1) when the file
// cannot be opened for writing (read-only) or flushed.
FileStamp FlushedStampOf(const std::wstring& path);

// What is known of an entry's file without reading it: when the file's
// stamp is still `stamp`, it is the entry's byte for byte (same) or not.
struct KnownFile {
  bool known = false;
  FileStamp stamp;
  bool same = false;
};

enum class CompareResult {
  kCompared,    // changed lists every entry that differs
  kUnsafeName,  // an entry's name could leave the folder: fetch it all
  kCancelled,   // onProgress said stop
};

// Called on the calling thread about every 50 ms while the files are read,
// and once when all are, with the bytes read so far and the bytes to read in
// all (the sizes of the files whose size matches). False stops.
using CompareProgress = std::function<bool(std::uint64_t, std::uint64_t)>;

// Compares the folder with what tar.exe would leave in it from the whole
// package. Entries whose paths compare equal (MapEntries) are judged
// together, by the last of them: all are changed unless the path holds that
// one. A folder entry is the same when its path is a folder. A file entry is
// the same when the file exists under the entry's name in the same case, its
// size is the entry's uncompressed size and its CRC-32 is the entry's. Only
// files whose size matches are read, each once, in blocks of 1 MiB, by two
// threads at a time; a file that cannot be read (locked, a folder where the
// package has a file) counts as different. known, when not null, holds one
// KnownFile per entry: a file whose stamp is its known stamp is taken as
// known says, without being read. seen, when not null, gets the stamp of
// each file entry that is the last of its path, as the check found it (the
// others: none).
CompareResult FindChangedEntries(const ZipIndex& index,
                                 const std::wstring& folder,
                                 const CompareProgress& onProgress,
                                 std::vector<std::size_t>& changed,
                                 const std::vector<KnownFile>* known = nullptr,
                                 std::vector<FileStamp>* seen = nullptr);

// What unpacking the given entries adds to folder: each file entry's size
// less the size of the file it replaces, never below 0. Entries whose name
// could leave the folder count whole; folder entries count nothing.
std::uint64_t BytesToWrite(const ZipIndex& index,
                           const std::wstring& folder,
                           const std::vector<std::size_t>& entries);
