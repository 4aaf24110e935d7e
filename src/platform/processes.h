// Starting other processes, and waiting for them to end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/unique_handle.h"

// Opens every id first (SYNCHRONIZE), then waits for each process in turn,
// at most 30 seconds apiece; an id that could not be opened (the process is
// gone, or may not be waited on) is skipped at once. How each wait ended is
// not reported.
void WaitForProcesses(const std::vector<std::uint32_t>& processIds);

// One argument in double quotes, escaped the way CommandLineToArgvW reads it
// back: backslashes before a quote (and before the closing quote) doubled,
// quotes escaped. A value without quotes or trailing backslashes is only
// enclosed in quotes.
std::wstring QuoteArgument(const std::wstring& value);

// Starts commandLine (the program's path first, quoted, then its arguments
// as the caller quoted them) with CreateProcessW: no handles inherited,
// creationFlags as given, currentDirectory as its current directory ("" for
// this process's own). Returns the new process's handle, which the caller
// owns (the thread's is closed); empty when it could not be started.
UniqueHandleKernel StartProcess(const std::wstring& commandLine,
                                unsigned long creationFlags,
                                const std::wstring& currentDirectory);
