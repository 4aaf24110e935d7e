#include "core/setup_state.h"

#include "site_config.h"

const ProductInfo g_product = {
    L"Gorm Ek",
    L"Gorm Ek.exe",
    L"GormEkSetup.exe",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GormEk",
    L"Software\\GormEk",
    L"GormEkSetup.record",
    L"GormEkSetup.lock",
};

const wchar_t* const kDefaultSiteUrl = GORMEK_DEFAULT_SITE_URL;
const wchar_t* const kDefaultSiteHost = GORMEK_DEFAULT_SITE_HOST;

SetupState g_state;
