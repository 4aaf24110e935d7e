#include "startup/setup_state.h"

#include "startup/for_testing.h"
#include "site_config.h"

const ProductInfo g_product = {
    L"Gorm Ek",
    L"Gorm Ek.exe",
    L"GormEkSetup.exe",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GormEk",
    L"Software\\GormEk",
};

const wchar_t* const kDefaultSiteUrl = GORMEK_DEFAULT_SITE_URL;
const wchar_t* const kDefaultSiteHost = GORMEK_DEFAULT_SITE_HOST;

SetupState g_state;

void ResetSetupState() {
  g_state.updateMode = false;
  g_state.installDir.clear();
  g_state.waitPids.clear();
  g_state.siteUrl = kDefaultSiteUrl;
  g_state.mainWindow = g_state.folderEdit = g_state.browseButton = nullptr;
  g_state.startMenuCheck = g_state.desktopCheck = g_state.launchCheck = nullptr;
  g_state.statusLabel = g_state.progressBar = nullptr;
  g_state.installButton = g_state.cancelButton = nullptr;
  g_state.normalFont = g_state.titleFont = nullptr;
  g_state.dpi = 96;
  g_state.lastFocus = g_state.focusBeforeRun = nullptr;
  g_state.cancelRequested.store(false);
  g_state.workerRunning = g_state.finished = g_state.cancelPending = false;
}
