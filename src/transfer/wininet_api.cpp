#include "transfer/wininet_api.h"

#include "platform/unique_handle.h"

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
  UniqueModule module(
      LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module)
    return nullptr;
  const HMODULE m = module.get();
  const bool ok = Resolve(m, "InternetOpenW", api.InternetOpenW) &&
                  Resolve(m, "InternetOpenUrlW", api.InternetOpenUrlW) &&
                  Resolve(m, "HttpQueryInfoW", api.HttpQueryInfoW) &&
                  Resolve(m, "InternetReadFile", api.InternetReadFile) &&
                  Resolve(m, "InternetCloseHandle", api.InternetCloseHandle);
  if (!ok)
    return nullptr;
  // The functions are used until the process ends: the module stays loaded.
  module.release();
  return &api;
}

}  // namespace

const WinInetApi* LoadWinInet() {
  // A function-local static is initialised once, even with two threads.
  static const WinInetApi* const api = Load();
  return api;
}
