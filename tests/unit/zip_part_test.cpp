// A part of a package, written as a zip of its own: tar.exe unpacks it to
// the same bytes as the whole package, and its directory reads back, zip64
// where offsets need it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/range_plan.h"
#include "transfer/unpack.h"
#include "transfer/zip_index.h"
#include "transfer/zip_part.h"
#include "test_support.h"

namespace {

std::wstring PathOf(const std::string& utf8Name) {
  std::wstring name(utf8Name.size(), L'\0');
  name.resize(static_cast<std::size_t>(MultiByteToWideChar(
      CP_UTF8, 0, utf8Name.data(), static_cast<int>(utf8Name.size()),
      name.data(), static_cast<int>(name.size()))));
  std::replace(name.begin(), name.end(), L'/', L'\\');
  return name;
}

TEST(ZipPartTest, UnpacksToThePackagesBytes) {
  const std::string zip = test::ReadFileBytes(test::TestPackage(L"tree.zip"));
  const ZipIndex index = test::ZipIndexOf(zip);
  ASSERT_EQ(8u, index.entries.size());
  struct Row {
    const char* name;
    std::vector<std::size_t> wanted;
    std::uint64_t mergeGap;
    std::size_t inPart;  // entries the part holds
  };
  const Row rows[] = {
      {"two entries apart", {1, 4}, 0, 2},
      {"merged with the entries between them", {1, 4}, 1 << 20, 4},
      {"the last one, up to the directory", {7}, 0, 1},
      {"every entry", {0, 1, 2, 3, 4, 5, 6, 7}, 0, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const RangePlan plan = PlanRanges(index, row.wanted, row.mergeGap);
    std::string part;
    for (const ByteRange& r : plan.ranges)
      part += zip.substr(static_cast<std::size_t>(r.start),
                         static_cast<std::size_t>(r.end - r.start));
    const std::vector<PartEntry> entries = EntriesInPart(index, plan);
    EXPECT_EQ(row.inPart, entries.size());
    std::string directory;
    ASSERT_TRUE(PartDirectory(index, entries, part.size(), directory));
    part += directory;
    test::ScratchDir dir;
    const std::wstring partPath = dir.path() + L"\\part.zip";
    const std::wstring dest = dir.path() + L"\\Gorm Ek";
    test::WriteFileBytes(partPath, part);
    CreateDirectoryW(dest.c_str(), nullptr);
    std::wstring error;
    ASSERT_TRUE(UnpackPackage(partPath, dest, error)) << test::Narrow(error);
    std::size_t files = 0;
    for (const PartEntry& p : entries) {
      const std::string& name = index.entries[p.entry].name;
      if (name.back() == '/')
        continue;
      std::string expected;
      for (int i = 0; i < 100; ++i)
        expected += name + "\n";
      EXPECT_EQ(expected, test::ReadFileBytes(dest + L"\\" + PathOf(name)))
          << name;
      ++files;
    }
    // Nothing the part does not hold comes out.
    EXPECT_EQ(files, test::ListFiles(dest).size());
  }
}

// The part's directory read back: every entry as the package has it, at
// its offset in the part.
void ExpectReadsBack(const ZipIndex& index,
                     const std::vector<PartEntry>& entries,
                     std::uint64_t directoryOffset,
                     const std::string& directory) {
  ZipEnd end;
  ASSERT_TRUE(FindZipEnd(directory, directoryOffset + directory.size(), end));
  EXPECT_EQ(directoryOffset, end.centralDirectoryOffset);
  ZipIndex back;
  ASSERT_TRUE(ReadCentralDirectory(
      std::string_view(directory).substr(
          0, static_cast<std::size_t>(end.centralDirectorySize)),
      end, back));
  ASSERT_EQ(entries.size(), back.entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& was = index.entries[entries[i].entry];
    EXPECT_EQ(entries[i].offset, back.entries[i].localHeaderOffset);
    EXPECT_EQ(was.name, back.entries[i].name);
    EXPECT_EQ(was.crc32, back.entries[i].crc32);
    EXPECT_EQ(was.compressedSize, back.entries[i].compressedSize);
    EXPECT_EQ(was.uncompressedSize, back.entries[i].uncompressedSize);
  }
}

// Offsets past 4 GiB take the zip64 extra field and end records, and the
// directory reads back with every entry as the package has it.
TEST(ZipPartTest, OffsetsPastFourGiBReadBack) {
  const std::string zip = test::ReadFileBytes(test::TestPackage(L"tree.zip"));
  ZipIndex index = test::ZipIndexOf(zip);
  const std::uint64_t base = std::uint64_t{5} << 32;
  const std::vector<PartEntry> entries = {{0, base}, {3, base + 4000}};
  std::string directory;
  ASSERT_TRUE(PartDirectory(index, entries, base + 9000, directory));
  ExpectReadsBack(index, entries, base + 9000, directory);

  // An extra field of 65,531 bytes has no room for a 64-bit offset: below
  // 4 GiB the part is written, past it there is none, where its record's
  // extra length would have wrapped.
  ZipEntry& e = index.entries[0];
  const std::size_t extra = 0xFFFF - 4;
  std::string record = e.centralRecord.substr(0, 46 + e.name.size());
  record[30] = static_cast<char>(extra & 0xFF);
  record[31] = static_cast<char>(extra >> 8);
  record[32] = record[33] = 0;  // no comment
  record += std::string("\x75\x70", 2);
  record += static_cast<char>((extra - 4) & 0xFF);
  record += static_cast<char>((extra - 4) >> 8);
  e.centralRecord = record + std::string(extra - 4, 'e');
  ASSERT_TRUE(PartDirectory(index, {{0, 4000}}, 9000, directory));
  ExpectReadsBack(index, {{0, 4000}}, 9000, directory);
  EXPECT_FALSE(PartDirectory(index, {{0, base}}, base + 9000, directory));
}

}  // namespace
