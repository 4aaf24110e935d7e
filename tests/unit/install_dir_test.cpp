// Folder rules: normalising folder texts, the full-path check and the
// install mode's default folder against the prefix's real registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "core/install_dir.h"
#include "window/window_actions.h"
#include "core/install_dir.h"
#include "core/setup_state.h"
#include "test_support.h"

namespace {

struct NormalizeCase {
  std::wstring input;
  std::wstring expected;
};

TEST(NormalizeInstallDir, Table) {
  const NormalizeCase cases[] = {
      {L"C:\\Games\\", L"C:\\Games\\Gorm Ek"},
      {L"C:\\Games\\Gorm Ek\\\\", L"C:\\Games\\Gorm Ek"},
      {L"  D:\\gorm ek  ", L"D:\\gorm ek"},
      {L"C:", L"C:\\Gorm Ek"},
      {L"C:\\", L"C:\\Gorm Ek"},
      {L"", L"\\Gorm Ek"},
      {L"    ", L"\\Gorm Ek"},
      {L"D:\\MyGorm Ek", L"D:\\MyGorm Ek"},
      {L"D:\\Gorm Ek2", L"D:\\Gorm Ek2\\Gorm Ek"},
      {L"D:/Games/", L"D:/Games\\Gorm Ek"},
      {L"\tD:\\X", L"\tD:\\X\\Gorm Ek"},
      {L"D:\\X\t", L"D:\\X\t\\Gorm Ek"},
      {L"C:\\Games\\ / \\ ", L"C:\\Games\\Gorm Ek"},
      {L"\\\\server\\share", L"\\\\server\\share\\Gorm Ek"},
      {L"GORM EK", L"GORM EK"},
      {L"orm Ek", L"orm Ek\\Gorm Ek"},
      // Only ASCII letters fold: a non-ASCII look-alike is another name.
      {L"C:\\G\u00F6rm Ek", L"C:\\G\u00F6rm Ek\\Gorm Ek"},
      {L"C:\\Gorm\u00A0Ek", L"C:\\Gorm\u00A0Ek\\Gorm Ek"},
  };
  for (const NormalizeCase& c : cases) {
    SCOPED_TRACE(test::Narrow(c.input));
    EXPECT_EQ(c.expected, NormalizeInstallDir(c.input));
  }
}

class FullPathCheckTest : public test::StateTest {};

struct CheckCase {
  std::wstring boxText;
  bool accepted;
  std::wstring installDir;
};

TEST_F(FullPathCheckTest, Table) {
  const CheckCase cases[] = {
      {L"", false, L"\\Gorm Ek"},
      {L"C:\\Games", true, L"C:\\Games\\Gorm Ek"},
      {L"C:Gorm Ek", true, L"C:Gorm Ek"},
      {L"\\\\server\\share\\Games", false,
       L"\\\\server\\share\\Games\\Gorm Ek"},
      {L"Games", false, L"Games\\Gorm Ek"},
      {L"  Z:\\", true, L"Z:\\Gorm Ek"},
      {L"1:", true, L"1:\\Gorm Ek"},
      {L"/c/games", false, L"/c/games\\Gorm Ek"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(test::Narrow(c.boxText));
    g_state.installDir = L"previous";
    EXPECT_EQ(c.accepted, AcceptInstallDir(c.boxText));
    // installDir is replaced also when the folder is rejected.
    EXPECT_EQ(c.installDir, g_state.installDir);
  }
}

// The check reads the folder box from a real EDIT control, which cuts a long
// text at 259 characters.
TEST_F(FullPathCheckTest, ReadsAtMost259CharactersFromTheFolderBox) {
  HWND edit =
      CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 100, 20,
                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, edit);
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
  std::wstring longText = L"C:\\" + std::wstring(297, L'a');
  ASSERT_EQ(300u, longText.size());
  SetWindowTextW(edit, longText.c_str());
  const std::wstring read = ReadFolderBoxText(edit);
  EXPECT_EQ(longText.substr(0, 259), read);
  EXPECT_TRUE(AcceptInstallDir(read));
  EXPECT_EQ(longText.substr(0, 259) + L"\\Gorm Ek", g_state.installDir);

  SetWindowTextW(edit, L"  D:\\Games\\ ");
  EXPECT_EQ(L"  D:\\Games\\ ", ReadFolderBoxText(edit));
  DestroyWindow(edit);
}

// Under Wine FOLDERID_UserProgramFiles always fails; on Windows it succeeds.
// Either way the default is a real per-user folder, never a bare "\Gorm Ek".
std::wstring ExpectedProgramsFolder() {
  std::wstring user = test::KnownFolder(FOLDERID_UserProgramFiles);
  if (!user.empty())
    return user;
  return test::KnownFolder(FOLDERID_LocalAppData) + L"\\Programs";
}

std::wstring Expanded(const std::wstring& text) {
  wchar_t buffer[1024] = {};
  ExpandEnvironmentStringsW(text.c_str(), buffer, 1024);
  return buffer;
}

class DefaultFolderTest : public test::StateTest {};

TEST_F(DefaultFolderTest, ProgramsFolderFallbackIsUnderLocalAppData) {
  const std::wstring folder = UserProgramsFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(ExpectedProgramsFolder(), folder);
  EXPECT_EQ(L':', folder[1]);
}

TEST_F(DefaultFolderTest, RegistryValueOrFallback) {
  const std::wstring fallback = ExpectedProgramsFolder() + L"\\Gorm Ek";
  const DWORD dword = 42;
  const std::wstring long1023(1023, L'x');
  const std::wstring long1024(1024, L'y');
  const std::wstring expandable = L"%TEMP%\\Gorm Ek";
  struct Case {
    const char* name;
    int kind;  // 0 none, 1 key only, 2 string, 3 dword, 4 expand sz, 5 binary,
               // 6 multi sz
    std::wstring value;
    std::wstring expected;
  };
  const Case cases[] = {
      {"no key", 0, L"", fallback},
      {"key without value", 1, L"", fallback},
      {"value used exactly as stored", 2, L" E:\\Spiele\\Gorm Ek\\ ",
       L" E:\\Spiele\\Gorm Ek\\ "},
      {"value without game name", 2, L"E:\\Spiele", L"E:\\Spiele"},
      {"empty value", 2, L"", fallback},
      {"1023 characters fit", 2, long1023, long1023},
      {"1024 characters do not", 2, long1024, fallback},
      {"wrong type dword", 3, L"", fallback},
      // RegGetValueW expands REG_EXPAND_SZ into REG_SZ, which is accepted.
      {"expandable string expanded", 4, expandable, Expanded(expandable)},
      {"multi string refused", 6, L"", fallback},
      {"binary refused", 5, L"", fallback},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::DeleteUserKey(g_product.settingsKey);
    switch (c.kind) {
      case 1:
        test::SetUserString(g_product.settingsKey, L"Other", L"x");
        break;
      case 2:
        test::SetUserString(g_product.settingsKey, L"InstallDir", c.value);
        break;
      case 3:
        test::SetUserValue(g_product.settingsKey, L"InstallDir", REG_DWORD,
                           &dword, sizeof(dword));
        break;
      case 4:
        test::SetUserValue(
            g_product.settingsKey, L"InstallDir", REG_EXPAND_SZ,
            c.value.c_str(),
            static_cast<DWORD>((c.value.size() + 1) * sizeof(wchar_t)));
        break;
      case 5:
        test::SetUserValue(g_product.settingsKey, L"InstallDir", REG_BINARY,
                           "C:\\", 3);
        break;
      case 6:
        test::SetUserValue(g_product.settingsKey, L"InstallDir", REG_MULTI_SZ,
                           L"C:\\G\0\0", 10);
        break;
      default:
        break;
    }
    g_state.installDir = L"stale";
    SetDefaultInstallDir();
    EXPECT_EQ(c.expected, g_state.installDir);
  }
}

}  // namespace
