#include "platform/processes.h"

#include <windows.h>

#include "platform/unique_handle.h"

namespace {
constexpr DWORD kWaitPerProcessMs = 30000;
}

void WaitForProcesses(const std::vector<std::uint32_t>& processIds) {
  for (const std::uint32_t pid : processIds) {
    UniqueHandleKernel process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (process)
      WaitForSingleObject(process.get(), kWaitPerProcessMs);
  }
}
