// The command-line grammar: options, values, modes, and the "/pid" and
// "/site" conversions.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/entry_point.h"
#include "app/command_line.h"
#include "core/setup_state.h"
#include "test_support.h"

namespace {

using Args = std::vector<std::wstring>;

struct Parsed {
  CommandLineFlags flags;
  RunMode mode;
};

Parsed Parse(Args args) {
  args.insert(args.begin(), L"C:\\x\\GormEkSetup.exe");
  Parsed p;
  p.flags = ParseCommandLine(args);
  p.mode = SelectRunMode(p.flags);
  return p;
}

class CommandLineTest : public test::StateTest {};

struct ModeCase {
  const char* name;
  Args args;
  RunMode mode;
  bool updateMode;
  std::wstring installDir;
};

TEST_F(CommandLineTest, ModesAndFolders) {
  const ModeCase cases[] = {
      {"no arguments", {}, RunMode::kInstall, false, L""},
      {"update without value", {L"/update"}, RunMode::kInstall, false, L""},
      {"update value normalised",
       {L"/update", L"C:\\Games\\Gorm Ek\\"},
       RunMode::kUpdate,
       true,
       L"C:\\Games\\Gorm Ek"},
      {"last update wins",
       {L"/update", L"C:\\Games\\Gorm Ek\\", L"/update", L"D:\\Other"},
       RunMode::kUpdate,
       true,
       L"D:\\Other\\Gorm Ek"},
      {"uninstall wins over update",
       {L"/uninstall", L"/update", L"C:\\X"},
       RunMode::kUninstall,
       true,
       L"C:\\X\\Gorm Ek"},
      {"update then uninstall",
       {L"/update", L"C:\\X", L"/uninstall"},
       RunMode::kUninstall,
       true,
       L"C:\\X\\Gorm Ek"},
      {"case-sensitive options",
       {L"/Uninstall", L"/UPDATE", L"C:\\X", L"-update", L"C:\\Y"},
       RunMode::kInstall,
       false,
       L""},
      {"option with suffix is no option",
       {L"/update=C:\\X"},
       RunMode::kInstall,
       false,
       L""},
      {"value that looks like an option",
       {L"/update", L"/uninstall"},
       RunMode::kUpdate,
       true,
       L"/uninstall\\Gorm Ek"},
      {"update value after pid takes pid's value",
       {L"/pid", L"/update", L"C:\\X"},
       RunMode::kInstall,
       false,
       L""},
      {"unknown arguments ignored",
       {L"hello", L"", L"/update", L"E:\\G"},
       RunMode::kUpdate,
       true,
       L"E:\\G\\Gorm Ek"},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSetupState();
    const Parsed p = Parse(c.args);
    EXPECT_EQ(c.mode, p.mode);
    EXPECT_EQ(c.updateMode, g_state.updateMode);
    EXPECT_EQ(c.installDir, g_state.installDir);
  }
}

TEST_F(CommandLineTest, ArgumentZeroIsSkippedAndEmptyListIsInstall) {
  EXPECT_EQ(RunMode::kInstall, SelectRunMode(ParseCommandLine({})));
  const CommandLineFlags f = ParseCommandLine({L"/uninstall"});
  EXPECT_FALSE(f.uninstall);
}

TEST_F(CommandLineTest, Flags) {
  Parsed p = Parse({L"/confirmed", L"/relocated", L"/confirmed"});
  EXPECT_FALSE(p.flags.uninstall);
  EXPECT_TRUE(p.flags.confirmed);
  EXPECT_TRUE(p.flags.relocated);
  EXPECT_EQ(RunMode::kInstall, p.mode);

  ResetSetupState();
  p = Parse({L"/uninstall", L"/uninstall"});
  EXPECT_TRUE(p.flags.uninstall);
  EXPECT_FALSE(p.flags.confirmed);
  EXPECT_FALSE(p.flags.relocated);
  EXPECT_EQ(L"", p.flags.handedFolder);

  // "/folder" takes its value as it stands (no normalisation), the last one
  // wins, and at the end of the line it is ignored.
  ResetSetupState();
  p = Parse({L"/folder", L"C:\\A\\", L"/uninstall", L"/folder",
             L"D:\\Games\\Gorm Ek", L"/folder"});
  EXPECT_EQ(L"D:\\Games\\Gorm Ek", p.flags.handedFolder);
  EXPECT_EQ(RunMode::kUninstall, p.mode);
  EXPECT_EQ(L"", g_state.installDir);
}

struct PidCase {
  std::wstring text;
  std::uint32_t pid;
};

TEST_F(CommandLineTest, PidConversion) {
  const PidCase cases[] = {
      {L"1234", 1234u},
      {L"abc", 0u},
      {L"12x", 12u},
      {L"-1", 4294967295u},
      {L"2147483647", 2147483647u},
      {L"2147483648", 2147483647u},
      {L"99999999999999999999999", 2147483647u},
      {L"-2147483648", 2147483648u},
      {L"-2147483649", 2147483648u},
      {L"  42", 42u},
      {L"\t+7", 7u},
      {L"", 0u},
      {L"/update", 0u},
      {L"0x10", 0u},
      {L"007", 7u},
      {L"- 5", 0u},
  };
  for (const PidCase& c : cases) {
    SCOPED_TRACE(test::Narrow(c.text));
    ResetSetupState();
    Parse({L"/pid", c.text});
    ASSERT_EQ(1u, g_state.waitPids.size());
    EXPECT_EQ(c.pid, g_state.waitPids[0]);
  }
}

TEST_F(CommandLineTest, PidsKeepOrderAndDuplicates) {
  Parse({L"/pid", L"7", L"/pid", L"9", L"/pid", L"7"});
  EXPECT_EQ((std::vector<std::uint32_t>{7, 9, 7}), g_state.waitPids);
}

TEST_F(CommandLineTest, PidAtTheEndIsIgnored) {
  Parse({L"/pid", L"5", L"/pid"});
  EXPECT_EQ((std::vector<std::uint32_t>{5}), g_state.waitPids);
}

struct SiteCase {
  const char* name;
  Args args;
  std::wstring siteUrl;
};

TEST_F(CommandLineTest, Site) {
  const std::wstring def = kDefaultSiteUrl;
  const SiteCase cases[] = {
      {"default", {}, def},
      {"ends in slash",
       {L"/site", L"http://127.0.0.1:8080/g/"},
       L"http://127.0.0.1:8080/g/"},
      {"slash appended",
       {L"/site", L"http://127.0.0.1:8080/g"},
       L"http://127.0.0.1:8080/g/"},
      {"two slashes stay", {L"/site", L"http://h/g//"}, L"http://h/g//"},
      {"no other change", {L"/site", L" x:\\y\\ "}, L" x:\\y\\ /"},
      {"last wins",
       {L"/site", L"http://a/", L"/site", L"http://b"},
       L"http://b/"},
      {"empty value keeps the default", {L"/site", L""}, def},
      {"empty value keeps an earlier site",
       {L"/site", L"http://a/", L"/site", L""},
       L"http://a/"},
      {"at the end ignored", {L"/site"}, def},
  };
  for (const SiteCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSetupState();
    Parse(c.args);
    EXPECT_EQ(c.siteUrl, g_state.siteUrl);
  }
}

TEST_F(CommandLineTest, UninstallKeepsPidsAndSite) {
  const Parsed p = Parse(
      {L"/uninstall", L"/pid", L"3", L"/site", L"http://s", L"/confirmed"});
  EXPECT_EQ(RunMode::kUninstall, p.mode);
  EXPECT_TRUE(p.flags.confirmed);
  EXPECT_EQ((std::vector<std::uint32_t>{3}), g_state.waitPids);
  EXPECT_EQ(L"http://s/", g_state.siteUrl);
}

TEST(DefaultSite, IsHttpsAndEndsInSlash) {
  const std::wstring url = kDefaultSiteUrl;
  EXPECT_EQ(0u, url.rfind(L"https://", 0));
  EXPECT_EQ(L'/', url.back());
  const std::wstring host = kDefaultSiteHost;
  EXPECT_FALSE(host.empty());
  EXPECT_EQ(L"https://" + host + L"/", url.substr(0, 9 + host.size()));
}

}  // namespace
