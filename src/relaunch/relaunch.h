// Running from a temporary copy: a running program can be neither replaced
// nor deleted, so update and uninstall first move out of the game folder.
#pragma once

#include <string>
#include <vector>

// The directory of the running program: everything before the last
// backslash or slash of its path; "." when the path has neither.
std::wstring ProgramDirectory();

// True when ProgramDirectory() equals folder, only ASCII letters A to Z
// folded. No other normalisation: a trailing separator, "/" for "\", a short
// name or a parent folder all differ.
bool IsRunningFromFolder(const std::wstring& folder);

// Copies the program to "<temp>GormEkSetup-<ticks>.exe" and starts the copy
// with `arguments`, then "/relocated /pid <this process>", then "/site" with
// g_state.siteUrl. Each argument is quoted so that the copy's
// CommandLineToArgvW gives back exactly the values handed over. The copy
// starts with the temporary folder as its current directory, so it never
// holds the folder it works on. True when the copy's process started (its
// handles are closed at once); false when the temporary folder is unknown,
// the copy or the start failed.
bool RelaunchFromTempCopy(const std::vector<std::wstring>& arguments);

// The relaunch command line for a copy at copyPath.
std::wstring RelaunchCommandLine(const std::wstring& copyPath,
                                 const std::vector<std::wstring>& arguments,
                                 unsigned long processId);
