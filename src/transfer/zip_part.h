// A part of a published package as a zip of its own: the fetched ranges one
// after another, then a central directory of the entries they hold, so that
// tar.exe unpacks it exactly as it unpacks the whole package.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/range_plan.h"
#include "transfer/zip_index.h"

// Where an entry of the package lies in the part.
struct PartEntry {
  std::size_t entry = 0;     // index into ZipIndex::entries
  std::uint64_t offset = 0;  // of its local header in the part
};

// The entries whose bytes lie whole inside the plan's ranges (the wanted
// ones and any that a merged range carried along), in the order of the
// part, which holds the ranges one after another in plan order.
std::vector<PartEntry> EntriesInPart(const ZipIndex& index,
                                     const RangePlan& plan);

// The central directory of those entries, each record as the package has it
// but for its local header offset, then the end records; directoryOffset is
// where it starts in the part (the sum of the ranges). Zip64 records and
// extra fields are written where a count, a size or an offset needs them.
// False, with directory unspecified, when a record's extra field would then
// outgrow the 65,535 bytes its length can say: such a part cannot be
// written, and the whole package is fetched instead.
bool PartDirectory(const ZipIndex& index,
                   const std::vector<PartEntry>& entries,
                   std::uint64_t directoryOffset,
                   std::string& directory);
