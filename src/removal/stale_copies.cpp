#include "removal/stale_copies.h"

#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

void RemoveStaleTempCopies() {
  const std::wstring own = OwnExecutablePath();
  const std::wstring temp = TempFolder();
  if (temp.empty())
    return;
  WIN32_FIND_DATAW entry;
  UniqueFind find(
      FindFirstFileW((temp + L"GormEkSetup-*.exe").c_str(), &entry));
  if (!find)
    return;
  do {
    // The folder searched, not a fresh lookup that could come back empty
    // and turn the candidate into a path relative to the current folder.
    const std::wstring candidate = temp + entry.cFileName;
    if (!EqualsAsciiNoCase(candidate, own))
      DeleteFileW(candidate.c_str());
  } while (FindNextFileW(find.get(), &entry));
}
