// The uninstall's folder choice and the safety test that guards deletion.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "removal/uninstall.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/unique_handle.h"
#include "relaunch/relaunch.h"
#include "removal/uninstall.h"
#include "core/setup_state.h"
#include "test_support.h"

namespace {

class UninstallTest : public test::StateTest {};

// On a machine without the test bench's marker (a player's Windows, say)
// the tests that delete the game's keys refuse to run.
TEST(ThrowawayPrefix, TestsThatDeleteTheGamesKeysRefuseWithoutTheMarker) {
  ASSERT_TRUE(test::InThrowawayPrefix());
  test::DeleteUserKey(test::kThrowawayMarkerKey);
  const bool withoutMarker = test::InThrowawayPrefix();
  const DWORD one = 1;
  test::SetUserValue(test::kThrowawayMarkerKey, L"Throwaway", REG_DWORD, &one,
                     sizeof(one));
  EXPECT_FALSE(withoutMarker);
  EXPECT_TRUE(test::InThrowawayPrefix());
}

TEST_F(UninstallTest, FolderChoice) {
  // The folder the first run started from holds the setup program.
  test::ScratchDir root;
  const std::wstring handed = root.path() + L"\\Gorm Ek";
  const std::wstring backup = root.path() + L"\\Backup Gorm Ek";
  CreateDirectoryW(handed.c_str(), nullptr);
  CreateDirectoryW(backup.c_str(), nullptr);
  test::WriteFileBytes(handed + L"\\GormEkSetup.exe", "MZ");
  test::WriteFileBytes(backup + L"\\Gorm Ek.exe", "MZ");
  struct Case {
    const char* name;
    const wchar_t* registered;  // null: no value
    bool relocated;
    std::wstring handed;
    std::wstring expected;
  };
  const Case cases[] = {
      {"nothing registered", nullptr, false, L"", ProgramDirectory()},
      {"registered, as read", L"D:\\Games\\Gorm Ek\\", false, L"",
       L"D:\\Games\\Gorm Ek\\"},
      {"registered empty", L"", false, L"", ProgramDirectory()},
      // Only a relocated copy takes the folder its parent asked about.
      {"relocated copy, nothing registered", nullptr, true, handed, handed},
      {"relocated copy, registered", L"D:\\Games\\Gorm Ek", true, handed,
       handed},
      {"first run ignores a handed folder", nullptr, false, handed,
       ProgramDirectory()},
      {"first run ignores it, registered", L"D:\\Games\\Gorm Ek", false, handed,
       L"D:\\Games\\Gorm Ek"},
      {"relocated without a handed folder", L"D:\\Games\\Gorm Ek", true, L"",
       L"D:\\Games\\Gorm Ek"},
      {"handed folder without the setup program", L"D:\\Games\\Gorm Ek", true,
       backup, L"D:\\Games\\Gorm Ek"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::DeleteUserKey(g_product.settingsKey);
    if (c.registered)
      test::SetUserString(g_product.settingsKey, L"InstallDir", c.registered);
    EXPECT_EQ(c.expected, UninstallFolder(c.relocated, c.handed));
  }
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

// Helper processes: this test program started with "--sleep-ms N" or
// "--wait-event NAME".
UniqueHandleKernel StartHelper(const std::wstring& arguments, DWORD* pid) {
  std::wstring line = L"\"" + OwnExecutablePath() + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi)) {
    return UniqueHandleKernel();
  }
  CloseHandle(pi.hThread);
  *pid = pi.dwProcessId;
  return UniqueHandleKernel(pi.hProcess);
}

UniqueHandleKernel StartSleeper(DWORD ms, DWORD* pid) {
  return StartHelper(L"--sleep-ms " + std::to_wstring(ms), pid);
}

double SecondsSince(ULONGLONG start) {
  return static_cast<double>(GetTickCount64() - start) / 1000.0;
}

// Every id is opened before the first wait, so an id whose process ends
// while an earlier one is waited for stays reserved (no new process can be
// given it) until the wait is over: OpenProcess on it still succeeds.
TEST(WaitForProcesses, LaterIdsAreHeldWhileEarlierOnesAreWaitedFor) {
  // The first process runs until the test lets it go, however slowly a
  // loaded machine starts the second.
  UniqueHandleKernel letGo(
      CreateEventW(nullptr, TRUE, FALSE, L"GormEkTestLetTheFirstGo"));
  DWORD firstPid = 0, secondPid = 0;
  UniqueHandleKernel first =
      StartHelper(L"--wait-event GormEkTestLetTheFirstGo", &firstPid);
  UniqueHandleKernel second = StartSleeper(200, &secondPid);
  ASSERT_TRUE(letGo && first && second);
  bool secondHeld = false;
  ULONGLONG letGoAt = 0;
  std::thread watcher([&] {
    // The test holds the second process until it has ended and the wait
    // (called at once on the other thread) has long opened it; from then
    // on only the wait can hold it. Wine keeps an ended process a moment
    // after its last handle closes: the look comes a second later.
    WaitForSingleObject(second.get(), 60000);
    Sleep(2000);
    second.reset();
    Sleep(1000);
    UniqueHandleKernel again(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, secondPid));
    DWORD code = 0;
    secondHeld = again && GetExitCodeProcess(again.get(), &code) && code == 7;
    letGoAt = GetTickCount64();
    SetEvent(letGo.get());
  });
  WaitForProcesses({firstPid, secondPid});
  watcher.join();
  EXPECT_TRUE(secondHeld);
  // The wait lasted until the first had ended, and the second, ended long
  // before, cost it nothing after.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.get(), 0));
  EXPECT_LT(SecondsSince(letGoAt), 20.0);
}

// A process that outlives the cap holds the run for 30 seconds, then the
// run goes on; an id that cannot be opened costs nothing.
TEST(WaitForProcesses, ThirtySecondsAtMostPerProcess) {
  DWORD pid = 0;
  UniqueHandleKernel sleeper = StartSleeper(120000, &pid);
  ASSERT_TRUE(sleeper);
  const ULONGLONG start = GetTickCount64();
  WaitForProcesses({0xFFFFFFF0u, pid});
  const double seconds = SecondsSince(start);
  TerminateProcess(sleeper.get(), 0);
  EXPECT_GE(seconds, 29.5);
  EXPECT_LT(seconds, 45.0);
}

}  // namespace
