// The record of the installed package: what an update trusts without
// reading, and every kind of record that must not be trusted.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/install_record.h"
#include "platform/crc32.h"
#include "platform/unique_handle.h"
#include "transfer/unpack.h"
#include "test_support.h"

namespace {

// tree.zip, installed by tar.exe into a scratch folder, and its record.
struct Installed {
  test::ScratchDir dir;
  std::wstring folder = dir.path() + L"\\Gorm Ek";
  InstallRecord record;

  Installed() {
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring error;
    EXPECT_TRUE(UnpackPackage(test::TestPackage(L"tree.zip"), folder, error));
    const std::string zip = test::ReadFileBytes(test::TestPackage(L"tree.zip"));
    record.version = 42;
    record.folder = folder;
    record.package.size = zip.size();
    record.package.validator = L"\"5f-tree\"";
    record.package.index = test::ZipIndexOf(zip);
    const ZipEnd& end = record.package.index.end;
    record.package.directory =
        zip.substr(static_cast<std::size_t>(end.centralDirectoryOffset),
                   static_cast<std::size_t>(end.centralDirectorySize));
    record.stamps = StampFiles(record.package, folder);
  }
  std::size_t Entry(const char* name) const {
    const auto& entries = record.package.index.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].name == name)
        return i;
    }
    ADD_FAILURE() << name;
    return 0;
  }
};

// Gives a file other bytes of the same size, and its time back, as a tool
// that restores times would.
void ReplaceKeepingTime(const std::wstring& path) {
  FILETIME times[3] = {};
  {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    GetFileTime(f, &times[0], &times[1], &times[2]);
    CloseHandle(f);
  }
  std::string bytes = test::ReadFileBytes(path);
  bytes[0] ^= 0x55;
  test::WriteFileBytes(path, bytes);
  HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  SetFileTime(f, &times[0], &times[1], &times[2]);
  CloseHandle(f);
}

TEST(InstallRecordTest, AnUpdateReadsOnlyFilesTheRecordDoesNotVouchFor) {
  struct Row {
    const char* name;
    // Changes the folder, the new package's index, or the record.
    std::function<void(Installed&, ZipIndex&)> change;
    std::vector<const char*> changed;
    std::vector<const char*> read;  // what the check must read
  };
  const Row rows[] = {
      {"as unpacked", [](Installed&, ZipIndex&) {}, {}, {}},
      {"a tool replaced a file, keeping its size and time: left alone",
       [](Installed& in, ZipIndex&) {
         ReplaceKeepingTime(in.folder + L"\\data\\levels\\level one.dat");
       },
       {},
       {}},
      {"same size, another time: read, and found changed",
       [](Installed& in, ZipIndex&) {
         const std::wstring path = in.folder + L"\\Gorm Ek.exe";
         std::string bytes = test::ReadFileBytes(path);
         bytes[1] ^= 1;
         test::WriteFileBytes(path, bytes);
       },
       {"Gorm Ek.exe"},
       {"Gorm Ek.exe"}},
      {"the new package changed an entry: fetched, not read",
       [](Installed&, ZipIndex& next) { next.entries[0].crc32 ^= 1; },
       {"Gorm Ek.exe"},
       {}},
      {"an entry the record has no stamp for: read",
       [](Installed& in, ZipIndex&) {
         in.record.stamps[in.Entry(".config/.hidden")] = FileStamp();
       },
       {},
       {".config/.hidden"}},
      {"a name the record holds twice: read",
       [](Installed& in, ZipIndex&) {
         ZipIndex& old = in.record.package.index;
         old.entries.push_back(old.entries[in.Entry(".leading dot.txt")]);
         in.record.stamps.push_back(in.record.stamps.back());
       },
       {},
       {".leading dot.txt"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Installed in;
    ZipIndex next = in.record.package.index;
    ASSERT_EQ("Gorm Ek.exe", next.entries[0].name);
    row.change(in, next);
    const std::vector<KnownFile> known = KnownFromRecord(in.record, next);
    std::vector<std::size_t> changed;
    std::uint64_t toRead = 0;
    ASSERT_EQ(CompareResult::kCompared,
              FindChangedEntries(
                  next, in.folder,
                  [&toRead](std::uint64_t, std::uint64_t total) {
                    toRead = total;
                    return true;
                  },
                  changed, &known));
    std::vector<std::size_t> expected;
    std::uint64_t expectedRead = 0;
    for (const char* name : row.changed)
      expected.push_back(in.Entry(name));
    for (const char* name : row.read)
      expectedRead += next.entries[in.Entry(name)].uncompressedSize;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, changed);
    EXPECT_EQ(expectedRead, toRead);
  }
}

// After a part, the files it replaced are stamped once flushed to the
// disk; one that cannot be opened to write gets no stamp, so the next
// update reads it. A whole unpack stamps without flushing. On Windows a
// read-only file cannot be opened to write; Wine run as root (the test
// bench) opens it all the same, so here another program holds the file
// open without sharing writes, as a game holding its data would.
TEST(InstallRecordTest, WhatAPartReplacedIsStampedOnceFlushed) {
  Installed in;
  const std::size_t exe = in.Entry("Gorm Ek.exe");
  const std::size_t dot = in.Entry(".leading dot.txt");
  UniqueFile held(CreateFileW((in.folder + L"\\.leading dot.txt").c_str(),
                              GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  RecordedPackage part = in.record.package;
  part.seen = in.record.stamps;
  part.unpacked = {exe, dot};
  const std::vector<FileStamp> stamps = StampFiles(part, in.folder);
  EXPECT_EQ(in.record.stamps[exe], stamps[exe]);
  EXPECT_EQ(-1, stamps[dot].size);
  EXPECT_EQ(in.record.stamps[dot],
            StampFiles(in.record.package, in.folder)[dot]);
}

// Recomputes the checksum, as an edit that knows the layout would.
std::string Resealed(std::string bytes) {
  const std::uint32_t sum = Crc32(0, bytes.data(), bytes.size() - 4);
  for (int i = 0; i < 4; ++i)
    bytes[bytes.size() - 4 + i] = static_cast<char>(sum >> (8 * i));
  return bytes;
}

TEST(InstallRecordTest, ARecordThatDoesNotFitIsIgnored) {
  Installed in;
  const std::string good = EncodeRecord(in.record);
  InstallRecord decoded;
  ASSERT_TRUE(DecodeRecord(good, decoded));
  EXPECT_EQ(in.record.package.directory, decoded.package.directory);
  EXPECT_EQ(in.record.package.validator, decoded.package.validator);
  EXPECT_EQ(in.record.package.size, decoded.package.size);
  EXPECT_EQ(in.record.stamps.back(), decoded.stamps.back());

  InstallRecord fewer = in.record;
  fewer.stamps.pop_back();
  const std::size_t sizeField = good.size() - 4 - 8 -
                                16 * in.record.stamps.size() -
                                in.record.package.directory.size() - 8;
  struct Row {
    const char* name;
    std::string bytes;
  };
  std::string flipped = good, huge = good, layout = good;
  flipped[good.size() / 2] ^= 1;
  huge[sizeField + 7] = 0x40;
  layout[4] = 2;
  const Row rows[] = {
      {"a byte changed", flipped},
      {"cut short", good.substr(0, good.size() - 1)},
      {"a byte more", Resealed(good + std::string(1, '\0'))},
      {"fewer stamps than entries", EncodeRecord(fewer)},
      {"a directory larger than the record", Resealed(huge)},
      {"another layout", Resealed(layout)},
      {"empty", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_FALSE(DecodeRecord(row.bytes, decoded));
  }

  // On disk: it fits its folder and the registered version only.
  ASSERT_TRUE(WriteInstallRecord(in.record));
  ASSERT_TRUE(WriteInstallRecord(in.record));  // over the old one
  EXPECT_FALSE(test::FileExists(in.folder + L"\\GormEkSetup.record.new"));
  EXPECT_TRUE(ReadInstallRecord(in.folder, L"0042", decoded));
  std::wstring upper = in.folder;
  CharUpperW(upper.data());
  EXPECT_TRUE(ReadInstallRecord(upper, L"0042", decoded));
  EXPECT_FALSE(ReadInstallRecord(in.folder, L"0043", decoded));
  EXPECT_FALSE(ReadInstallRecord(in.folder, L"", decoded));
  InstallRecord moved = in.record;  // another folder's, copied here
  moved.folder = in.dir.path() + L"\\Gorm Ek 2";
  test::WriteFileBytes(in.folder + L"\\GormEkSetup.record",
                       EncodeRecord(moved));
  EXPECT_FALSE(ReadInstallRecord(in.folder, L"0042", decoded));
  // Larger than any record may be: not even read.
  HANDLE f = CreateFileW((in.folder + L"\\GormEkSetup.record").c_str(),
                         GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(kMaxRecordBytes) + 1;
  SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
  SetEndOfFile(f);
  CloseHandle(f);
  EXPECT_FALSE(ReadInstallRecord(in.folder, L"0042", decoded));
  // One that cannot be deleted (held open) is said to be there still: the
  // run must not unpack under a record that would outlive it.
  HANDLE held =
      CreateFileW((in.folder + L"\\GormEkSetup.record").c_str(), GENERIC_READ,
                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(DeleteInstallRecord(in.folder));
  CloseHandle(held);
  EXPECT_TRUE(DeleteInstallRecord(in.folder));
  EXPECT_FALSE(test::FileExists(in.folder + L"\\GormEkSetup.record"));
  EXPECT_TRUE(DeleteInstallRecord(in.folder));  // none: nothing to do
}

}  // namespace
