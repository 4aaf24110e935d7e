#include "startup/entry_point.h"

#include <objbase.h>

#include "platform/scope_guard.h"
#include "platform/text.h"
#include "removal/relocation.h"
#include "removal/stale_copies.h"
#include "removal/uninstall.h"
#include "startup/command_line.h"
#include "startup/install_dir.h"
#include "startup/setup_state.h"
#include "window/setup_window.h"

std::vector<std::wstring> UpdateRelaunchArguments() {
  std::vector<std::wstring> arguments = {L"/update", g_state.installDir};
  for (const std::uint32_t pid : g_state.waitPids) {
    arguments.push_back(L"/pid");
    arguments.push_back(UnsignedToWide(pid));
  }
  return arguments;
}

int RunProgram(HINSTANCE instance) {
  // Before any window exists; the result does not matter.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // On every path, whatever the mode returns and whether or not COM started.
  ScopeGuard uninitialize([] { CoUninitialize(); });

  const CommandLineFlags flags = ParseCommandLine(ProcessArguments());
  RemoveStaleTempCopies();

  int exitCode = 0;
  switch (SelectRunMode(flags)) {
    case RunMode::kUninstall:
      exitCode = RunUninstall(flags.confirmed, flags.relocated);
      break;
    case RunMode::kUpdate:
      // The copy does the update; this process ends without a window.
      if (!flags.relocated && IsRunningFromFolder(g_state.installDir) &&
          RelaunchFromTempCopy(UpdateRelaunchArguments())) {
        break;
      }
      exitCode = RunSetupWindow(instance);
      break;
    case RunMode::kInstall:
      SetDefaultInstallDir();
      exitCode = RunSetupWindow(instance);
      break;
  }

  return exitCode;
}
