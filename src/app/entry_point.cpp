#include "app/entry_point.h"

#include <objbase.h>

#include <new>

#include "core/failure_texts.h"
#include "platform/scope_guard.h"
#include "platform/text.h"
#include "relaunch/relaunch.h"
#include "relaunch/stale_copies.h"
#include "removal/uninstall.h"
#include "app/command_line.h"
#include "core/install_dir.h"
#include "core/setup_state.h"
#include "window/setup_window.h"

std::vector<std::wstring> UpdateRelaunchArguments() {
  std::vector<std::wstring> arguments = {L"/update", g_state.installDir};
  for (const std::uint32_t pid : g_state.waitPids) {
    arguments.push_back(L"/pid");
    arguments.push_back(UnsignedToWide(pid));
  }
  return arguments;
}

namespace {

int RunOneMode(HINSTANCE instance, const wchar_t*& failureTitle) {
  const CommandLineFlags flags = ParseCommandLine(ProcessArguments());
  RemoveStaleTempCopies();
  RemoveLeftoverPackages();

  switch (SelectRunMode(flags)) {
    case RunMode::kUninstall:
      failureTitle = L"Uninstall Gorm Ek";
      return RunUninstall(flags.confirmed, flags.relocated, flags.handedFolder);
    case RunMode::kUpdate:
      failureTitle = L"Gorm Ek";
      // The copy does the update; this process ends without a window.
      if (!flags.relocated && IsRunningFromFolder(g_state.installDir) &&
          RelaunchFromTempCopy(UpdateRelaunchArguments())) {
        return 0;
      }
      return RunSetupWindow(instance);
    case RunMode::kInstall:
      SetDefaultInstallDir();
      return RunSetupWindow(instance);
  }
  return 0;
}

}  // namespace

int RunProgram(HINSTANCE instance) {
  // Before any window exists; the result does not matter.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // On every path, whatever the mode returns and whether or not COM started.
  ScopeGuard uninitialize([] { CoUninitialize(); });

  // The window procedure and the worker catch their own exceptions; what is
  // left is start-up (the command line, the default folder, the window's
  // construction) and the uninstall. Out of memory there ends the run with
  // one sentence, like any failure, and the exit code stays 0.
  const wchar_t* failureTitle = L"Gorm Ek Setup";
  try {
    return RunOneMode(instance, failureTitle);
  } catch (const std::bad_alloc&) {
    MessageBoxW(nullptr, kOutOfMemoryText, failureTitle, MB_OK | MB_ICONERROR);
  } catch (...) {
    MessageBoxW(nullptr, kUnexpectedFailureText, failureTitle,
                MB_OK | MB_ICONERROR);
  }
  return 0;
}
