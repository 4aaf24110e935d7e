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

std::wstring QuoteArgument(const std::wstring& value) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : value) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      // 2n backslashes give n; the escaped quote needs one more.
      out.append(backslashes * 2 + 1, L'\\');
      out += L'"';
    } else {
      out.append(backslashes, L'\\');
      out += c;
    }
    backslashes = 0;
  }
  // Before the closing quote, backslashes must be doubled to stay literal.
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

UniqueHandleKernel StartProcess(const std::wstring& commandLine,
                                unsigned long creationFlags,
                                const std::wstring& currentDirectory) {
  // CreateProcessW may write into the command line it is given.
  std::wstring writable = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(
          nullptr, writable.data(), nullptr, nullptr, FALSE, creationFlags,
          nullptr,
          currentDirectory.empty() ? nullptr : currentDirectory.c_str(),
          &startup, &info)) {
    return UniqueHandleKernel();
  }
  UniqueHandleKernel thread(info.hThread);
  return UniqueHandleKernel(info.hProcess);
}
