/* Holds Wine's desktop open for a test run. The first window a process makes
 * starts explorer.exe /desktop, which ends soon after its last user exits;
 * without a lasting user every test program would pay that start again
 * (about a second). Built and started by the test bench; it sleeps until the
 * wineserver is stopped. */
#include <windows.h>

int main(void) {
  GetDesktopWindow();
  Sleep(INFINITE);
  return 0;
}
