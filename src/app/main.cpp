#include <windows.h>

#include "startup/command_line.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ParseCommandLine(ProcessArguments());
  return 0;
}
