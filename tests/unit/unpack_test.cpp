// UnpackPackage with the prefix's real tar.exe (bsdtar, as Windows ships).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pipeline/held_package.h"
#include "platform/paths.h"
#include "platform/unique_handle.h"
#include "transfer/http_download.h"
#include "transfer/unpack.h"
#include "test_support.h"

namespace {

const wchar_t kUnpackFailed[] =
    L"Unpacking failed. Make sure Gorm Ek is closed and try again.";
const wchar_t kNeedsWindows10[] =
    L"Windows 10 (version 1803) or newer is needed to unpack the game.";

class UnpackTest : public testing::Test {
 protected:
  // An install folder with spaces and a non-ASCII letter in its path.
  void SetUp() override {
    dest_ = scratch_.path() + L"\\My Games \u00c9\\Gorm Ek";
    CreateDirectoryW((scratch_.path() + L"\\My Games \u00c9").c_str(), nullptr);
    CreateDirectoryW(dest_.c_str(), nullptr);
  }
  test::ScratchDir scratch_;
  std::wstring dest_;
};

TEST_F(UnpackTest, TreeComesOutByteIdentical) {
  std::wstring error = L"untouched";
  ASSERT_TRUE(UnpackPackage(test::TestPackage(L"tree.zip"), dest_, error));
  EXPECT_EQ(L"untouched", error);
  const std::vector<std::wstring> expected = {
      L".config/.hidden",
      L".leading dot.txt",
      L"Gorm Ek.exe",
      L"Sprachen/\u00dcbersetzung \u00e9t\u00e9.txt",
      L"data/levels/deep/er/still/deeper.bin",
      L"data/levels/level one.dat",
      L"\u65e5\u672c\u8a9e/\u30c6\u30b9\u30c8.txt",
  };
  EXPECT_EQ(expected, test::ListFiles(dest_));
  for (const std::wstring& rel : expected) {
    SCOPED_TRACE(test::Narrow(rel));
    std::wstring path = dest_ + L"\\" + rel;
    for (wchar_t& c : path) {
      if (c == L'/')
        c = L'\\';
    }
    EXPECT_TRUE(test::PackageFileContent(rel) == test::ReadFileBytes(path));
  }
  const DWORD a = GetFileAttributesW((dest_ + L"\\empty folder").c_str());
  EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(UnpackTest, NewVersionOverwritesAndKeepsFilesItLacks) {
  std::wstring error;
  ASSERT_TRUE(UnpackPackage(test::TestPackage(L"v1.zip"), dest_, error));
  ASSERT_TRUE(UnpackPackage(test::TestPackage(L"v2.zip"), dest_, error));
  EXPECT_EQ("version two", test::ReadFileBytes(dest_ + L"\\Gorm Ek.exe"));
  EXPECT_EQ("version two",
            test::ReadFileBytes(dest_ + L"\\shared\\shared.txt"));
  EXPECT_TRUE(test::PackageFileContent(L"old-only.txt") ==
              test::ReadFileBytes(dest_ + L"\\old-only.txt"));
}

// Characters outside the ANSI code page in both the package's and the
// install folder's path (a user name in another script, say).
TEST_F(UnpackTest, PathsOutsideTheAnsiCodePage) {
  const std::wstring temp =
      scratch_.path() + L"\\\u0422\u0435\u043c\u043f \u65e5";
  const std::wstring dest =
      scratch_.path() + L"\\\u0418\u0433\u0440\u044b \u03a9\\Gorm Ek";
  CreateDirectoryW(temp.c_str(), nullptr);
  CreateDirectoryW(dest.substr(0, dest.rfind(L'\\')).c_str(), nullptr);
  CreateDirectoryW(dest.c_str(), nullptr);
  const std::wstring zip = temp + L"\\GormEk-0042.zip";
  ASSERT_TRUE(
      CopyFileW(test::TestPackage(L"v1.zip").c_str(), zip.c_str(), FALSE));
  std::wstring error;
  ASSERT_TRUE(UnpackPackage(zip, dest, error)) << test::Narrow(error);
  EXPECT_TRUE(test::FileExists(dest + L"\\Gorm Ek.exe"));
}

TEST_F(UnpackTest, BrokenArchivesFail) {
  for (const wchar_t* name :
       {L"corrupt.zip", L"truncated.zip", L"no such package.zip"}) {
    SCOPED_TRACE(test::Narrow(name));
    std::wstring error;
    EXPECT_FALSE(UnpackPackage(test::TestPackage(name), dest_, error));
    EXPECT_EQ(kUnpackFailed, error);
  }
}

// From the end of its download until it is deleted a run holds its package:
// tar.exe unpacks it, while a second setup program's download to the same
// path fails with its usual sentence and its leftover sweep deletes nothing.
TEST_F(UnpackTest, AHeldPackageIsNeitherEmptiedNorDeletedByAnotherRun) {
  const std::wstring zip = scratch_.path() + L"\\GormEk-0042.zip";
  const std::wstring saveFailed = L"Could not save the download to " + zip;
  test::WriteSiteFile(L"second-run.zip", "another run's package");
  ASSERT_TRUE(
      CopyFileW(test::TestPackage(L"v1.zip").c_str(), zip.c_str(), FALSE));
  HeldPackage held;
  std::wstring error = L"untouched";
  ASSERT_TRUE(HoldPackage(zip, held, error));
  std::wstring second;
  EXPECT_FALSE(HttpDownload(test::SiteUrl() + L"second-run.zip", nullptr, zip,
                            {}, second));
  EXPECT_EQ(saveFailed, second);
  EXPECT_FALSE(DeleteFileW(zip.c_str()));
  EXPECT_TRUE(UnpackPackage(zip, dest_, error)) << test::Narrow(error);
  EXPECT_TRUE(test::FileExists(dest_ + L"\\Gorm Ek.exe"));
  DeleteHeldPackage(held);
  EXPECT_FALSE(test::FileExists(zip));

  // The other way round: another run's download took the path first. This
  // run neither holds nor deletes what that one is writing.
  HANDLE other = CreateFileW(zip.c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  EXPECT_FALSE(HoldPackage(zip, held, error));
  EXPECT_EQ(saveFailed, error);
  DeleteHeldPackage(held);
  CloseHandle(other);
  EXPECT_TRUE(test::FileExists(zip));
}

TEST_F(UnpackTest, FileHeldOpenByAnotherProcessFails) {
  std::wstring error;
  ASSERT_TRUE(UnpackPackage(test::TestPackage(L"v1.zip"), dest_, error));
  // This test process is "the game": it holds a file without sharing.
  HANDLE held = CreateFileW((dest_ + L"\\Gorm Ek.exe").c_str(),
                            GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(UnpackPackage(test::TestPackage(L"v2.zip"), dest_, error));
  EXPECT_EQ(kUnpackFailed, error);
  CloseHandle(held);
}

TEST_F(UnpackTest, EntriesCannotEscapeTheFolder) {
  std::wstring error;
  UnpackPackage(test::TestPackage(L"escape.zip"), dest_, error);
  // Whatever tar answers, every file it wrote is inside the install folder.
  const std::wstring inside = L"My Games \u00c9/Gorm Ek/";
  const std::vector<std::wstring> all = test::ListFiles(scratch_.path());
  EXPECT_FALSE(all.empty());
  for (const std::wstring& rel : all)
    EXPECT_EQ(0u, rel.rfind(inside, 0)) << test::Narrow(rel);
}

TEST_F(UnpackTest, WithoutTarNothingStarts) {
  test::ScratchDir systemDir;
  std::wstring error;
  // No tar.exe at all.
  EXPECT_FALSE(UnpackPackageWithToolsIn(
      systemDir.path(), test::TestPackage(L"v1.zip"), dest_, error));
  EXPECT_EQ(kNeedsWindows10, error);
  // A folder named tar.exe is no tar either.
  CreateDirectoryW((systemDir.path() + L"\\tar.exe").c_str(), nullptr);
  error.clear();
  EXPECT_FALSE(UnpackPackageWithToolsIn(
      systemDir.path(), test::TestPackage(L"v1.zip"), dest_, error));
  EXPECT_EQ(kNeedsWindows10, error);
  EXPECT_TRUE(test::ListFiles(dest_).empty());
}

TEST_F(UnpackTest, TarThatCannotStart) {
  test::ScratchDir systemDir;
  // A file named tar.exe that is no program.
  test::WriteFileBytes(systemDir.path() + L"\\tar.exe", "not a program");
  std::wstring error;
  EXPECT_FALSE(UnpackPackageWithToolsIn(
      systemDir.path(), test::TestPackage(L"v1.zip"), dest_, error));
  EXPECT_EQ(L"Could not start the unpacker.", error);
  EXPECT_TRUE(test::ListFiles(dest_).empty());
}

// tar.exe's exact command line, a console of its own without a window
// (CREATE_NO_WINDOW), and its exit code as the only verdict: a stand-in
// tar records how it was started and exits with the code the test chooses.
class RecordingTarTest : public UnpackTest {
 protected:
  void SetUp() override {
    UnpackTest::SetUp();
    const std::wstring exe = OwnExecutablePath();
    const std::wstring fake =
        exe.substr(0, exe.find_last_of(L'\\')) + L"\\fake_tar.exe";
    ASSERT_TRUE(
        CopyFileW(fake.c_str(), (tools_.path() + L"\\tar.exe").c_str(), FALSE));
    log_ = tools_.path() + L"\\record.txt";
    SetEnvironmentVariableW(L"GORMEK_FAKE_TAR_LOG", log_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"GORMEK_FAKE_TAR_LOG", nullptr);
    SetEnvironmentVariableW(L"GORMEK_FAKE_TAR_EXIT", nullptr);
  }
  test::ScratchDir tools_;
  std::wstring log_;
};

TEST_F(RecordingTarTest, CommandLineConsoleAndExitCode) {
  const std::wstring zip = tools_.path() + L"\\Game Package.zip";
  const std::wstring dest = scratch_.path() + L"\\Two Words\\Gorm Ek";
  test::WriteFileBytes(zip, "PK");
  for (const wchar_t* code : {L"0", L"1", L"2"}) {
    SCOPED_TRACE(test::Narrow(code));
    DeleteFileW(log_.c_str());
    SetEnvironmentVariableW(L"GORMEK_FAKE_TAR_EXIT", code);
    std::wstring error = L"untouched";
    const bool ok = UnpackPackageWithToolsIn(tools_.path(), zip, dest, error);
    const bool zero = code[0] == L'0';
    EXPECT_EQ(zero, ok);
    EXPECT_EQ(zero ? L"untouched" : kUnpackFailed, error);
    EXPECT_EQ(test::Narrow(L"\"" + tools_.path() + L"\\tar.exe\" -xf \"" + zip +
                           L"\" -C \"" + dest + L"\"\nconsole-processes=1\n"),
              test::ReadFileBytes(log_));
  }
}

// tar.exe held for a moment (security software scanning it as it starts):
// the unpack starts it on its second try. The hold ends when the first try
// has failed, however long a loaded machine takes to get there.
TEST_F(RecordingTarTest, StartedAgainAfterAMomentaryFailure) {
  const std::wstring tar = tools_.path() + L"\\tar.exe";
  UniqueFile held(CreateFileW(tar.c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  std::wstring error = L"untouched";
  EXPECT_TRUE(UnpackPackageWithToolsIn(tools_.path(),
                                       test::TestPackage(L"v1.zip"), dest_,
                                       error, [&held] { held.reset(); }));
  EXPECT_FALSE(held);  // the first try did fail
  EXPECT_EQ(L"untouched", error);
  EXPECT_TRUE(test::FileExists(log_));
}

TEST_F(RecordingTarTest, PathWithAQuoteIsRefusedBeforeAnythingStarts) {
  const std::wstring zip = test::TestPackage(L"v1.zip");
  for (const auto& [from, into] :
       {std::pair<std::wstring, std::wstring>{zip, dest_ + L"\\a\"b"},
        std::pair<std::wstring, std::wstring>{L"C:\\T\"\\p.zip", dest_}}) {
    std::wstring error;
    EXPECT_FALSE(UnpackPackageWithToolsIn(tools_.path(), from, into, error));
    EXPECT_EQ(kQuoteInPathText, error);
    EXPECT_FALSE(test::FileExists(log_));
  }
}

}  // namespace
