#include "relaunch/relaunch.h"

#include <windows.h>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/processes.h"
#include "core/setup_state.h"

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

  // The copy works in the temporary folder: a current directory inherited
  // from this run (a console opened in the game folder, a launcher that
  // starts us from there) would hold the very folder it is to delete.
  return static_cast<bool>(StartProcess(
      RelaunchCommandLine(copyPath, arguments, GetCurrentProcessId()), 0,
      temp));
}
