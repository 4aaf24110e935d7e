#include "app/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <limits>

#include "platform/text.h"
#include "core/install_dir.h"
#include "core/setup_state.h"

namespace {

// "/pid" values convert like wcstol into a signed 32-bit number (saturating),
// then are stored as an unsigned id: "-1" becomes 4294967295.
std::uint32_t PidFromText(const std::wstring& text) {
  const std::int64_t value = ParseDecimalSaturating(
      std::wstring_view(text), std::numeric_limits<std::int32_t>::min(),
      std::numeric_limits<std::int32_t>::max());
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

}  // namespace

CommandLineFlags ParseCommandLine(const std::vector<std::wstring>& arguments) {
  CommandLineFlags flags;
  const std::size_t count = arguments.size();
  for (std::size_t i = 1; i < count; ++i) {
    const std::wstring& arg = arguments[i];
    const bool hasValue = i + 1 < count;
    if (arg == L"/uninstall") {
      flags.uninstall = true;
    } else if (arg == L"/confirmed") {
      flags.confirmed = true;
    } else if (arg == L"/relocated") {
      flags.relocated = true;
    } else if (arg == L"/update" && hasValue) {
      g_state.updateMode = true;
      g_state.installDir = NormalizeInstallDir(arguments[++i]);
    } else if (arg == L"/pid" && hasValue) {
      g_state.waitPids.push_back(PidFromText(arguments[++i]));
    } else if (arg == L"/folder" && hasValue) {
      flags.handedFolder = arguments[++i];
    } else if (arg == L"/site" && hasValue) {
      const std::wstring& value = arguments[++i];
      // An empty value names no site at all; the site in use stays.
      if (!value.empty()) {
        g_state.siteUrl = value;
        if (g_state.siteUrl.back() != L'/')
          g_state.siteUrl += L'/';
      }
    }
  }
  return flags;
}

RunMode SelectRunMode(const CommandLineFlags& flags) {
  if (flags.uninstall)
    return RunMode::kUninstall;
  if (g_state.updateMode)
    return RunMode::kUpdate;
  return RunMode::kInstall;
}

std::vector<std::wstring> ProcessArguments() {
  std::vector<std::wstring> result;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv)
    return result;
  for (int i = 0; i < count; ++i)
    result.emplace_back(argv[i]);
  LocalFree(argv);
  return result;
}
