#include "transfer/zip_index.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint16_t kEncryptedFlag = 0x0001;
constexpr std::uint16_t kUtf8Flag = 0x0800;
using zip::kCentralSize;
using zip::kLocalHeaderSize;
using zip::kMax16;
using zip::kMax32;
using zip::kZip64ExtraId;

// Little-endian reads; the caller has checked the bounds.
std::uint64_t Read(std::string_view bytes, std::size_t at, int size) {
  return zip::ReadLittleEndian(bytes, at, size);
}
std::uint16_t Read16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(Read(bytes, at, 2));
}
std::uint32_t Read32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Read(bytes, at, 4));
}

// The zip64 end record that the locator before the end record at `at`
// points to, when the tail holds it.
bool ReadZip64End(std::string_view tail,
                  std::uint64_t tailStart,
                  std::size_t at,
                  ZipEnd& end) {
  if (at < kZip64LocatorSize)
    return false;
  const std::size_t locator = at - kZip64LocatorSize;
  if (Read32(tail, locator) != kZip64LocatorSignature ||
      Read32(tail, locator + 4) != 0 || Read32(tail, locator + 16) != 1)
    return false;
  // The record must end before the locator. Its offset comes from the
  // file: subtract, never add to it, or an offset near 2^64 wraps into a
  // small number and the record is read from before the tail.
  const std::uint64_t record = Read(tail, locator + 8, 8);
  if (record < tailStart || record - tailStart > locator ||
      locator - (record - tailStart) < kZip64EndSize)
    return false;
  const std::size_t r = static_cast<std::size_t>(record - tailStart);
  if (Read32(tail, r) != kZip64EndSignature || Read32(tail, r + 16) != 0 ||
      Read32(tail, r + 20) != 0 ||
      Read(tail, r + 24, 8) != Read(tail, r + 32, 8))
    return false;
  end.entryCount = Read(tail, r + 32, 8);
  end.centralDirectorySize = Read(tail, r + 40, 8);
  end.centralDirectoryOffset = Read(tail, r + 48, 8);
  return true;
}

// Fills the values stored as all ones in the fixed record from the zip64
// extra field, in the order the format gives them, and the disk number when
// wantDisk (it too was all ones). False when one of them is missing.
bool ApplyZip64Extra(std::string_view extra,
                     ZipEntry& entry,
                     bool wantDisk,
                     std::uint32_t& disk) {
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    const std::uint16_t id = Read16(extra, at);
    const std::size_t size = Read16(extra, at + 2);
    if (at + 4 + size > extra.size())
      return false;
    if (id == kZip64ExtraId) {
      std::size_t field = at + 4;
      const std::size_t fieldEnd = field + size;
      for (std::uint64_t* value :
           {&entry.uncompressedSize, &entry.compressedSize,
            &entry.localHeaderOffset}) {
        if (*value != kMax32)
          continue;
        if (field + 8 > fieldEnd)
          return false;
        *value = Read(extra, field, 8);
        field += 8;
      }
      if (wantDisk) {
        if (field + 4 > fieldEnd)
          return false;
        disk = Read32(extra, field);
        wantDisk = false;
      }
    }
    at += 4 + size;
  }
  return !wantDisk;
}

// One central record at `at`; `at` moves past it.
bool ReadCentralRecord(std::string_view dir, std::size_t& at, ZipEntry& entry) {
  if (dir.size() - at < kCentralSize || Read32(dir, at) != kCentralSignature)
    return false;
  const std::size_t nameSize = Read16(dir, at + 28);
  const std::size_t extraSize = Read16(dir, at + 30);
  const std::size_t commentSize = Read16(dir, at + 32);
  const std::size_t whole = kCentralSize + nameSize + extraSize + commentSize;
  if (dir.size() - at < whole)
    return false;
  entry.flags = Read16(dir, at + 8);
  entry.method = Read16(dir, at + 10);
  entry.crc32 = Read32(dir, at + 16);
  entry.compressedSize = Read32(dir, at + 20);
  entry.uncompressedSize = Read32(dir, at + 24);
  entry.localHeaderOffset = Read32(dir, at + 42);
  entry.utf8 = (entry.flags & kUtf8Flag) != 0;
  entry.name.assign(dir.substr(at + kCentralSize, nameSize));
  entry.centralRecord.assign(dir.substr(at, whole));
  // Every entry is on the one disk there is.
  const std::uint16_t fixedDisk = Read16(dir, at + 34);
  std::uint32_t disk = fixedDisk;
  if (!ApplyZip64Extra(dir.substr(at + kCentralSize + nameSize, extraSize),
                       entry, fixedDisk == kMax16, disk) ||
      disk != 0)
    return false;
  // A value left at all ones had no 64-bit value in the extra field.
  if (entry.compressedSize == kMax32 || entry.uncompressedSize == kMax32 ||
      entry.localHeaderOffset == kMax32)
    return false;
  at += whole;
  return (entry.flags & kEncryptedFlag) == 0;
}

// True when every entry's bytes (its local header, name and data) end
// before the next entry's local header, or before the directory.
bool EntriesFitApart(const ZipIndex& index) {
  const std::vector<std::size_t> byOffset = EntriesByOffset(index);
  for (std::size_t i = 0; i < byOffset.size(); ++i) {
    const ZipEntry& e = index.entries[byOffset[i]];
    const std::uint64_t next =
        i + 1 < byOffset.size()
            ? index.entries[byOffset[i + 1]].localHeaderOffset
            : index.end.centralDirectoryOffset;
    const std::uint64_t least = kLocalHeaderSize + e.name.size();
    if (e.localHeaderOffset >= next || next - e.localHeaderOffset < least ||
        next - e.localHeaderOffset - least < e.compressedSize)
      return false;
  }
  return true;
}

}  // namespace

bool FindZipEnd(std::string_view tail, std::uint64_t fileSize, ZipEnd& end) {
  if (tail.size() < kEndSize || tail.size() > fileSize)
    return false;
  const std::uint64_t tailStart = fileSize - tail.size();
  // The record is the last one: search backwards, past a comment of at most
  // 64 KiB, for a signature whose comment length reaches the end exactly.
  for (std::size_t at = tail.size() - kEndSize;; --at) {
    if (Read32(tail, at) == kEndSignature &&
        at + kEndSize + Read16(tail, at + 20) == tail.size()) {
      if (Read16(tail, at + 4) != 0 || Read16(tail, at + 6) != 0 ||
          Read16(tail, at + 8) != Read16(tail, at + 10))
        return false;  // more than one disk
      end.entryCount = Read16(tail, at + 10);
      end.centralDirectorySize = Read32(tail, at + 12);
      end.centralDirectoryOffset = Read32(tail, at + 16);
      const bool zip64 = end.entryCount == kMax16 ||
                         end.centralDirectorySize == kMax32 ||
                         end.centralDirectoryOffset == kMax32;
      if (zip64 && !ReadZip64End(tail, tailStart, at, end))
        return false;
      // The directory ends where the end records begin, or before.
      const std::uint64_t endRecords = tailStart + at;
      return end.centralDirectorySize <= kMaxCentralDirectoryBytes &&
             end.centralDirectoryOffset <= endRecords &&
             end.centralDirectorySize <=
                 endRecords - end.centralDirectoryOffset;
    }
    if (at == 0 || tail.size() - at > kEndSize + kMax16)
      return false;
  }
}

bool ReadCentralDirectory(std::string_view directory,
                          const ZipEnd& end,
                          ZipIndex& index) {
  if (directory.size() != end.centralDirectorySize ||
      end.entryCount > directory.size() / kCentralSize)
    return false;
  index.end = end;
  index.entries.clear();
  index.entries.reserve(static_cast<std::size_t>(end.entryCount));
  std::size_t at = 0;
  while (at < directory.size()) {
    ZipEntry entry;
    if (index.entries.size() == end.entryCount ||
        !ReadCentralRecord(directory, at, entry) ||
        entry.localHeaderOffset >= end.centralDirectoryOffset)
      return false;
    index.entries.push_back(std::move(entry));
  }
  return index.entries.size() == end.entryCount && EntriesFitApart(index);
}

std::vector<std::size_t> EntriesByOffset(const ZipIndex& index) {
  std::vector<std::size_t> order(index.entries.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::sort(order.begin(), order.end(), [&index](std::size_t a, std::size_t b) {
    return index.entries[a].localHeaderOffset <
           index.entries[b].localHeaderOffset;
  });
  return order;
}

bool LocalNameSize(std::string_view bytes, std::size_t& nameSize) {
  if (bytes.size() < kLocalHeaderSize || Read32(bytes, 0) != kLocalSignature)
    return false;
  nameSize = Read16(bytes, 26);
  return true;
}

bool ReadLocalName(std::string_view bytes, std::string& name, bool& utf8) {
  std::size_t size = 0;
  if (!LocalNameSize(bytes, size) || bytes.size() - kLocalHeaderSize < size)
    return false;
  name.assign(bytes.substr(kLocalHeaderSize, size));
  utf8 = (Read16(bytes, 6) & kUtf8Flag) != 0;
  return true;
}

std::uint64_t zip::ReadLittleEndian(std::string_view bytes,
                                    std::size_t at,
                                    int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}
