// Every handle, key and COM object is released on every path: after a
// warm-up call (which may load DLLs and fill WinINet's connection pool),
// repeating an operation must not leave handles behind. Wine hands out the
// lowest free handle slots, so when 256 fresh handles are taken at once the
// highest of them lands further along for every handle left open below it.
//
// Each operation runs on a thread of its own, joined before the count, as
// the program's worker thread runs it. The platform keeps state per thread
// that a count on one long-lived thread would take for a leak: Wine's
// ws2_32 creates an event for a thread the first time one of its socket
// calls has to wait (a busy machine, a slow answer), and keeps it until the
// thread ends. That one handle, made during the 20 measured calls, failed
// this test now and then.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "integration/registration.h"
#include "pipeline/version.h"
#include "platform/sizes.h"
#include "integration/shortcuts.h"
#include "transfer/http_download.h"
#include "transfer/unpack.h"
#include "test_support.h"

namespace {

HANDLE HandleWatermark() {
  HANDLE handles[256];
  HANDLE highest = nullptr;
  for (HANDLE& h : handles) {
    h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (h > highest)
      highest = h;
  }
  for (HANDLE h : handles)
    CloseHandle(h);
  return highest;
}

// Runs op on a new thread with COM set up, as the worker's, and waits for
// the thread to end: what the platform keeps per thread is gone by then.
// A system thread, not std::thread: the thread library keeps records of
// ended threads for reuse, with an event in each, and makes a new one now
// and then.
void OnThreadOfItsOwn(const std::function<void()>& op) {
  const auto run = [](void* arg) -> DWORD {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (*static_cast<const std::function<void()>*>(arg))();
    CoUninitialize();
    return 0;
  };
  HANDLE thread = CreateThread(
      nullptr, 0, run, const_cast<std::function<void()>*>(&op), 0, nullptr);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

void ExpectNoLeak(const char* name, const std::function<void()>& op) {
  SCOPED_TRACE(name);
  OnThreadOfItsOwn(op);
  OnThreadOfItsOwn(op);
  const HANDLE before = HandleWatermark();
  for (int i = 0; i < 20; ++i)
    OnThreadOfItsOwn(op);
  EXPECT_EQ(before, HandleWatermark());
}

class HandlesTest : public test::StateTest {};

TEST_F(HandlesTest, OperationsLeaveNoHandleBehind) {
  test::ScratchDir dir;
  const std::wstring site = test::SiteUrl();
  test::WriteSiteFile(L"leak.bin", test::PatternBytes(200000));
  const std::wstring file = dir.path() + L"\\leak.bin";
  std::wstring error;
  ExpectNoLeak("download to memory", [&] {
    std::string body;
    HttpDownload(site + L"leak.bin", &body, L"", {}, error);
  });
  ExpectNoLeak("download to a file", [&] {
    HttpDownload(site + L"leak.bin", nullptr, file, {}, error);
  });
  ExpectNoLeak("download 404", [&] {
    HttpDownload(site + L"_f/status-404/leak.bin", nullptr, file, {}, error);
  });
  ExpectNoLeak("download cancelled", [&] {
    HttpDownload(
        site + L"leak.bin", nullptr, file,
        [](std::int64_t, std::int64_t) { return false; }, error);
  });
  ExpectNoLeak("download refused", [&] {
    HttpDownload(test::RefusingUrl(), nullptr, file, {}, error);
  });
  const std::wstring dest = dir.path() + L"\\Gorm Ek";
  CreateDirectoryW(dest.c_str(), nullptr);
  ExpectNoLeak("unpack", [&] {
    UnpackPackage(test::TestPackage(L"v1.zip"), dest, error);
  });
  ExpectNoLeak("unpack corrupt", [&] {
    UnpackPackage(test::TestPackage(L"corrupt.zip"), dest, error);
  });
  ExpectNoLeak("register",
               [&] { RegisterInstallation(dest, FormatVersion(42)); });
  ExpectNoLeak("folder size", [&] { FolderSize(dir.path()); });
  ExpectNoLeak("shortcut", [&] {
    CreateShortcut(dir.path() + L"\\x.lnk", dest + L"\\Gorm Ek.exe", dest);
  });
  ExpectNoLeak("shortcut paths", [&] {
    StartMenuShortcutPath();
    DesktopShortcutPath();
  });
}

}  // namespace
