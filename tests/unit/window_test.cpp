// The setup window in this process, driven from a second thread: the paths
// that the end-to-end tests cannot reach from outside.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "core/failure_texts.h"
#include "window/setup_window.h"
#include "window/window_actions.h"
#include "pipeline/install_worker.h"
#include "app/entry_point.h"
#include "core/setup_state.h"
#include "window/setup_window.h"
#include "window/window_actions.h"
#include <commctrl.h>

#include "pipeline/worker_messages.h"
#include "test_support.h"

namespace {

bool NoThread(std::unique_ptr<WorkerJob>&) {
  return false;
}

// A thread facility that throws, as one short of memory may.
bool ThrowingThread(std::unique_ptr<WorkerJob>&) {
  throw std::bad_alloc();
}

// A visible top-level window of this process with the given class (other
// test programs may have windows of their own on the same desktop).
HWND FindOwnWindow(const wchar_t* cls) {
  struct Search {
    const wchar_t* cls;
    HWND found;
  } search = {cls, nullptr};
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
  return search.found;
}

// Waits for such a window.
HWND WaitForWindow(const wchar_t* cls, DWORD ms = 10000) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    if (HWND found = FindOwnWindow(cls))
      return found;
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
    // Once the box has gone and the window has answered a message sent
    // after that, the click's handler has returned.
    const ULONGLONG end = GetTickCount64() + 10000;
    while (FindOwnWindow(L"#32770") && GetTickCount64() < end)
      Sleep(10);
    SendMessageW(w, WM_NULL, 0, 0);
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

// The layout at the system DPI of the prefix this program runs in. CTest
// runs it once per DPI (tests/at_dpi.sh sets the prefix's LogPixels, which
// Wine reads as the display's DPI, and names it in GORMEK_EXPECT_DPI). In
// both layouts every control lies inside the client area, no two overlap,
// each label, check box and button is wide and tall enough for its text in
// its own font, and the fonts scale with the DPI.
struct ControlFit {
  std::wstring what;
  RECT rect;  // client coordinates
};

std::vector<std::wstring> LayoutProblems(HWND w, int dpi) {
  std::vector<std::wstring> problems;
  RECT client = {};
  GetClientRect(w, &client);
  std::vector<ControlFit> placed;
  for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[32] = {}, text[256] = {};
    GetClassNameW(c, cls, 32);
    GetWindowTextW(c, text, 256);
    RECT r = {};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    const std::wstring what = std::wstring(cls) + L" \"" + text + L"\"";
    if (r.left < 0 || r.top < 0 || r.right > client.right ||
        r.bottom > client.bottom) {
      problems.push_back(what + L" is outside the client area");
    }
    for (const ControlFit& other : placed) {
      RECT both = {};
      if (IntersectRect(&both, &r, &other.rect))
        problems.push_back(what + L" overlaps " + other.what);
    }
    placed.push_back({what, r});

    const bool isStatic = _wcsicmp(cls, L"Static") == 0;
    const bool isButton = _wcsicmp(cls, L"Button") == 0;
    if ((!isStatic && !isButton) || !text[0])
      continue;
    HDC dc = GetDC(c);
    const HGDIOBJ old = SelectObject(
        dc, reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
    SelectObject(dc, old);
    ReleaseDC(c, dc);
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    int needed = extent.cx;
    if (isButton && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
      // The box itself and the gap before the text (the system draws the
      // box at 13 pixels at 96 DPI and leaves about a quarter of that).
      needed += MulDiv(13 + 4, dpi, 96);
    } else if (isButton) {
      needed += 2 * GetSystemMetrics(SM_CXEDGE) + 2;  // border and focus rect
    }
    if (needed > r.right - r.left) {
      problems.push_back(what + L" needs " + std::to_wstring(needed) +
                         L" pixels, has " + std::to_wstring(r.right - r.left));
    }
    if (extent.cy > r.bottom - r.top) {
      problems.push_back(what + L" is " + std::to_wstring(extent.cy) +
                         L" pixels tall, has " +
                         std::to_wstring(r.bottom - r.top));
    }
  }
  return problems;
}

int FontHeight(HFONT font) {
  LOGFONTW lf = {};
  GetObjectW(font, sizeof(lf), &lf);
  return lf.lfHeight;
}

TEST_F(WindowTest, BothLayoutsFitAtTheSystemDpi) {
  wchar_t expected[16] = {};
  if (!GetEnvironmentVariableW(L"GORMEK_EXPECT_DPI", expected, 16))
    GTEST_SKIP() << "run through tests/at_dpi.sh";
  const int dpi = static_cast<int>(std::wcstol(expected, nullptr, 10));
  ASSERT_EQ(dpi, static_cast<int>(GetDpiForSystem()));
  g_startWorkerThread = [](std::unique_ptr<WorkerJob>&) { return true; };
  for (const bool update : {false, true}) {
    SCOPED_TRACE(update ? "update layout" : "install layout");
    ResetSetupState();
    test::SetUserString(g_product.settingsKey, L"InstallDir",
                        L"C:\\Games\\Gorm Ek");  // the longest status text
    g_state.updateMode = update;
    g_state.installDir = L"C:\\Games\\Gorm Ek";
    std::vector<std::wstring> problems;
    RECT client = {};
    Run([&] {
      HWND w = WaitForWindow(L"GormEkSetup");
      ASSERT_NE(nullptr, w);
      GetClientRect(w, &client);
      problems = LayoutProblems(w, dpi);
      // The update has "started": a completion closes the window.
      PostMessageW(w, WM_CLOSE, 0, 0);
      PostMessageW(w, WM_SETUP_DONE, 0,
                   reinterpret_cast<LPARAM>(new std::wstring(L"x")));
    });
    EXPECT_EQ(dpi, g_state.dpi);
    EXPECT_EQ(MulDiv(480, dpi, 96), client.right);
    EXPECT_EQ(MulDiv(update ? 150 : 292, dpi, 96), client.bottom);
    EXPECT_EQ(-MulDiv(9, dpi, 72), FontHeight(g_state.normalFont));
    EXPECT_EQ(-MulDiv(13, dpi, 72), FontHeight(g_state.titleFont));
    for (const std::wstring& problem : problems)
      ADD_FAILURE() << test::Narrow(problem);
  }
}

}  // namespace
