#include "transfer/wininet_api.h"

#include "platform/unique_handle.h"

namespace {

template <typename F>
bool Resolve(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

WinInetApi g_api;
const WinInetApi* g_loaded = nullptr;
INIT_ONCE g_loadOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK Load(INIT_ONCE*, void*, void**) {
  // LOAD_LIBRARY_SEARCH_SYSTEM32 never looks in the program's own folder or
  // the current directory.
  UniqueModule module(
      LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module)
    return TRUE;
  const HMODULE m = module.get();
  const bool ok =
      Resolve(m, "InternetOpenW", g_api.InternetOpenW) &&
      Resolve(m, "InternetOpenUrlW", g_api.InternetOpenUrlW) &&
      Resolve(m, "HttpQueryInfoW", g_api.HttpQueryInfoW) &&
      Resolve(m, "InternetReadFile", g_api.InternetReadFile) &&
      Resolve(m, "InternetCloseHandle", g_api.InternetCloseHandle) &&
      Resolve(m, "InternetSetOptionW", g_api.InternetSetOptionW);
  if (!ok)
    return TRUE;
  // The functions are used until the process ends: the module stays loaded.
  module.release();
  g_loaded = &g_api;
  return TRUE;
}

}  // namespace

const WinInetApi* LoadWinInet() {
  // Loaded once, also when two threads ask at the same time. The system's
  // one-time initialisation, not a function-local static: the C++ runtime's
  // thread-safe statics would bring a whole threads library into the exe.
  InitOnceExecuteOnce(&g_loadOnce, Load, nullptr, nullptr);
  return g_loaded;
}
