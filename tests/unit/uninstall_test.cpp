// The uninstall's folder choice and the safety test that guards deletion.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "removal/relocation.h"
#include "removal/uninstall.h"
#include "startup/setup_state.h"
#include "test_support.h"

namespace {

class UninstallTest : public test::StateTest {};

TEST_F(UninstallTest, FolderIsTheRegisteredOneElseTheProgramsOwn) {
  EXPECT_EQ(ProgramDirectory(), UninstallFolder());
  test::SetUserString(g_product.settingsKey, L"InstallDir",
                      L"D:\\Games\\Gorm Ek\\");
  EXPECT_EQ(L"D:\\Games\\Gorm Ek\\", UninstallFolder());  // as read
  test::SetUserString(g_product.settingsKey, L"InstallDir", L"");
  EXPECT_EQ(ProgramDirectory(), UninstallFolder());
}

TEST_F(UninstallTest, SafetyTest) {
  test::ScratchDir root;
  auto make = [&](const std::wstring& rel, bool gameAsFolder) {
    const std::wstring dir = root.path() + L"\\" + rel;
    CreateDirectoryW(dir.c_str(), nullptr);
    if (gameAsFolder)
      CreateDirectoryW((dir + L"\\Gorm Ek.exe").c_str(), nullptr);
    else
      test::WriteFileBytes(dir + L"\\Gorm Ek.exe", "MZ");
    return dir;
  };
  const std::wstring normal = make(L"Gorm Ek", false);
  const std::wstring oddCase = make(L"gORM eK", false);
  const std::wstring prefixed = make(L"OldGorm Ek", false);
  const std::wstring other = make(L"Games", false);
  const std::wstring folderGame = make(L"X Gorm Ek", true);
  const std::wstring empty = root.path() + L"\\Empty Gorm Ek";
  CreateDirectoryW(empty.c_str(), nullptr);
  struct Case {
    std::wstring folder;
    bool safe;
  };
  const Case cases[] = {
      {normal, true},      {oddCase, true},
      {prefixed, true},    {normal + L"\\", false},  // trailing backslash
      {other, false},       // name does not end in the game's
      {folderGame, false},  // "Gorm Ek.exe" is a folder
      {empty, false},       // no game executable
      {L"Gorm", false},     // shorter than the name
      {L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Narrow(c.folder));
    EXPECT_EQ(c.safe, IsSafeToDelete(c.folder));
  }
}

}  // namespace
