// The version file's number, its written form and the package's names.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "pipeline/install_worker.h"
#include "pipeline/version.h"
#include "pipeline/version.h"
#include "platform/paths.h"
#include "core/setup_state.h"
#include "test_support.h"

namespace {

struct ParseCase {
  const char* name;
  std::string body;
  int version;
};

TEST(ParseVersion, Table) {
  const ParseCase cases[] = {
      {"number and line feed", "42\n", 42},
      {"number and CRLF and more lines", "42\r\nnotes\n", 42},
      {"leading spaces and blank lines", "  \n\r\n\t 17", 17},
      {"vertical tab and form feed are white space", "\v\f9", 9},
      {"plus sign", "+8", 8},
      {"minus sign", "-5", -5},
      {"zero", "0", 0},
      {"empty", "", 0},
      {"only white space", " \n\t", 0},
      {"letter first", "v42", 0},
      {"html error page", "<!DOCTYPE html><html>500</html>", 0},
      {"UTF-8 byte-order mark",
       "\xEF\xBB\xBF"
       "42",
       0},
      {"leading zeros are decimal", "0042", 42},
      {"hex prefix stops at x", "0x10", 0},
      {"text after the number", "12abc", 12},
      {"eleven nines saturate", "99999999999", 2147483647},
      {"int max", "2147483647", 2147483647},
      {"below int min saturates", "-99999999999", -2147483647 - 1},
      {"sign then space", "+ 4", 0},
      {"two signs", "--4", 0},
      {"NUL ends the body",
       std::string("\0"
                   "42",
                   3),
       0},
      {"number before NUL",
       std::string("7\0"
                   "9",
                   3),
       7},
      {"non-breaking space is no white space",
       "\xA0"
       "5",
       0},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.version, ParseVersion(c.body));
  }
}

TEST(FormatVersion, Table) {
  const std::pair<int, std::wstring> cases[] = {
      {1, L"0001"},
      {7, L"0007"},
      {42, L"0042"},
      {999, L"0999"},
      {1000, L"1000"},
      {12345, L"12345"},
      {2147483647, L"2147483647"},
      // Never shown (a usable version is positive), but as "%04d" has it.
      {0, L"0000"},
      {-5, L"-005"},
      {-2147483647 - 1, L"-2147483648"},
  };
  for (const auto& [version, text] : cases)
    EXPECT_EQ(text, FormatVersion(version));
}

class PackageNamesTest : public test::StateTest {};

TEST_F(PackageNamesTest, NamesAndUrls) {
  EXPECT_EQ(L"GormEk-0042.zip", PackageFileName(42));
  EXPECT_EQ(L"GormEk-2147483647.zip", PackageFileName(2147483647));
  g_state.siteUrl = L"http://127.0.0.1:9/site/";
  EXPECT_EQ(L"http://127.0.0.1:9/site/GormEk-0042.zip", PackageUrl(42));
  const std::wstring temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(L'\\', temp.back());
  EXPECT_EQ(temp + L"GormEk-0042.zip", PackageFilePath(42));
  // The same version always lands at the same path.
  EXPECT_EQ(PackageFilePath(42), PackageFilePath(42));
}

TEST_F(PackageNamesTest, VersionUrlCarriesAFreshTickCount) {
  g_state.siteUrl = L"https://h.example/g/";
  const std::wstring prefix = L"https://h.example/g/version.txt?t=";
  const ULONGLONG before = GetTickCount64();
  const std::wstring url = VersionUrl();
  const ULONGLONG after = GetTickCount64();
  ASSERT_EQ(0u, url.rfind(prefix, 0));
  const std::wstring ticks = url.substr(prefix.size());
  ASSERT_FALSE(ticks.empty());
  EXPECT_NE(L'0', ticks[0]);
  EXPECT_EQ(std::wstring::npos, ticks.find_first_not_of(L"0123456789"));
  const ULONGLONG t = std::stoull(ticks);
  EXPECT_GE(t, before);
  EXPECT_LE(t, after);
}

// Without a temporary folder the run has no package path (the worker then
// fails with its own message) rather than a path in the current folder.
TEST_F(PackageNamesTest, NoPackagePathWithoutATemporaryFolder) {
  wchar_t saved[4096] = {};
  const DWORD had = GetEnvironmentVariableW(L"TMP", saved, 4096);
  const std::wstring tooLong = L"C:\\" + std::wstring(300, L't');
  SetEnvironmentVariableW(L"TMP", tooLong.c_str());
  EXPECT_EQ(L"", TempFolder());
  EXPECT_EQ(L"", PackageFilePath(42));
  SetEnvironmentVariableW(L"TMP", had ? saved : nullptr);
  EXPECT_NE(L"", PackageFilePath(42));
}

}  // namespace
