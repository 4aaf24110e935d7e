#include "removal/relocation.h"

#include <windows.h>

#include "platform/paths.h"
#include "removal/for_testing.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "startup/setup_state.h"

std::wstring ProgramDirectory() {
  const std::wstring path = OwnExecutablePath();
  const std::size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos)
    return L".";
  return path.substr(0, last);
}

bool IsRunningFromFolder(const std::wstring& folder) {
  return EqualsAsciiNoCase(ProgramDirectory(), folder);
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

std::wstring RelaunchCommandLine(const std::wstring& copyPath,
                                 const std::vector<std::wstring>& arguments,
                                 unsigned long processId) {
  std::wstring line = L"\"" + copyPath + L"\"";
  for (const std::wstring& argument : arguments)
    line += L" " + QuoteArgument(argument);
  line += L" /relocated /pid " + UnsignedToWide(processId);
  line += L" /site " + QuoteArgument(g_state.siteUrl);
  return line;
}

bool RelaunchFromTempCopy(const std::vector<std::wstring>& arguments) {
  const std::wstring ticks = UnsignedToWide(GetTickCount64());
  const std::wstring temp = TempFolder();
  if (temp.empty())
    return false;
  const std::wstring copyPath = temp + L"GormEkSetup-" + ticks + L".exe";
  if (!CopyFileW(OwnExecutablePath().c_str(), copyPath.c_str(), FALSE))
    return false;

  const std::wstring line =
      RelaunchCommandLine(copyPath, arguments, GetCurrentProcessId());
  std::wstring writable = line;  // CreateProcessW may write into it
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // The copy works in the temporary folder: a current directory inherited
  // from this run (a console opened in the game folder, a launcher that
  // starts us from there) would hold the very folder it is to delete.
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, temp.c_str(), &startup, &info)) {
    return false;
  }
  UniqueHandleKernel process(info.hProcess);
  UniqueHandleKernel thread(info.hThread);
  return true;
}
