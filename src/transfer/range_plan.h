// Which byte ranges of a published package to fetch when only some of its
// entries are needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transfer/zip_index.h"

// The bytes of one entry in the package: from its local header to the next
// entry's local header, or to the central directory for the last one, so a
// data descriptor after the data is included. [start, end).
struct EntrySpan {
  std::size_t entry = 0;  // index into ZipIndex::entries
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// One request's range, [start, end).
struct ByteRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

struct RangePlan {
  std::vector<EntrySpan> spans;   // the wanted entries, by offset
  std::vector<ByteRange> ranges;  // what to ask for, by offset
  std::uint64_t bytes = 0;        // the sum of the ranges
};

// Two spans closer than this are fetched as one range: a request costs a
// round trip and headers, a few KiB of unwanted bytes cost less.
constexpr std::uint64_t kMergeGapBytes = 64 * 1024;

// The spans of the wanted entries (indexes into index.entries; duplicates
// count once) and the ranges that cover them, spans whose gap is at most
// mergeGap merged into one range.
RangePlan PlanRanges(const ZipIndex& index,
                     const std::vector<std::size_t>& wanted,
                     std::uint64_t mergeGap = kMergeGapBytes);

// True when fetching planBytes in ranges is worth it against downloading
// the whole package of packageBytes: at most half of it.
bool WorthFetchingApart(std::uint64_t planBytes, std::uint64_t packageBytes);
