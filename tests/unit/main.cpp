// Test entry point. The tests run under Wine against the real Win32 API in
// the test bench's prefix.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  // A helper process for the tests that wait for other processes:
  // "--sleep-ms N" sleeps N milliseconds and exits with code 7.
  if (argc == 3 && std::strcmp(argv[1], "--sleep-ms") == 0) {
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    return 7;
  }
  testing::InitGoogleTest(&argc, argv);
  // The shortcut code needs COM on the calling thread, as the worker gives it.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
