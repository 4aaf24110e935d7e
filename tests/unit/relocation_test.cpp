// Relocation: the program's directory, the folder test, argument quoting and
// the relaunch command line, read back with the system's own splitter.
#include <windows.h>

#include <gtest/gtest.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/processes.h"
#include "relaunch/relaunch.h"
#include "removal/uninstall.h"
#include "platform/paths.h"
#include "app/entry_point.h"
#include "platform/paths.h"
#include "relaunch/relaunch.h"
#include "relaunch/stale_copies.h"
#include "removal/uninstall.h"
#include "app/command_line.h"
#include "app/entry_point.h"
#include "core/setup_state.h"
#include "test_support.h"

namespace {

std::vector<std::wstring> Split(const std::wstring& line) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> result(argv, argv + count);
  LocalFree(argv);
  return result;
}

TEST(ProgramDirectory, IsTheFolderOfTheRunningProgram) {
  const std::wstring exe = OwnExecutablePath();
  const std::wstring dir = ProgramDirectory();
  EXPECT_EQ(exe.substr(0, dir.size()), dir);
  EXPECT_EQ(L'\\', exe[dir.size()]);
  EXPECT_EQ(std::wstring::npos, exe.find(L'\\', dir.size() + 1));
}

// A path cut by a buffer that is too small is no path at all: a shorter one
// would name another file or folder.
TEST(ProgramDirectory, CutPathIsNoPath) {
  const std::wstring exe = OwnExecutablePath();
  ASSERT_GT(exe.size(), 10u);
  const DWORD exact = static_cast<DWORD>(exe.size());
  EXPECT_EQ(exe, ModulePath(nullptr, exact + 1));
  EXPECT_EQ(L"", ModulePath(nullptr, exact));
  EXPECT_EQ(L"", ModulePath(nullptr, 10));
}

TEST(IsRunningFromFolder, OnlyTheFolderItselfIgnoringAsciiCase) {
  const std::wstring dir = ProgramDirectory();
  std::wstring upper = dir, lower = dir;
  for (wchar_t& c : upper)
    c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
  for (wchar_t& c : lower)
    c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
  std::wstring slashes = dir;
  for (wchar_t& c : slashes)
    c = c == L'\\' ? L'/' : c;
  const std::wstring parent = dir.substr(0, dir.find_last_of(L'\\'));
  EXPECT_TRUE(IsRunningFromFolder(dir));
  EXPECT_TRUE(IsRunningFromFolder(upper));
  EXPECT_TRUE(IsRunningFromFolder(lower));
  EXPECT_FALSE(IsRunningFromFolder(dir + L"\\"));
  EXPECT_FALSE(IsRunningFromFolder(slashes));
  EXPECT_FALSE(IsRunningFromFolder(parent));
  EXPECT_FALSE(IsRunningFromFolder(dir + L"\\bin"));
  EXPECT_FALSE(IsRunningFromFolder(L""));
}

TEST(EqualsAsciiNoCase, NonAsciiLettersStayDifferent) {
  EXPECT_FALSE(IsRunningFromFolder(ProgramDirectory() + L"\u00c9"));
}

TEST(QuoteArgument, PlainValuesAreOnlyQuoted) {
  const std::wstring plain[] = {
      L"/update", L"C:\\Games\\Gorm Ek", L"http://127.0.0.1:8/g/",
      L"",        L"a\\b c\\d",          L"12345"};
  for (const std::wstring& v : plain)
    EXPECT_EQ(L"\"" + v + L"\"", QuoteArgument(v));
}

TEST(QuoteArgument, RoundTripsThroughCommandLineToArgvW) {
  const std::wstring values[] = {
      L"plain",
      L"with space",
      L"C:\\Games\\Gorm Ek",
      L"trailing\\",
      L"two trailing\\\\",
      L"quote\"inside",
      L"back\\\"slash quote",
      L"\"",
      L"\\\"",
      L"http://h/?a=\"x\" /uninstall \"",
      L"",
      L"\u00c9t\u00e9 \u65e5\u672c",
      L"tab\there",
  };
  std::wstring line = L"\"C:\\t\\GormEkSetup-1.exe\"";
  for (const std::wstring& v : values)
    line += L" " + QuoteArgument(v);
  const std::vector<std::wstring> back = Split(line);
  ASSERT_EQ(std::size(values) + 1, back.size());
  for (std::size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(values[i], back[i + 1]) << i;
}

class RelaunchLineTest : public test::StateTest {};

TEST_F(RelaunchLineTest, ExactLineForTheUninstall) {
  g_state.siteUrl = L"https://downloads.gormek.example/";
  EXPECT_EQ(
      L"\"C:\\users\\me\\Temp\\GormEkSetup-123.exe\" \"/uninstall\" "
      L"\"/confirmed\" \"/folder\" \"C:\\Games\\Gorm Ek\" /relocated /pid "
      L"4321 /site \"https://downloads.gormek.example/\"",
      RelaunchCommandLine(L"C:\\users\\me\\Temp\\GormEkSetup-123.exe",
                          UninstallRelaunchArguments(L"C:\\Games\\Gorm Ek"),
                          4321));
}

TEST_F(RelaunchLineTest, EmptyArgumentList) {
  g_state.siteUrl = L"http://s/";
  EXPECT_EQ(
      L"\"C:\\T\\GormEkSetup-9.exe\" /relocated /pid 7 /site \"http://s/\"",
      RelaunchCommandLine(L"C:\\T\\GormEkSetup-9.exe", {}, 7));
}

// What the copy parses is exactly what the first process knew, whatever the
// site's text holds.
TEST_F(RelaunchLineTest, CopyParsesTheSameState) {
  ParseCommandLine({L"x", L"/update", L"C:\\Games\\Gorm Ek", L"/pid", L"11",
                    L"/pid", L"4000000", L"/pid", L"12", L"/site",
                    L"http://h/a\" /uninstall \"b/"});
  const std::vector<std::wstring> handed = UpdateRelaunchArguments();
  EXPECT_EQ(
      (std::vector<std::wstring>{L"/update", L"C:\\Games\\Gorm Ek", L"/pid",
                                 L"11", L"/pid", L"4000000", L"/pid", L"12"}),
      handed);
  const std::wstring site = g_state.siteUrl;
  const std::wstring line =
      RelaunchCommandLine(L"C:\\T\\GormEkSetup-5.exe", handed, 999);
  ResetSetupState();
  const CommandLineFlags flags = ParseCommandLine(Split(line));
  EXPECT_EQ(RunMode::kUpdate, SelectRunMode(flags));
  EXPECT_TRUE(flags.relocated);
  EXPECT_FALSE(flags.uninstall);
  EXPECT_EQ(L"C:\\Games\\Gorm Ek", g_state.installDir);
  EXPECT_EQ((std::vector<std::uint32_t>{11, 4000000, 12, 999}),
            g_state.waitPids);
  EXPECT_EQ(site, g_state.siteUrl);
}

// Packages left in the temporary folder by killed runs go at start; one
// that is open (another setup program writes it) or was written just now
// stays, and so does anything not named like a package.
TEST(LeftoverPackages, OldDeletablePackagesOnly) {
  const std::wstring temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  auto make = [&](const std::wstring& name, bool old) {
    const std::wstring path = temp + name;
    test::WriteFileBytes(path, "PK");
    if (old) {
      FILETIME t = {};
      GetSystemTimeAsFileTime(&t);
      ULARGE_INTEGER v = {{t.dwLowDateTime, t.dwHighDateTime}};
      v.QuadPart -= 3600ULL * 10000000ULL;  // an hour ago
      t = {v.LowPart, v.HighPart};
      HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
      SetFileTime(f, nullptr, nullptr, &t);
      CloseHandle(f);
    }
    return path;
  };
  const std::wstring leftover = make(L"GormEk-0042.zip", true);
  const std::wstring leftover5 = make(L"gormek-12345.ZIP", true);
  const std::wstring recent = make(L"GormEk-0043.zip", false);
  const std::wstring open = make(L"GormEk-0044.zip", true);
  const std::wstring notOurs = make(L"GormEk-notes.zip", true);
  const std::wstring noNumber = make(L"GormEk-.zip", true);
  HANDLE held = CreateFileW(open.c_str(), GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  RemoveLeftoverPackages();
  CloseHandle(held);
  EXPECT_FALSE(test::FileExists(leftover));
  EXPECT_FALSE(test::FileExists(leftover5));
  EXPECT_TRUE(test::FileExists(recent));
  EXPECT_TRUE(test::FileExists(open));
  EXPECT_TRUE(test::FileExists(notOurs));
  EXPECT_TRUE(test::FileExists(noNumber));
  for (const std::wstring& path : {recent, open, notOurs, noNumber})
    DeleteFileW(path.c_str());
}

}  // namespace
