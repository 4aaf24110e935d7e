// Waiting for other processes to end.
#pragma once

#include <cstdint>
#include <vector>

// Opens every id first (SYNCHRONIZE), then waits for each process in turn,
// at most 30 seconds apiece; an id that could not be opened (the process is
// gone, or may not be waited on) is skipped at once. How each wait ended is
// not reported.
void WaitForProcesses(const std::vector<std::uint32_t>& processIds);
