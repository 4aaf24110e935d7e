// The readers an update runs over what the download site sends: the end
// records in the package's tail, the central directory they point to, the
// ranges planned from it and the part written from them. The input is a
// whole package; each reader is held to what its header promises, checked
// here with arithmetic of its own (128 bits, so that nothing wraps).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "require.h"
#include "transfer/range_plan.h"
#include "transfer/zip_index.h"
#include "transfer/zip_part.h"

namespace {

using Wide = unsigned __int128;
using zip::kLocalHeaderSize;

// Entries lie before the directory, in the order of their offsets, each
// with room for its local header, name and data before the next.
void CheckIndex(const ZipIndex& index, const ZipEnd& end) {
  REQUIRE(index.entries.size() == end.entryCount);
  REQUIRE(index.end.centralDirectoryOffset == end.centralDirectoryOffset);
  REQUIRE(index.end.centralDirectorySize == end.centralDirectorySize);
  Wide records = 0;
  for (const ZipEntry& e : index.entries) {
    const std::string_view record(e.centralRecord);
    REQUIRE(record.size() >= zip::kCentralSize);
    REQUIRE(record.substr(0, 4) == "PK\x01\x02");
    const std::size_t nameSize = zip::ReadLittleEndian(record, 28, 2);
    REQUIRE(record.size() == zip::kCentralSize + nameSize +
                                 zip::ReadLittleEndian(record, 30, 2) +
                                 zip::ReadLittleEndian(record, 32, 2));
    REQUIRE(record.substr(zip::kCentralSize, nameSize) == e.name);
    REQUIRE((e.flags & 1) == 0);  // no encrypted entry
    records += record.size();
  }
  REQUIRE(records == end.centralDirectorySize);
  const std::vector<std::size_t> order = EntriesByOffset(index);
  for (std::size_t i = 0; i < order.size(); ++i) {
    const ZipEntry& e = index.entries[order[i]];
    const Wide next = i + 1 < order.size()
                          ? index.entries[order[i + 1]].localHeaderOffset
                          : end.centralDirectoryOffset;
    REQUIRE(Wide{e.localHeaderOffset} + kLocalHeaderSize + e.name.size() +
                e.compressedSize <=
            next);
  }
}

// The part's directory, with the part placed at `base` (as if other bytes
// came before it), reads back through the same reader: every entry as the
// package has it, at its offset in the part.
void CheckPartReadsBack(const ZipIndex& index,
                        std::vector<PartEntry> entries,
                        std::uint64_t partBytes,
                        std::uint64_t base) {
  for (PartEntry& p : entries)
    p.offset += base;
  std::string directory;
  if (!PartDirectory(index, entries, base + partBytes, directory)) {
    // Only a record whose extra field has no room left for a zip64 block.
    bool full = false;
    for (const PartEntry& p : entries) {
      const std::string_view record(index.entries[p.entry].centralRecord);
      full = full || zip::ReadLittleEndian(record, 30, 2) > zip::kMax16 - 28;
    }
    REQUIRE(full);
    return;
  }
  if (directory.size() > kMaxCentralDirectoryBytes)
    return;
  ZipEnd end;
  REQUIRE(FindZipEnd(directory, base + partBytes + directory.size(), end));
  REQUIRE(end.centralDirectoryOffset == base + partBytes);
  ZipIndex back;
  REQUIRE(ReadCentralDirectory(
      std::string(directory, 0,
                  static_cast<std::size_t>(end.centralDirectorySize)),
      end, back));
  REQUIRE(back.entries.size() == entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& was = index.entries[entries[i].entry];
    const ZipEntry& is = back.entries[i];
    REQUIRE(is.localHeaderOffset == entries[i].offset);
    REQUIRE(is.name == was.name && is.utf8 == was.utf8);
    REQUIRE(is.flags == was.flags && is.method == was.method);
    REQUIRE(is.crc32 == was.crc32);
    REQUIRE(is.compressedSize == was.compressedSize);
    REQUIRE(is.uncompressedSize == was.uncompressedSize);
  }
}

// Ranges lie inside the package, by offset and apart, and their bytes add
// up; every wanted entry has one span inside a range; the part holds every
// wanted entry, each whole, one after another.
void CheckPlan(const ZipIndex& index,
               const std::vector<std::size_t>& wanted,
               std::uint64_t mergeGap) {
  const RangePlan plan = PlanRanges(index, wanted, mergeGap);
  Wide sum = 0;
  for (std::size_t i = 0; i < plan.ranges.size(); ++i) {
    const ByteRange& r = plan.ranges[i];
    REQUIRE(r.start < r.end);
    REQUIRE(r.end <= index.end.centralDirectoryOffset);
    if (i > 0)
      REQUIRE(Wide{plan.ranges[i - 1].end} + mergeGap < r.start);
    sum += r.end - r.start;
  }
  REQUIRE(sum == plan.bytes);
  std::vector<char> want(index.entries.size(), 0);
  std::size_t wantedCount = 0;
  for (const std::size_t w : wanted) {
    if (w < want.size() && !want[w]) {
      want[w] = 1;
      ++wantedCount;
    }
  }
  REQUIRE(plan.spans.size() == wantedCount);
  for (std::size_t i = 0; i < plan.spans.size(); ++i) {
    const EntrySpan& s = plan.spans[i];
    REQUIRE(s.entry < want.size() && want[s.entry]);
    REQUIRE(s.start == index.entries[s.entry].localHeaderOffset);
    REQUIRE(i == 0 || plan.spans[i - 1].end <= s.start);
    bool inside = false;
    for (const ByteRange& r : plan.ranges)
      inside = inside || (r.start <= s.start && s.end <= r.end);
    REQUIRE(inside);
  }
  const std::vector<PartEntry> entries = EntriesInPart(index, plan);
  std::vector<char> inPart(index.entries.size(), 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& e = index.entries[entries[i].entry];
    REQUIRE(!inPart[entries[i].entry]);
    inPart[entries[i].entry] = 1;
    const Wide end = Wide{entries[i].offset} + kLocalHeaderSize +
                     e.name.size() + e.compressedSize;
    REQUIRE(end <=
            (i + 1 < entries.size() ? entries[i + 1].offset : plan.bytes));
  }
  for (std::size_t i = 0; i < want.size(); ++i)
    REQUIRE(!want[i] || inPart[i]);
  // At 0, and past 4 GiB, where offsets take zip64's fields.
  CheckPartReadsBack(index, entries, plan.bytes, 0);
  CheckPartReadsBack(index, entries, plan.bytes, std::uint64_t{5} << 32);
}

// The end records from a tail of tailSize bytes, then all that follows.
void CheckTail(const std::string& file, std::size_t tailSize) {
  // A buffer of its own: a read past the tail is one past an allocation.
  const std::string tail = file.substr(file.size() - tailSize);
  ZipEnd end;
  if (!FindZipEnd(tail, file.size(), end))
    return;
  REQUIRE(end.centralDirectorySize <= kMaxCentralDirectoryBytes);
  REQUIRE(Wide{end.centralDirectoryOffset} + end.centralDirectorySize <=
          file.size());
  const std::string directory =
      file.substr(static_cast<std::size_t>(end.centralDirectoryOffset),
                  static_cast<std::size_t>(end.centralDirectorySize));
  ZipIndex index;
  if (!ReadCentralDirectory(directory, end, index))
    return;
  CheckIndex(index, end);
  // Each entry's local header, read from a buffer of its own that ends
  // where the name would: a name is never read past its header's bytes.
  for (const ZipEntry& e : index.entries) {
    std::size_t size = 0;
    const std::string_view at = std::string_view(file).substr(
        static_cast<std::size_t>(e.localHeaderOffset));
    if (!LocalNameSize(at, size))
      continue;
    const std::string header(at.substr(0, kLocalHeaderSize + size));
    std::string name;
    bool utf8 = false;
    REQUIRE(ReadLocalName(header, name, utf8) ==
            (header.size() == kLocalHeaderSize + size));
    REQUIRE(name.size() == size || header.size() < kLocalHeaderSize + size);
  }
  // What an update may want: everything, the entries the input marks (an
  // odd CRC-32), or the last one listed.
  std::vector<std::size_t> all, marked, last;
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    all.push_back(i);
    if (index.entries[i].crc32 & 1)
      marked.push_back(i);
  }
  if (!all.empty())
    last.push_back(all.back());
  for (const std::uint64_t gap : {std::uint64_t{0}, kMergeGapBytes}) {
    CheckPlan(index, all, gap);
    CheckPlan(index, marked, gap);
    CheckPlan(index, last, gap);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  // The tail an update asks for, and one that starts halfway into the file.
  CheckTail(file, size < 64 * 1024 ? size : 64 * 1024);
  CheckTail(file, size - size / 2);
  return 0;
}
