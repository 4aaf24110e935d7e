// Which ranges an update asks for, as one table over a package of five
// entries laid out here by offset alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "transfer/range_plan.h"

namespace {

// Entries at 0, 100, 150, 100000 and 100200 (listed out of order, as a
// central directory may list them); the directory starts at 200000.
ZipIndex Layout() {
  ZipIndex index;
  index.end.centralDirectoryOffset = 200000;
  for (const std::uint64_t offset : {100000u, 0u, 150u, 100u, 100200u}) {
    ZipEntry e;
    e.localHeaderOffset = offset;
    index.entries.push_back(e);
  }
  return index;
}

TEST(RangePlanTest, SpansAndMergedRanges) {
  struct Row {
    const char* name;
    std::vector<std::size_t> wanted;
    std::uint64_t mergeGap;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::uint64_t bytes;
  };
  const Row rows[] = {
      {"nothing", {}, 64 * 1024, {}, 0},
      {"the first: up to the next local header", {1}, 0, {{0, 100}}, 100},
      {"the last: up to the directory", {4}, 0, {{100200, 200000}}, 99800},
      {"neighbours join without a gap", {1, 3}, 0, {{0, 150}}, 150},
      {"a small gap is fetched with them",
       {1, 2},
       64 * 1024,
       {{0, 100000}},
       100000},
      {"a gap above the limit stays apart",
       {1, 2},
       10,
       {{0, 100}, {150, 100000}},
       99950},
      {"a far entry is a range of its own",
       {3, 0},
       1000,
       {{100, 150}, {100000, 100200}},
       250},
      {"duplicates and unknown indexes count once",
       {3, 3, 9},
       0,
       {{100, 150}},
       50},
  };
  const ZipIndex index = Layout();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const RangePlan plan = PlanRanges(index, row.wanted, row.mergeGap);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    for (const ByteRange& r : plan.ranges)
      ranges.emplace_back(r.start, r.end);
    EXPECT_EQ(row.ranges, ranges);
    EXPECT_EQ(row.bytes, plan.bytes);
    // Every wanted entry has its span, inside a range.
    for (const EntrySpan& s : plan.spans) {
      EXPECT_EQ(index.entries[s.entry].localHeaderOffset, s.start);
      bool inside = false;
      for (const ByteRange& r : plan.ranges)
        inside = inside || (r.start <= s.start && s.end <= r.end);
      EXPECT_TRUE(inside);
    }
  }
  EXPECT_TRUE(WorthFetchingApart(500, 1000));
  EXPECT_FALSE(WorthFetchingApart(501, 1000));
}

}  // namespace
