// Where tar.exe puts a package's entries in the install folder: each
// entry's path, whether it becomes a folder, and which of the entries whose
// paths the file system takes for one path is the one left there.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "transfer/zip_index.h"

// The path, relative to the install folder, that tar.exe writes for an
// entry: its name decoded (UTF-8 when the entry says so, else code page 437)
// with "/" turned into "\". A folder entry keeps no trailing separator.
// False when the name could leave the folder (an absolute path, a drive, a
// ".." part, an empty name): such a package goes to tar.exe whole, where its
// own checks apply.
bool EntryRelativePath(const ZipEntry& entry, std::wstring& relative);

// Whether tar.exe makes a folder of the entry: its name ends in "/" or "\",
// or its attributes say folder (MS-DOS's folder bit from an MS-DOS system,
// a folder's mode from Unix). Other systems' attributes are not looked at.
bool IsFolderEntry(const ZipEntry& entry);

// Compares two relative paths as the file system does: without regard to
// case. Less than, equal to or greater than 0, as wcscmp.
int ComparePaths(const std::wstring& a, const std::wstring& b);

// ComparePaths for qsort and bsearch over pointers to paths.
int ComparePathPointers(const void* a, const void* b);

struct EntryPaths {
  std::vector<std::wstring> paths;  // per entry: EntryRelativePath's
  std::vector<char> folder;         // per entry: IsFolderEntry
  // Per entry: of the entries whose paths compare equal to its own, the
  // last in the package's order of bytes. tar.exe writes them in that
  // order, so the path holds that entry's file or folder in the end.
  std::vector<std::size_t> last;
};

// The paths of every entry of index. False when a name could leave the
// folder (see EntryRelativePath).
bool MapEntries(const ZipIndex& index, EntryPaths& map);

// Paths sorted by ComparePaths, for FindPath. Each path's folders are
// added first when withFolders: a path names every folder above it.
void SortPaths(std::vector<std::wstring>& paths, bool withFolders);
// The path of sorted that compares equal to path (in its own case), or null.
const std::wstring* FindPath(const std::vector<std::wstring>& sorted,
                             const std::wstring& path);
