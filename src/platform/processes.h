// Waiting for other processes to end.
#pragma once

#include <cstdint>
#include <vector>

// Waits for each process id in turn, at most 30 seconds apiece; an id that
// cannot be opened (the process is gone, or may not be waited on) is skipped
// at once. How each wait ended is not reported.
void WaitForProcesses(const std::vector<std::uint32_t>& processIds);
