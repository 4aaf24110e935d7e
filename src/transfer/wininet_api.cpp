#include "transfer/wininet_api.h"

namespace {

template <typename F>
bool Resolve(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

const WinInetApi* Load() {
  static WinInetApi api;
  // LOAD_LIBRARY_SEARCH_SYSTEM32 never looks in the program's own folder or
  // the current directory.
  HMODULE module =
      LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module)
    return nullptr;
  const bool ok = Resolve(module, "InternetOpenW", api.InternetOpenW) &&
                  Resolve(module, "InternetOpenUrlW", api.InternetOpenUrlW) &&
                  Resolve(module, "HttpQueryInfoW", api.HttpQueryInfoW) &&
                  Resolve(module, "InternetReadFile", api.InternetReadFile) &&
                  Resolve(module, "InternetCloseHandle",
                          api.InternetCloseHandle);
  if (!ok) {
    FreeLibrary(module);
    return nullptr;
  }
  // The module stays loaded for the life of the process.
  return &api;
}

}  // namespace

const WinInetApi* LoadWinInet() {
  // A function-local static is initialised once, even with two threads.
  static const WinInetApi* const api = Load();
  return api;
}
