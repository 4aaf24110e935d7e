// A console front end to HttpDownload for benchmarks:
//   download_tool URL FILE   downloads URL into FILE, exit code 0 on success.
#include <windows.h>

#include <cstdio>
#include <string>

#include "transfer/http_download.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: download_tool URL FILE\n");
    return 2;
  }
  std::wstring error;
  std::int64_t chunks = 0;
  const bool ok = HttpDownload(
      argv[1], nullptr, argv[2],
      [&](std::int64_t, std::int64_t) {
        ++chunks;
        return true;
      },
      error);
  if (!ok) {
    fwprintf(stderr, L"%ls\n", error.c_str());
    return 1;
  }
  wprintf(L"chunks %lld\n", static_cast<long long>(chunks));
  return 0;
}
