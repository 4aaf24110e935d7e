#include <windows.h>

#include "app/entry_point.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything else: DLLs load from System32 only, never from the
  // folder of a downloaded setup program or the current directory.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return RunProgram(instance);
}
