// The command line: the program's only configuration. Options match whole
// arguments, case-sensitively: "/uninstall", "/confirmed", "/relocated", and
// "/update", "/pid", "/site" and "/folder" which take the next argument as
// their value.
#pragma once

#include <string>
#include <vector>

enum class RunMode { kInstall, kUpdate, kUninstall };

struct CommandLineFlags {
  bool uninstall = false;
  bool confirmed = false;  // uninstall without asking
  bool relocated = false;  // already running from a temporary copy
  // "/folder": the folder a relocating uninstall asked about, handed to its
  // temporary copy. Only a relocated run uses it (see UninstallFolder).
  std::wstring handedFolder;
};

// Reads arguments 1 to n-1 (argument 0 is the program path) and writes
// g_state's updateMode, installDir, waitPids and siteUrl. Never fails:
// unknown arguments and value options without a value are ignored.
// An empty "/site" value keeps the site in use.
CommandLineFlags ParseCommandLine(const std::vector<std::wstring>& arguments);

// Uninstall wins over update; update needs "/update" with a value.
RunMode SelectRunMode(const CommandLineFlags& flags);

// Splits the process's own command line with CommandLineToArgvW. A failed
// split gives an empty list.
std::vector<std::wstring> ProcessArguments();
