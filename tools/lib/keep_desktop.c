/* Holds Wine's desktop open for a test run. The first window a process makes
 * starts explorer.exe /desktop, which ends soon after its last user goes;
 * without a lasting user every test program would pay that start again
 * (about a second). This user owns one hidden window and waits for messages
 * until the wineserver is stopped. Built and started by the test bench. */
#include <windows.h>

int main(void) {
  MSG msg;
  CreateWindowExW(0, L"STATIC", L"gormek-keep-desktop", WS_POPUP, 0, 0, 1, 1,
                  NULL, NULL, GetModuleHandleW(NULL), NULL);
  while (GetMessageW(&msg, NULL, 0, 0) > 0)
    DispatchMessageW(&msg);
  return 0;
}
