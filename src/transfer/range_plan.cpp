#include "transfer/range_plan.h"

RangePlan PlanRanges(const ZipIndex& index,
                     const std::vector<std::size_t>& wanted,
                     std::uint64_t mergeGap) {
  // Each entry ends where the next one (in the file's order) begins.
  const std::vector<std::size_t> order = EntriesByOffset(index);
  std::vector<char> want(index.entries.size(), 0);
  for (const std::size_t w : wanted) {
    if (w < want.size())
      want[w] = 1;
  }
  RangePlan plan;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (!want[order[i]])
      continue;
    const std::uint64_t start = index.entries[order[i]].localHeaderOffset;
    const std::uint64_t end =
        i + 1 < order.size() ? index.entries[order[i + 1]].localHeaderOffset
                             : index.end.centralDirectoryOffset;
    plan.spans.push_back({order[i], start, end});
    if (!plan.ranges.empty() && start - plan.ranges.back().end <= mergeGap)
      plan.ranges.back().end = end;
    else
      plan.ranges.push_back({start, end});
  }
  for (const ByteRange& r : plan.ranges)
    plan.bytes += r.end - r.start;
  return plan;
}

bool WorthFetchingApart(std::uint64_t planBytes, std::uint64_t packageBytes) {
  return planBytes <= packageBytes / 2;
}
