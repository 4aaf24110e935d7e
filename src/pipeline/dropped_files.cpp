#include "pipeline/dropped_files.h"

#include <windows.h>

#include <vector>

#include "core/setup_state.h"

namespace {

// The program's own files at the top of the folder, "GormEkSetup.*": the
// setup copy and the record beside it.
bool IsOwnFile(const std::wstring& path) {
  const wchar_t* setup = g_product.setupExe;
  const int stem = static_cast<int>(wcschr(setup, L'.') - setup) + 1;
  return path.find(L'\\') == std::wstring::npos &&
         path.size() >= static_cast<std::size_t>(stem) &&
         CompareStringOrdinal(path.c_str(), stem, setup, stem, TRUE) ==
             CSTR_EQUAL;
}

// Deletes the folders above path, deepest first, up to the first one that
// the new package names or that is not empty (or is a link to a folder
// elsewhere, which is the player's). Run after every deletion, the last
// file's run below a folder finds it as empty as it will get.
void RemoveEmptyFoldersAbove(const std::wstring& folder,
                             std::wstring path,
                             const std::vector<std::wstring>& named) {
  for (std::size_t at = path.rfind(L'\\'); at != std::wstring::npos;
       at = path.rfind(L'\\')) {
    path.resize(at);
    const std::wstring full = folder + L"\\" + path;
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (FindPath(named, path) || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !RemoveDirectoryW(full.c_str()))
      return;
  }
}

}  // namespace

void RemoveDroppedFiles(const InstallRecord& record,
                        const RecordedPackage& now,
                        const std::wstring& folder) {
  const ZipIndex& old = record.package.index;
  EntryPaths was;
  EntryPaths is;
  if (now.index.entries.empty() || record.stamps.size() != old.entries.size() ||
      !MapEntries(old, was) || !MapEntries(now.index, is))
    return;
  // Every path the new package names, as tar.exe wrote it (the index holds
  // a renamed entry under its local header's name).
  std::vector<std::wstring> named = is.paths;
  SortPaths(named, true);
  std::vector<char> deleted(old.entries.size(), 0);
  for (std::size_t i = 0; i < old.entries.size(); ++i) {
    const std::wstring& path = was.paths[i];
    if (was.folder[i] || was.last[i] != i || record.stamps[i].size < 0 ||
        IsOwnFile(path) || FindPath(named, path))
      continue;
    const std::wstring file = folder + L"\\" + path;
    deleted[i] = StampOf(file) == record.stamps[i] && DeleteFileW(file.c_str());
  }
  for (std::size_t i = 0; i < old.entries.size(); ++i) {
    if (deleted[i])
      RemoveEmptyFoldersAbove(folder, was.paths[i], named);
  }
}
