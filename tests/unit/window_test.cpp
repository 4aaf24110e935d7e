// The setup window in this process, driven from a second thread: the paths
// that the end-to-end tests cannot reach from outside.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/install_worker.h"
#include "startup/entry_point.h"
#include "startup/setup_state.h"
#include "window/setup_window.h"
#include "window/window_actions.h"
#include <commctrl.h>

#include "window/worker_messages.h"
#include "test_support.h"

namespace {

bool NoThread(std::unique_ptr<WorkerJob>&) {
  return false;
}

// A thread facility that throws, as one short of memory may.
bool ThrowingThread(std::unique_ptr<WorkerJob>&) {
  throw std::bad_alloc();
}

// Waits for a visible top-level window of this process with the given class
// (other test programs may have windows of their own on the same desktop).
HWND WaitForWindow(const wchar_t* cls, DWORD ms = 10000) {
  struct Search {
    const wchar_t* cls;
    HWND found;
  };
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    Search search = {cls, nullptr};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
          auto* s = reinterpret_cast<Search*>(lp);
          wchar_t name[64] = {};
          GetClassNameW(w, name, 64);
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          if (pid == GetCurrentProcessId() && IsWindowVisible(w) &&
              wcscmp(name, s->cls) == 0) {
            s->found = w;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found)
      return search.found;
    Sleep(10);
  }
  return nullptr;
}

struct Box {
  std::wstring title, text;
};

// Reads the message box that is up, then presses OK.
Box AnswerBox() {
  HWND box = WaitForWindow(L"#32770");
  Box b;
  if (!box)
    return b;
  wchar_t buffer[1024] = {};
  GetWindowTextW(box, buffer, 1024);
  b.title = buffer;
  GetWindowTextW(GetDlgItem(box, 0xFFFF), buffer, 1024);
  b.text = buffer;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return b;
}

class WindowTest : public test::StateTest {
 protected:
  void TearDown() override {
    g_startWorkerThread = saved_;
    StateTest::TearDown();
  }
  // Runs the window on this thread while `drive` acts from another.
  void Run(std::function<void()> drive) {
    std::thread driver(std::move(drive));
    RunSetupWindow(GetModuleHandleW(nullptr));
    driver.join();
  }
  // Clicks Install, reads the box, and checks the window is idle again.
  void RunAndExpectIdleAfterBox(const wchar_t* expectedText);
  bool (*saved_)(std::unique_ptr<WorkerJob>&) = g_startWorkerThread;
};

TEST_F(WindowTest, InstallWhoseThreadCannotStartReturnsToIdle) {
  struct Case {
    bool (*start)(std::unique_ptr<WorkerJob>&);
    const wchar_t* text;
  };
  for (const Case& c : {Case{NoThread, kNoThreadText},
                        Case{ThrowingThread, kOutOfMemoryText}}) {
    SCOPED_TRACE(test::Narrow(c.text));
    ResetSetupState();
    g_startWorkerThread = c.start;
    RunAndExpectIdleAfterBox(c.text);
  }
}

// Out of memory in the worker: the report was allocated before the run, so
// the one final message still arrives, and nothing escapes the thread.
TEST_F(WindowTest, WorkerOutOfMemoryStillReportsOnce) {
  test::MessageRecorder recorder;
  g_state.mainWindow = recorder.window();
  std::unique_ptr<WorkerJob> job =
      MakeWorkerJob(L"C:\\Games\\Gorm Ek", true, true, false);
  {
    test::FailAllocations fail;
    InstallWorker(std::move(job));
  }
  const std::vector<test::RecordedMessage> messages = recorder.Pump();
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(WM_SETUP_DONE, messages[0].message);
  EXPECT_EQ(0u, messages[0].wParam);
  EXPECT_EQ(kOutOfMemoryText, messages[0].text);
}

// Out of memory before any window: one sentence in a box, exit code 0.
TEST_F(WindowTest, StartUpOutOfMemoryShowsOneSentence) {
  Box box;
  int exitCode = -1;
  std::thread answer([&] { box = AnswerBox(); });
  {
    test::FailAllocations fail;
    exitCode = RunProgram(GetModuleHandleW(nullptr));
  }
  answer.join();
  EXPECT_EQ(0, exitCode);
  EXPECT_EQ(L"Gorm Ek Setup", box.title);
  EXPECT_EQ(kOutOfMemoryText, box.text);
}

void WindowTest::RunAndExpectIdleAfterBox(const wchar_t* expectedText) {
  test::ScratchDir dir;
  g_state.installDir = dir.path();
  Box box;
  bool enabledAfter = false;
  bool runningAfter = true;
  std::wstring buttonAfter;
  Run([&] {
    HWND w = WaitForWindow(L"GormEkSetup");
    ASSERT_NE(nullptr, w);
    PostMessageW(w, WM_COMMAND, 102, 0);
    box = AnswerBox();
    Sleep(200);
    enabledAfter = IsWindowEnabled(g_state.folderEdit) &&
                   IsWindowEnabled(g_state.installButton);
    runningAfter = g_state.workerRunning;
    wchar_t text[64] = {};
    GetWindowTextW(g_state.installButton, text, 64);
    buttonAfter = text;
    PostMessageW(w, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(L"Gorm Ek Setup", box.title);
  EXPECT_EQ(expectedText, box.text);
  EXPECT_TRUE(enabledAfter);
  EXPECT_FALSE(runningAfter);
  EXPECT_EQ(L"Install", buttonAfter);
}

TEST_F(WindowTest, UpdateWhoseThreadCannotStartReportsAndCloses) {
  g_startWorkerThread = NoThread;
  g_state.updateMode = true;
  g_state.installDir = L"C:\\Games\\Gorm Ek";
  Box box;
  Run([&] { box = AnswerBox(); });
  // RunSetupWindow returned: the window closed after the box.
  EXPECT_EQ(L"Gorm Ek", box.title);
  EXPECT_EQ(UpdateFailureText(kNoThreadText), box.text);
  EXPECT_EQ(std::wstring(L"The update failed:\n") + kNoThreadText +
                L"\n\nYou can also download the installer again from " +
                kDefaultSiteHost + L".",
            box.text);
}

// Status texts that arrive after a cancel are dropped; bar positions are not.
TEST_F(WindowTest, StatusAfterCancelIsDroppedButProgressMoves) {
  bool started = false;
  // A worker that waits.
  g_startWorkerThread = [](std::unique_ptr<WorkerJob>&) { return true; };
  test::ScratchDir dir;
  g_state.installDir = dir.path();
  std::wstring status;
  int pos = -1;
  Run([&] {
    HWND w = WaitForWindow(L"GormEkSetup");
    ASSERT_NE(nullptr, w);
    SendMessageW(w, WM_COMMAND, 102, 0);
    started = g_state.workerRunning;
    SendMessageW(w, WM_COMMAND, 103, 0);  // Cancel while "running"
    SendMessageW(w, WM_SETUP_STATUS, 0,
                 reinterpret_cast<LPARAM>(new std::wstring(L"late line")));
    SendMessageW(w, WM_SETUP_PROGRESS, 450, 0);
    wchar_t text[64] = {};
    GetWindowTextW(g_state.statusLabel, text, 64);
    status = text;
    pos = static_cast<int>(SendMessageW(g_state.progressBar, PBM_GETPOS, 0, 0));
    // The completion closes the window whatever it says.
    PostMessageW(w, WM_SETUP_DONE, 1,
                 reinterpret_cast<LPARAM>(new std::wstring(L"done")));
  });
  EXPECT_TRUE(started);
  EXPECT_EQ(L"Cancelling...", status);
  EXPECT_EQ(450, pos);
}

// An older common-controls library refuses the combined call for a flag it
// does not know; the progress bar's class is then asked for alone.
std::vector<DWORD> g_initCalls;
TEST(CommonControls, RetriedWithTheProgressBarAlone) {
  const DWORD both = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
  g_initCalls.clear();
  InitCommonControlClasses([](const INITCOMMONCONTROLSEX* icc) -> BOOL {
    g_initCalls.push_back(icc->dwICC);
    return icc->dwICC == ICC_PROGRESS_CLASS;
  });
  EXPECT_EQ((std::vector<DWORD>{both, ICC_PROGRESS_CLASS}), g_initCalls);
  g_initCalls.clear();
  InitCommonControlClasses([](const INITCOMMONCONTROLSEX* icc) -> BOOL {
    g_initCalls.push_back(icc->dwICC);
    return TRUE;
  });
  EXPECT_EQ((std::vector<DWORD>{both}), g_initCalls);
}

}  // namespace
