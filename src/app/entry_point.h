// Start-up and mode dispatch: everything wWinMain does after it has made the
// process load DLLs from System32 only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Makes the process system-DPI-aware, initialises COM, parses the command
// line, sweeps stale temporary copies and runs exactly one mode: uninstall;
// update (relaunched from a temporary copy when running from the install
// folder, else the window); or install (the default folder, then the
// window). Returns the exit code: 0 on every path.
int RunProgram(HINSTANCE instance);

// The arguments an update hands to its temporary copy: "/update", the
// folder, then "/pid" and each id of g_state.waitPids as unsigned decimal.
std::vector<std::wstring> UpdateRelaunchArguments();
