// The zip index reader over packages built here byte by byte: the shapes a
// published package can have, and every field a broken or hostile one can
// get wrong.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "transfer/zip_index.h"
#include "test_support.h"

namespace {

// A copy of bytes with a page that cannot be read right before it, or
// right after it: a read outside the bytes crashes the test, where in a
// string's buffer it would read whatever lies there and go unseen.
class GuardedBytes {
 public:
  GuardedBytes(std::string_view bytes, bool guardBefore) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    const std::size_t pages = (bytes.size() + page_ - 1) / page_;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, (pages + 2) * page_,
                                            MEM_RESERVE | MEM_COMMIT,
                                            PAGE_READWRITE));
    DWORD was = 0;
    VirtualProtect(base_, page_, PAGE_NOACCESS, &was);
    VirtualProtect(base_ + (pages + 1) * page_, page_, PAGE_NOACCESS, &was);
    char* at = base_ + page_ + (guardBefore ? 0 : pages * page_ - bytes.size());
    if (!bytes.empty())
      std::memcpy(at, bytes.data(), bytes.size());
    view_ = std::string_view(at, bytes.size());
  }
  ~GuardedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  std::string_view view() const { return view_; }

 private:
  std::size_t page_ = 0;
  char* base_ = nullptr;
  std::string_view view_;
};

struct Options {
  bool zip64 = false;        // zip64 end records and extra fields throughout
  bool descriptors = false;  // flag bit 3 and a data descriptor after each
  std::string comment;
};

void Put(std::string& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

struct Built {
  std::string bytes;
  std::size_t endAt = 0;        // the end-of-central-directory record
  std::size_t directoryAt = 0;  // the central directory
  std::vector<std::size_t> recordsAt;
};

// A stored (uncompressed) zip of the given files; the CRC-32 is a made-up
// value per file, which the reader takes as it stands.
Built BuildZip(const std::vector<std::pair<std::string, std::string>>& files,
               const Options& o) {
  Built z;
  std::vector<std::size_t> offsets;
  const std::uint32_t flags = o.descriptors ? 0x0808 : 0x0800;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& [name, data] = files[i];
    offsets.push_back(z.bytes.size());
    Put(z.bytes, 0x04034b50, 4);
    Put(z.bytes, 20, 2);
    Put(z.bytes, flags, 2);
    Put(z.bytes, 0, 2);  // stored
    Put(z.bytes, 0, 4);  // time, date
    Put(z.bytes, o.descriptors ? 0 : 0x1000 + i, 4);
    Put(z.bytes, o.descriptors ? 0 : data.size(), 4);
    Put(z.bytes, o.descriptors ? 0 : data.size(), 4);
    Put(z.bytes, name.size(), 2);
    Put(z.bytes, 0, 2);
    z.bytes += name + data;
    if (o.descriptors) {
      Put(z.bytes, 0x08074b50, 4);
      Put(z.bytes, 0x1000 + i, 4);
      Put(z.bytes, data.size(), 4);
      Put(z.bytes, data.size(), 4);
    }
  }
  z.directoryAt = z.bytes.size();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& [name, data] = files[i];
    z.recordsAt.push_back(z.bytes.size());
    Put(z.bytes, 0x02014b50, 4);
    Put(z.bytes, 20, 2);
    Put(z.bytes, 20, 2);
    Put(z.bytes, flags, 2);
    Put(z.bytes, 0, 2);
    Put(z.bytes, 0, 4);
    Put(z.bytes, 0x1000 + i, 4);
    Put(z.bytes, o.zip64 ? 0xFFFFFFFF : data.size(), 4);
    Put(z.bytes, o.zip64 ? 0xFFFFFFFF : data.size(), 4);
    Put(z.bytes, name.size(), 2);
    Put(z.bytes, o.zip64 ? 32 : 0, 2);  // extra field
    Put(z.bytes, 0, 2);                 // comment
    Put(z.bytes, o.zip64 ? 0xFFFF : 0, 2);
    Put(z.bytes, 0, 2);
    Put(z.bytes, 0, 4);
    Put(z.bytes, o.zip64 ? 0xFFFFFFFF : offsets[i], 4);
    z.bytes += name;
    if (o.zip64) {
      Put(z.bytes, 0x0001, 2);
      Put(z.bytes, 24 + 4, 2);
      Put(z.bytes, data.size(), 8);
      Put(z.bytes, data.size(), 8);
      Put(z.bytes, offsets[i], 8);
      Put(z.bytes, 0, 4);  // disk
    }
  }
  const std::size_t directorySize = z.bytes.size() - z.directoryAt;
  if (o.zip64) {
    const std::size_t record = z.bytes.size();
    Put(z.bytes, 0x06064b50, 4);
    Put(z.bytes, 44, 8);
    Put(z.bytes, 45, 2);
    Put(z.bytes, 45, 2);
    Put(z.bytes, 0, 4);
    Put(z.bytes, 0, 4);
    Put(z.bytes, files.size(), 8);
    Put(z.bytes, files.size(), 8);
    Put(z.bytes, directorySize, 8);
    Put(z.bytes, z.directoryAt, 8);
    Put(z.bytes, 0x07064b50, 4);
    Put(z.bytes, 0, 4);
    Put(z.bytes, record, 8);
    Put(z.bytes, 1, 4);
  }
  z.endAt = z.bytes.size();
  Put(z.bytes, 0x06054b50, 4);
  Put(z.bytes, 0, 4);
  Put(z.bytes, o.zip64 ? 0xFFFF : files.size(), 2);
  Put(z.bytes, o.zip64 ? 0xFFFF : files.size(), 2);
  Put(z.bytes, o.zip64 ? 0xFFFFFFFF : directorySize, 4);
  Put(z.bytes, o.zip64 ? 0xFFFFFFFF : z.directoryAt, 4);
  Put(z.bytes, o.comment.size(), 2);
  z.bytes += o.comment;
  return z;
}

const std::vector<std::pair<std::string, std::string>> kFiles = {
    {"Gorm Ek.exe", std::string(3000, 'x')},
    {"data/", ""},
    {"data/level 1.dat", std::string(700, 'y')},
};

// Reads a zip the way an update does: the end records from the tail, then
// the directory the end records point to. Each is read in its own buffer,
// once with a guard page before it and once with one after it; the two
// answers must agree.
bool ReadIndex(const std::string& zip, std::size_t tailSize, ZipIndex& index) {
  const std::size_t tailLength = std::min(tailSize, zip.size());
  bool read[2] = {};
  for (const bool before : {true, false}) {
    const GuardedBytes tail(
        std::string_view(zip).substr(zip.size() - tailLength), before);
    ZipEnd end;
    if (!FindZipEnd(tail.view(), zip.size(), end))
      continue;
    const GuardedBytes directory(
        std::string_view(zip).substr(
            static_cast<std::size_t>(end.centralDirectoryOffset),
            static_cast<std::size_t>(end.centralDirectorySize)),
        before);
    read[before] = ReadCentralDirectory(directory.view(), end, index);
  }
  EXPECT_EQ(read[0], read[1]);
  return read[1];
}

TEST(ZipIndexTest, ThePackagesShapes) {
  const Options plain;
  Options comment;
  comment.comment = "Gorm Ek 0042, built by the studio" + std::string(300, '.');
  Options zip64;
  zip64.zip64 = true;
  Options descriptors;
  descriptors.descriptors = true;
  for (const auto& [name, options] :
       {std::pair{"plain", plain},
        std::pair{"a comment after the end", comment},
        std::pair{"zip64 records and extra fields", zip64},
        std::pair{"data descriptors", descriptors}}) {
    SCOPED_TRACE(name);
    const Built z = BuildZip(kFiles, options);
    ZipIndex index;
    ASSERT_TRUE(ReadIndex(z.bytes, 64 * 1024, index));
    EXPECT_EQ(z.directoryAt, index.end.centralDirectoryOffset);
    ASSERT_EQ(kFiles.size(), index.entries.size());
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < kFiles.size(); ++i) {
      const ZipEntry& e = index.entries[i];
      EXPECT_EQ(kFiles[i].first, e.name);
      EXPECT_TRUE(e.utf8);
      EXPECT_EQ(0x1000u + i, e.crc32);
      EXPECT_EQ(kFiles[i].second.size(), e.uncompressedSize);
      EXPECT_EQ(kFiles[i].second.size(), e.compressedSize);
      EXPECT_EQ(offset, e.localHeaderOffset);
      EXPECT_EQ(z.bytes.substr(z.recordsAt[i], e.centralRecord.size()),
                e.centralRecord);
      offset += 30 + kFiles[i].first.size() + kFiles[i].second.size() +
                (options.descriptors ? 16 : 0);
    }
  }
  // A tail too short to hold the directory still finds the end records.
  const Built z = BuildZip(kFiles, plain);
  ZipEnd end;
  EXPECT_TRUE(FindZipEnd(std::string_view(z.bytes).substr(z.endAt),
                         z.bytes.size(), end));
  EXPECT_EQ(z.directoryAt, end.centralDirectoryOffset);
}

TEST(ZipIndexTest, EveryBrokenFieldIsRefused) {
  using Edit = std::function<void(Built&)>;
  const auto set = [](std::size_t at, std::uint64_t value, int size) {
    return [at, value, size](std::string& bytes) {
      std::string field;
      Put(field, value, size);
      bytes.replace(at, static_cast<std::size_t>(size), field);
    };
  };
  struct Row {
    const char* name;
    bool zip64;
    Edit edit;
  };
  const std::vector<Row> rows = {
      {"no end record", false, [](Built& z) { z.bytes[z.endAt] = 'X'; }},
      {"another disk", false,
       [&](Built& z) { set(z.endAt + 4, 1, 2)(z.bytes); }},
      {"a count that is not the directory's", false,
       [&](Built& z) {
         set(z.endAt + 8, 2, 2)(z.bytes);
         set(z.endAt + 10, 2, 2)(z.bytes);
       }},
      {"the directory past the end records", false,
       [&](Built& z) { set(z.endAt + 16, z.endAt + 1, 4)(z.bytes); }},
      {"a directory larger than the file", false,
       [&](Built& z) { set(z.endAt + 12, 0x7FFFFFFF, 4)(z.bytes); }},
      {"a comment length past the file", false,
       [&](Built& z) { set(z.endAt + 20, 5, 2)(z.bytes); }},
      {"a name that runs past the directory", false,
       [&](Built& z) { set(z.recordsAt[2] + 28, 0xFFFF, 2)(z.bytes); }},
      {"a record's signature", false,
       [](Built& z) { z.bytes[z.recordsAt[1]] = 'X'; }},
      {"an encrypted entry", false,
       [&](Built& z) { set(z.recordsAt[0] + 8, 0x0801, 2)(z.bytes); }},
      {"a local header in the directory", false,
       [&](Built& z) { set(z.recordsAt[2] + 42, z.directoryAt, 4)(z.bytes); }},
      {"two entries on the same bytes", false,
       [&](Built& z) { set(z.recordsAt[2] + 42, 0, 4)(z.bytes); }},
      {"data longer than the space to the next entry", false,
       [&](Built& z) { set(z.recordsAt[0] + 20, 3100, 4)(z.bytes); }},
      {"an entry on another disk", false,
       [&](Built& z) { set(z.recordsAt[1] + 34, 1, 2)(z.bytes); }},
      {"zip64: the extra field without the offset", true,
       [&](Built& z) {
         set(z.recordsAt[0] + 30 + 11 + 16 + 2, 16, 2)(z.bytes);
       }},
      {"zip64: an offset over 4 GiB, past the directory", true,
       [&](Built& z) {
         set(z.recordsAt[1] + 46 + 5 + 4 + 16, 0x100000000ull, 8)(z.bytes);
       }},
      {"zip64: the locator pointing outside the file", true,
       [&](Built& z) { set(z.endAt - 20 + 8, 0xFFFFFFFFFFull, 8)(z.bytes); }},
      {"zip64: a record's own disk count", true,
       [&](Built& z) { set(z.endAt - 20 - 56 + 16, 3, 4)(z.bytes); }},
      // A fuzzer's find: the locator names a record 4 bytes before 2^64,
      // which a bounds check that wrapped around took as inside the tail.
      {"zip64: a record offset that wraps past 2^64", true,
       [](Built& z) {
         z.bytes = test::ReadFileBytes(test::FuzzRegression(
             L"zip_index", L"zip64-end-record-offset-wraps.zip"));
         ASSERT_EQ(98u, z.bytes.size());
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Options options;
    options.zip64 = row.zip64;
    Built z = BuildZip(kFiles, options);
    ZipIndex index;
    ASSERT_TRUE(ReadIndex(z.bytes, 64 * 1024, index));  // before the edit
    row.edit(z);
    EXPECT_FALSE(ReadIndex(z.bytes, 64 * 1024, index));
  }
}

}  // namespace
