// The two shortcuts, written with the real shell link object and read back.
#include <windows.h>

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "integration/shortcuts.h"
#include "platform/com_ptr.h"
#include "test_support.h"

namespace {

struct Link {
  bool loaded = false;
  std::wstring path, workingFolder, iconFile, description, arguments;
  int iconIndex = -1;
};

Link ReadLink(const std::wstring& file) {
  Link link;
  ComPtr<IShellLinkW> shell;
  ComPtr<IPersistFile> persist;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IShellLinkW, shell.put_void())) ||
      FAILED(shell.As(IID_IPersistFile, persist)) ||
      FAILED(persist->Load(file.c_str(), STGM_READ))) {
    return link;
  }
  link.loaded = true;
  wchar_t buffer[1024];
  buffer[0] = 0;
  shell->GetPath(buffer, 1024, nullptr, SLGP_RAWPATH);
  link.path = buffer;
  buffer[0] = 0;
  shell->GetWorkingDirectory(buffer, 1024);
  link.workingFolder = buffer;
  buffer[0] = 0;
  shell->GetIconLocation(buffer, 1024, &link.iconIndex);
  link.iconFile = buffer;
  buffer[0] = 0;
  shell->GetDescription(buffer, 1024);
  link.description = buffer;
  buffer[0] = 0;
  shell->GetArguments(buffer, 1024);
  link.arguments = buffer;
  return link;
}

class ShortcutsTest : public testing::Test {
 protected:
  void SetUp() override {
    DeleteFileW(StartMenuShortcutPath().c_str());
    DeleteFileW(DesktopShortcutPath().c_str());
  }
  void TearDown() override { SetUp(); }
};

TEST_F(ShortcutsTest, PathsAreTheUsersProgramsFolderAndDesktop) {
  EXPECT_EQ(test::KnownFolder(FOLDERID_Programs) + L"\\Gorm Ek.lnk",
            StartMenuShortcutPath());
  EXPECT_EQ(test::KnownFolder(FOLDERID_Desktop) + L"\\Gorm Ek.lnk",
            DesktopShortcutPath());
  // The test bench gives the prefix real folders, never links into $HOME.
  EXPECT_NE(std::wstring::npos, DesktopShortcutPath().find(L"\\users\\"));
}

TEST_F(ShortcutsTest, BothOneOrNone) {
  test::ScratchDir dir;
  const std::wstring game = dir.path() + L"\\Gorm Ek.exe";
  test::WriteFileBytes(game, "MZ");
  const std::pair<bool, bool> cases[] = {
      {true, true}, {true, false}, {false, true}, {false, false}};
  for (const auto& [startMenu, desktop] : cases) {
    SCOPED_TRACE(std::to_string(startMenu) + std::to_string(desktop));
    SetUp();
    if (startMenu) {
      EXPECT_TRUE(CreateShortcut(StartMenuShortcutPath(), game, dir.path()));
    }
    if (desktop) {
      EXPECT_TRUE(CreateShortcut(DesktopShortcutPath(), game, dir.path()));
    }
    EXPECT_EQ(startMenu, test::FileExists(StartMenuShortcutPath()));
    EXPECT_EQ(desktop, test::FileExists(DesktopShortcutPath()));
  }
}

TEST_F(ShortcutsTest, ContentReadsBack) {
  test::ScratchDir dir;
  const std::wstring folder = dir.path() + L"\\Spiele \u00e9\\Gorm Ek";
  CreateDirectoryW((dir.path() + L"\\Spiele \u00e9").c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring game = folder + L"\\Gorm Ek.exe";
  test::WriteFileBytes(game, "MZ");
  ASSERT_TRUE(CreateShortcut(DesktopShortcutPath(), game, folder));
  const Link link = ReadLink(DesktopShortcutPath());
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(game, link.path);
  EXPECT_EQ(folder, link.workingFolder);
  EXPECT_EQ(game, link.iconFile);
  EXPECT_EQ(0, link.iconIndex);
  EXPECT_EQ(L"Gorm Ek", link.description);
  EXPECT_EQ(L"", link.arguments);
}

TEST_F(ShortcutsTest, ReinstallOverwritesWithTheNewTarget) {
  test::ScratchDir a, b;
  const std::wstring gameA = a.path() + L"\\Gorm Ek.exe";
  const std::wstring gameB = b.path() + L"\\Gorm Ek.exe";
  test::WriteFileBytes(gameA, "MZ");
  test::WriteFileBytes(gameB, "MZ");
  ASSERT_TRUE(CreateShortcut(StartMenuShortcutPath(), gameA, a.path()));
  ASSERT_TRUE(CreateShortcut(StartMenuShortcutPath(), gameB, b.path()));
  const Link link = ReadLink(StartMenuShortcutPath());
  EXPECT_EQ(gameB, link.path);
  EXPECT_EQ(b.path(), link.workingFolder);
}

TEST_F(ShortcutsTest, UnwritableOrEmptyLinkPathFails) {
  test::ScratchDir dir;
  const std::wstring game = dir.path() + L"\\Gorm Ek.exe";
  EXPECT_FALSE(
      CreateShortcut(dir.path() + L"\\missing\\Gorm Ek.lnk", game, dir.path()));
  // An empty path (a known folder that could not be found) writes nothing,
  // in particular no "\Gorm Ek.lnk" at the root of the drive.
  EXPECT_FALSE(CreateShortcut(L"", game, dir.path()));
  EXPECT_FALSE(test::FileExists(L"\\Gorm Ek.lnk"));
  EXPECT_FALSE(test::FileExists(L".lnk"));
}

}  // namespace
