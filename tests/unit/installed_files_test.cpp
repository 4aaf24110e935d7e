// The installed game against a package's index: the paths tar.exe writes,
// and which files differ, on a folder that tar.exe itself unpacked.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/installed_files.h"
#include "transfer/unpack.h"
#include "transfer/zip_index.h"
#include "test_support.h"

namespace {

ZipIndex IndexOfPackage(const std::wstring& name) {
  return test::ZipIndexOf(test::ReadFileBytes(test::TestPackage(name)));
}

TEST(InstalledFilesTest, ThePathTarWrites) {
  struct Row {
    std::string name;
    bool utf8;
    const wchar_t* path;  // null: it could leave the folder
  };
  const Row rows[] = {
      {"Gorm Ek.exe", false, L"Gorm Ek.exe"},
      {"data/levels/level 1.dat", false, L"data\\levels\\level 1.dat"},
      {"empty folder/", false, L"empty folder"},
      {"\xC3\x9C"
       "bersetzung.txt",
       true, L"\u00DCbersetzung.txt"},
      {"\x81"
       "bersetzung.txt",
       false, L"\u00FCbersetzung.txt"},  // page 437
      {"..hidden/..x", false, L"..hidden\\..x"},
      {"../escaped.txt", false, nullptr},
      {"sub/../../escaped.txt", false, nullptr},
      {"sub\\..\\..\\escaped.txt", false, nullptr},
      {"/absolute.txt", false, nullptr},
      {"C:/Windows/x.dll", false, nullptr},
      {"file.txt:stream", false, nullptr},
      {"", false, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZipEntry entry;
    entry.name = row.name;
    entry.utf8 = row.utf8;
    std::wstring path = L"untouched";
    EXPECT_EQ(row.path != nullptr, EntryRelativePath(entry, path));
    EXPECT_EQ(row.path ? row.path : L"untouched", path);
  }
}

TEST(InstalledFilesTest, WhatDiffersFromThePackage) {
  const ZipIndex index = IndexOfPackage(L"tree.zip");
  const auto entry = [&index](const char* name) {
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
      if (index.entries[i].name == name)
        return i;
    }
    ADD_FAILURE() << name;
    return std::size_t{0};
  };
  const std::size_t game = entry("Gorm Ek.exe");
  const std::size_t level = entry("data/levels/level one.dat");
  const std::size_t hidden = entry(".config/.hidden");
  struct Row {
    const char* name;
    std::function<void(const std::wstring& folder)> change;
    std::vector<std::size_t> changed;
  };
  HANDLE held = INVALID_HANDLE_VALUE;
  const Row rows[] = {
      {"as unpacked", [](const std::wstring&) {}, {}},
      {"one byte changed, same size",
       [](const std::wstring& f) {
         std::string bytes = test::ReadFileBytes(f + L"\\Gorm Ek.exe");
         bytes[5] ^= 1;
         test::WriteFileBytes(f + L"\\Gorm Ek.exe", bytes);
       },
       {game}},
      {"deleted, and cut short",
       [](const std::wstring& f) {
         DeleteFileW((f + L"\\data\\levels\\level one.dat").c_str());
         test::WriteFileBytes(f + L"\\.config\\.hidden", "short");
       },
       {level, hidden}},
      {"a folder where the package has a file",
       [](const std::wstring& f) {
         DeleteFileW((f + L"\\Gorm Ek.exe").c_str());
         CreateDirectoryW((f + L"\\Gorm Ek.exe").c_str(), nullptr);
       },
       {game}},
      {"a file that cannot be read",
       [&held](const std::wstring& f) {
         held = CreateFileW((f + L"\\Gorm Ek.exe").c_str(), GENERIC_READ, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
       },
       {game}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::ScratchDir dir;
    const std::wstring folder = dir.path() + L"\\Gorm Ek";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring error;
    ASSERT_TRUE(UnpackPackage(test::TestPackage(L"tree.zip"), folder, error));
    row.change(folder);
    std::vector<std::size_t> changed;
    std::uint64_t lastDone = 0, lastTotal = 0;
    EXPECT_EQ(CompareResult::kCompared,
              FindChangedEntries(
                  index, folder,
                  [&](std::uint64_t done, std::uint64_t total) {
                    lastDone = done;
                    lastTotal = total;
                    return true;
                  },
                  changed));
    std::sort(changed.begin(), changed.end());
    std::vector<std::size_t> expected = row.changed;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, changed);
    EXPECT_GT(lastTotal, 0u);
    if (held != INVALID_HANDLE_VALUE) {
      CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
    } else {
      EXPECT_EQ(lastTotal, lastDone);  // every matching file read once
    }
  }
  // A stop from the progress report, and a name that could leave the folder.
  test::ScratchDir dir;
  std::wstring error;
  ASSERT_TRUE(UnpackPackage(test::TestPackage(L"tree.zip"), dir.path(), error));
  std::vector<std::size_t> changed;
  EXPECT_EQ(CompareResult::kCancelled,
            FindChangedEntries(
                index, dir.path(),
                [](std::uint64_t, std::uint64_t) { return false; }, changed));
  EXPECT_EQ(CompareResult::kUnsafeName,
            FindChangedEntries(IndexOfPackage(L"escape.zip"), dir.path(), {},
                               changed));
}

}  // namespace
