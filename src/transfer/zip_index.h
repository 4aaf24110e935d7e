// The index of a published zip package: its central directory, read from the
// package's tail, so that an update can tell which entries changed and fetch
// only those. Pure functions over bytes; nothing here touches the network.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the reader and the part writer share of the zip format.
namespace zip {
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;  // the value is in zip64's field
constexpr std::uint16_t kMax16 = 0xFFFF;
constexpr std::size_t kCentralSize = 46;      // a central record's fixed part
constexpr std::size_t kLocalHeaderSize = 30;  // a local header's fixed part
constexpr std::uint16_t kZip64ExtraId = 0x0001;

// The little-endian number of `size` bytes at `at`; the caller has checked
// that they are there.
std::uint64_t ReadLittleEndian(std::string_view bytes,
                               std::size_t at,
                               int size);
}  // namespace zip

// One entry of the central directory.
struct ZipEntry {
  std::string name;  // as stored: UTF-8 when utf8, else code page 437
  bool utf8 = false;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint64_t localHeaderOffset = 0;
  // The entry's whole central record (fixed part, name, extra field and
  // comment), for writing a central directory of chosen entries later.
  std::string centralRecord;
};

// Where the central directory lies, from the end records.
struct ZipEnd {
  std::uint64_t entryCount = 0;
  std::uint64_t centralDirectoryOffset = 0;
  std::uint64_t centralDirectorySize = 0;
};

struct ZipIndex {
  ZipEnd end;
  std::vector<ZipEntry> entries;  // in central directory order
};

// The most a central directory may hold before the index counts as not
// making sense (a package of millions of files, or a hostile one).
constexpr std::uint64_t kMaxCentralDirectoryBytes = 64 * 1024 * 1024;

// Finds the end-of-central-directory record in `tail`, the last tail.size()
// bytes of a file of fileSize bytes (a zip comment may follow the record),
// and the zip64 locator and record when the record points to them. False
// when there is none, it spans more than one disk, or what it says does not
// fit in the file. The zip64 record must lie inside the tail.
bool FindZipEnd(std::string_view tail, std::uint64_t fileSize, ZipEnd& end);

// Reads the central directory: `directory` holds exactly
// end.centralDirectorySize bytes from end.centralDirectoryOffset. False when
// it does not parse or does not make sense: a record or name that runs past
// its end, a count other than end's, a 64-bit value missing from the zip64
// extra field, an encrypted entry, a local header at or past the directory,
// or two entries whose bytes overlap.
bool ReadCentralDirectory(std::string_view directory,
                          const ZipEnd& end,
                          ZipIndex& index);

// The indexes of the entries in the order their bytes lie in the file.
std::vector<std::size_t> EntriesByOffset(const ZipIndex& index);

// A local header at the start of `bytes`. LocalNameSize gives the size of
// the name that follows its fixed part; ReadLocalName gives the name (tar.exe
// writes the entry under this one, not the central record's) and whether
// the header's flags say UTF-8. False when bytes do not begin with a local
// header, or do not hold all of its name.
bool LocalNameSize(std::string_view bytes, std::size_t& nameSize);
bool ReadLocalName(std::string_view bytes, std::string& name, bool& utf8);
