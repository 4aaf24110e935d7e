#include "transfer/zip_part.h"

#include <algorithm>
#include <string_view>

namespace {

using zip::kCentralSize;
using zip::kMax16;
using zip::kMax32;
using zip::kZip64ExtraId;
constexpr std::uint16_t kZip64Version = 45;

std::uint64_t Read(std::string_view bytes, std::size_t at, int size) {
  return zip::ReadLittleEndian(bytes, at, size);
}

void Put(std::string& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void Set(std::string& out, std::size_t at, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The record with its local header offset changed, appended to out. The
// sizes keep the form they had (a size stored in 64 bits stays so, as in
// the local header that the part copies); the offset takes 64 bits when it
// needs them. Every extra block but zip64's is kept; the zip64 block is
// written anew. False when the extra field no longer fits its length.
bool AppendRecord(std::string& out, const ZipEntry& e, std::uint64_t offset) {
  const std::string_view record(e.centralRecord);
  const std::size_t nameSize = Read(record, 28, 2);
  const std::size_t extraSize = Read(record, 30, 2);
  const std::string_view extra =
      record.substr(kCentralSize + nameSize, extraSize);
  const bool wide[3] = {Read(record, 24, 4) == kMax32,  // uncompressed
                        Read(record, 20, 4) == kMax32,  // compressed
                        offset >= kMax32};
  std::string zip64;
  const std::uint64_t values[3] = {e.uncompressedSize, e.compressedSize,
                                   offset};
  for (int i = 0; i < 3; ++i) {
    if (wide[i])
      Put(zip64, values[i], 8);
  }
  std::string newExtra;
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::size_t size = Read(extra, at + 2, 2);
    if (Read(extra, at, 2) != kZip64ExtraId)
      newExtra.append(extra.substr(at, 4 + size));
    at += 4 + size;
  }
  if (!zip64.empty()) {
    Put(newExtra, kZip64ExtraId, 2);
    Put(newExtra, zip64.size(), 2);
    newExtra += zip64;
  }
  // A 64-bit offset can grow a full extra field past what its 16-bit length
  // says; written anyway, the length would wrap and every record after it
  // would be read from the wrong place.
  if (newExtra.size() > kMax16)
    return false;
  const std::size_t at = out.size();
  out.append(record.substr(0, kCentralSize));
  if (!zip64.empty() && Read(record, 6, 2) < kZip64Version)
    Set(out, at + 6, kZip64Version, 2);
  Set(out, at + 30, newExtra.size(), 2);
  Set(out, at + 34, 0, 2);  // disk
  Set(out, at + 42, wide[2] ? kMax32 : offset, 4);
  out.append(record.substr(kCentralSize, nameSize));
  out += newExtra;
  out.append(record.substr(kCentralSize + nameSize + extraSize));
  return true;
}

void PutEndRecords(std::string& out,
                   std::uint64_t count,
                   std::uint64_t size,
                   std::uint64_t offset) {
  const bool zip64 = count >= kMax16 || size >= kMax32 || offset >= kMax32;
  if (zip64) {
    const std::uint64_t record = offset + size;
    Put(out, 0x06064b50, 4);
    Put(out, 44, 8);
    Put(out, kZip64Version, 2);
    Put(out, kZip64Version, 2);
    Put(out, 0, 8);  // this disk, the directory's disk
    Put(out, count, 8);
    Put(out, count, 8);
    Put(out, size, 8);
    Put(out, offset, 8);
    Put(out, 0x07064b50, 4);
    Put(out, 0, 4);
    Put(out, record, 8);
    Put(out, 1, 4);
  }
  Put(out, 0x06054b50, 4);
  Put(out, 0, 4);  // disks
  Put(out, zip64 ? kMax16 : count, 2);
  Put(out, zip64 ? kMax16 : count, 2);
  Put(out, zip64 ? kMax32 : size, 4);
  Put(out, zip64 ? kMax32 : offset, 4);
  Put(out, 0, 2);  // no comment
}

}  // namespace

std::vector<PartEntry> EntriesInPart(const ZipIndex& index,
                                     const RangePlan& plan) {
  // Every entry's span, as the planner sees it: to the next local header.
  std::vector<std::size_t> all(index.entries.size());
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = i;
  const RangePlan everything = PlanRanges(index, all, 0);
  std::vector<PartEntry> part;
  std::uint64_t partOffset = 0;
  std::size_t next = 0;  // the spans are by offset, as the ranges are
  for (const ByteRange& range : plan.ranges) {
    while (next < everything.spans.size() &&
           everything.spans[next].start < range.start)
      ++next;
    for (; next < everything.spans.size() &&
           everything.spans[next].end <= range.end;
         ++next) {
      const EntrySpan& span = everything.spans[next];
      part.push_back({span.entry, partOffset + span.start - range.start});
    }
    partOffset += range.end - range.start;
  }
  return part;
}

bool PartDirectory(const ZipIndex& index,
                   const std::vector<PartEntry>& entries,
                   std::uint64_t directoryOffset,
                   std::string& directory) {
  directory.clear();
  for (const PartEntry& p : entries) {
    if (!AppendRecord(directory, index.entries[p.entry], p.offset))
      return false;
  }
  const std::uint64_t size = directory.size();
  PutEndRecords(directory, entries.size(), size, directoryOffset);
  return true;
}
