// Test entry point. The tests run under Wine against the real Win32 API in
// the test bench's prefix.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  // Helper processes for the tests that wait for other processes, both
  // exiting with code 7: "--sleep-ms N" sleeps N milliseconds, and
  // "--wait-event NAME" runs until the test sets the named event (a minute
  // at most).
  if (argc == 3 && std::strcmp(argv[1], "--sleep-ms") == 0) {
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    return 7;
  }
  if (argc == 3 && std::strcmp(argv[1], "--wait-event") == 0) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
    if (event) {
      WaitForSingleObject(event, 60000);
      CloseHandle(event);
    }
    return 7;
  }
  testing::InitGoogleTest(&argc, argv);
  // The shortcut code needs COM on the calling thread, as the worker gives it.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
