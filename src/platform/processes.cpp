#include "platform/processes.h"

#include <windows.h>

#include "platform/unique_handle.h"

namespace {
constexpr DWORD kWaitPerProcessMs = 30000;
}

void WaitForProcesses(const std::vector<std::uint32_t>& processIds) {
  // Every id is opened before the first wait: an open handle keeps its
  // process's id from being given to a new, unrelated process while an
  // earlier one is waited for. An id that cannot be opened leaves an empty
  // handle in its place.
  std::vector<UniqueHandleKernel> handles;
  handles.reserve(processIds.size());
  for (const std::uint32_t pid : processIds)
    handles.emplace_back(OpenProcess(SYNCHRONIZE, FALSE, pid));
  for (const UniqueHandleKernel& process : handles) {
    if (process)
      WaitForSingleObject(process.get(), kWaitPerProcessMs);
  }
}
