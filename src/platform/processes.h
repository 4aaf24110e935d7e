// Waiting for other processes to end.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/unique_handle.h"

// Opens each id for waiting (SYNCHRONIZE), in order; an id that cannot be
// opened (the process is gone, or may not be waited on) gives an empty
// handle in its place.
std::vector<UniqueHandleKernel> OpenProcessesToWaitFor(
    const std::vector<std::uint32_t>& processIds);

// Opens every id first, then waits for each process in turn, at most 30
// seconds apiece; an id that could not be opened is skipped at once. How each
// wait ended is not reported.
void WaitForProcesses(const std::vector<std::uint32_t>& processIds);
