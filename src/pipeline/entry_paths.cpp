#include "pipeline/entry_paths.h"

#include <windows.h>

#include <cstdlib>
#include <utility>

namespace {

constexpr UINT kCodePage437 = 437;
// The entry's "version made by" names the system its attributes are of.
constexpr unsigned kMsDos = 0;
constexpr unsigned kUnix = 3;
constexpr std::uint32_t kMsDosFolder = 0x10;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixFolder = 0040000;

std::wstring Decode(const std::string& name, bool utf8) {
  if (name.empty())
    return L"";
  const UINT page = utf8 ? CP_UTF8 : kCodePage437;
  const int size = static_cast<int>(name.size());
  std::wstring out(name.size(), L'\0');
  const int n =
      MultiByteToWideChar(page, 0, name.data(), size, out.data(), size);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

// True when no part of the "\"-separated path is "..", and it names no
// drive, root or device stream.
bool StaysInside(const std::wstring& path) {
  if (path.empty() || path.front() == L'\\' ||
      path.find(L':') != std::wstring::npos)
    return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(L'\\', start);
    const std::wstring part = path.substr(start, end - start);
    if (part == L"..")
      return false;
    if (end == std::wstring::npos)
      return true;
    start = end + 1;
  }
}

// An entry's path and its place in the order of bytes, for grouping.
struct Placed {
  const std::wstring* path;
  std::size_t rank;
  std::size_t entry;
};

// By path, then by place: a group of equal paths ends in its last entry.
int ComparePlaced(const void* a, const void* b) {
  const auto& x = *static_cast<const Placed*>(a);
  const auto& y = *static_cast<const Placed*>(b);
  const int byPath = ComparePaths(*x.path, *y.path);
  if (byPath != 0)
    return byPath;
  return x.rank < y.rank ? -1 : (x.rank > y.rank ? 1 : 0);
}

int CompareStrings(const void* a, const void* b) {
  return ComparePaths(*static_cast<const std::wstring*>(a),
                      *static_cast<const std::wstring*>(b));
}

}  // namespace

int ComparePathPointers(const void* a, const void* b) {
  return ComparePaths(**static_cast<const std::wstring* const*>(a),
                      **static_cast<const std::wstring* const*>(b));
}

bool EntryRelativePath(const ZipEntry& entry, std::wstring& relative) {
  std::wstring path = Decode(entry.name, entry.utf8);
  for (wchar_t& c : path) {
    if (c == L'/')
      c = L'\\';
  }
  if (!path.empty() && path.back() == L'\\')
    path.pop_back();
  if (!StaysInside(path))
    return false;
  relative = path;
  return true;
}

bool IsFolderEntry(const ZipEntry& entry) {
  const std::string& name = entry.name;
  if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
    return true;
  const std::string_view record(entry.centralRecord);
  if (record.size() < zip::kCentralSize)
    return false;
  const unsigned system = static_cast<unsigned char>(record[5]);
  const auto attributes =
      static_cast<std::uint32_t>(zip::ReadLittleEndian(record, 38, 4));
  return (system == kMsDos && (attributes & kMsDosFolder)) ||
         (system == kUnix &&
          ((attributes >> 16) & kUnixTypeMask) == kUnixFolder);
}

int ComparePaths(const std::wstring& a, const std::wstring& b) {
  // The ordinal comparison that ignores case is the file system's: NTFS
  // folds names with the same uppercase table.
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) -
         CSTR_EQUAL;
}

bool MapEntries(const ZipIndex& index, EntryPaths& map) {
  const std::size_t n = index.entries.size();
  map.paths.assign(n, std::wstring());
  map.folder.assign(n, 0);
  map.last.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (!EntryRelativePath(index.entries[i], map.paths[i]))
      return false;
    map.folder[i] = IsFolderEntry(index.entries[i]);
  }
  const std::vector<std::size_t> order = EntriesByOffset(index);
  std::vector<Placed> placed(n);
  for (std::size_t k = 0; k < n; ++k)
    placed[k] = {&map.paths[order[k]], k, order[k]};
  // qsort and bsearch cost the program far fewer bytes than std::sort's
  // instantiations.
  std::qsort(placed.data(), n, sizeof(Placed), ComparePlaced);
  for (std::size_t end = n; end > 0;) {
    std::size_t begin = end - 1;
    while (begin > 0 &&
           ComparePaths(*placed[begin - 1].path, *placed[end - 1].path) == 0)
      --begin;
    for (std::size_t k = begin; k < end; ++k)
      map.last[placed[k].entry] = placed[end - 1].entry;
    end = begin;
  }
  return true;
}

void SortPaths(std::vector<std::wstring>& paths, bool withFolders) {
  if (withFolders) {
    const std::size_t given = paths.size();
    for (std::size_t k = 0; k < given; ++k) {
      for (std::size_t at = paths[k].find(L'\\'); at != std::wstring::npos;
           at = paths[k].find(L'\\', at + 1))
        paths.push_back(paths[k].substr(0, at));
    }
  }
  // Strings are sorted through pointers: qsort moves bytes, and a string
  // may point into itself.
  std::vector<std::wstring*> order(paths.size());
  for (std::size_t k = 0; k < order.size(); ++k)
    order[k] = &paths[k];
  std::qsort(order.data(), order.size(), sizeof(order[0]), ComparePathPointers);
  std::vector<std::wstring> sorted;
  sorted.reserve(order.size());
  for (std::wstring* path : order)
    sorted.push_back(std::move(*path));
  paths.swap(sorted);
}

const std::wstring* FindPath(const std::vector<std::wstring>& sorted,
                             const std::wstring& path) {
  return static_cast<const std::wstring*>(
      std::bsearch(&path, sorted.data(), sorted.size(), sizeof(std::wstring),
                   CompareStrings));
}
