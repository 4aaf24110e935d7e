// RegisterInstallation and FolderSize against the prefix's real registry and
// file system.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration/registration.h"
#include "pipeline/version.h"
#include "platform/sizes.h"
#include "core/setup_state.h"
#include "test_support.h"

namespace {

struct Value {
  DWORD type = 0;
  std::vector<BYTE> data;
  bool present = false;
};

Value ReadValue(const wchar_t* key, const wchar_t* name) {
  Value v;
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
    return v;
  DWORD bytes = 0;
  if (RegQueryValueExW(h, name, nullptr, &v.type, nullptr, &bytes) ==
      ERROR_SUCCESS) {
    v.data.resize(bytes);
    RegQueryValueExW(h, name, nullptr, &v.type, v.data.data(), &bytes);
    v.present = true;
  }
  RegCloseKey(h);
  return v;
}

// A REG_SZ stored with its terminator: the exact bytes of text + NUL.
void ExpectString(const wchar_t* key,
                  const wchar_t* name,
                  const std::wstring& text) {
  SCOPED_TRACE(test::Narrow(name));
  const Value v = ReadValue(key, name);
  ASSERT_TRUE(v.present);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type);
  std::vector<BYTE> expected((text.size() + 1) * sizeof(wchar_t), 0);
  memcpy(expected.data(), text.c_str(), text.size() * sizeof(wchar_t));
  EXPECT_EQ(expected, v.data);
}

void ExpectDword(const wchar_t* key, const wchar_t* name, DWORD value) {
  SCOPED_TRACE(test::Narrow(name));
  const Value v = ReadValue(key, name);
  ASSERT_TRUE(v.present);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), v.type);
  ASSERT_EQ(4u, v.data.size());
  DWORD got = 0;
  memcpy(&got, v.data.data(), 4);
  EXPECT_EQ(value, got);
}

// Value names as the registry enumerates them.
std::vector<std::wstring> ValueNames(const wchar_t* key) {
  std::vector<std::wstring> names;
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
    return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD len = 256;
    if (RegEnumValueW(h, i, name, &len, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, len);
  }
  RegCloseKey(h);
  return names;
}

class RegistrationTest : public test::StateTest {};

TEST_F(RegistrationTest, EveryValueWithTypeAndExactData) {
  // The folder need not exist: its size is then 0.
  const std::wstring dir = L"D:\\Games\\Gorm Ek";
  RegisterInstallation(dir, FormatVersion(42));
  const wchar_t* u = g_product.uninstallKey;
  ExpectString(u, L"DisplayName", L"Gorm Ek");
  ExpectString(u, L"DisplayVersion", L"0042");
  ExpectString(u, L"InstallLocation", dir);
  ExpectString(u, L"DisplayIcon", L"D:\\Games\\Gorm Ek\\Gorm Ek.exe");
  ExpectString(u, L"UninstallString",
               L"\"D:\\Games\\Gorm Ek\\GormEkSetup.exe\" /uninstall");
  ExpectDword(u, L"NoModify", 1);
  ExpectDword(u, L"NoRepair", 1);
  ExpectDword(u, L"EstimatedSize", 0);
  // Nothing else is written (the registry lists the names sorted).
  EXPECT_EQ(
      (std::vector<std::wstring>{
          L"DisplayIcon", L"DisplayName", L"DisplayVersion", L"EstimatedSize",
          L"InstallLocation", L"NoModify", L"NoRepair", L"UninstallString"}),
      ValueNames(u));
  const wchar_t* s = g_product.settingsKey;
  ExpectString(s, L"InstallDir", dir);
  ExpectString(s, L"Version", L"0042");
  EXPECT_EQ((std::vector<std::wstring>{L"InstallDir", L"Version"}),
            ValueNames(s));
}

TEST_F(RegistrationTest, LongVersionsAreWrittenInFull) {
  RegisterInstallation(L"C:\\G\\Gorm Ek", FormatVersion(123456));
  ExpectString(g_product.uninstallKey, L"DisplayVersion", L"123456");
  ExpectString(g_product.settingsKey, L"Version", L"123456");
}

TEST_F(RegistrationTest, ReinstallRewritesAndKeepsUnknownValues) {
  test::ScratchDir dir;
  test::WriteFileBytes(dir.path() + L"\\Gorm Ek.exe", std::string(3000, 'x'));
  test::SetUserString(g_product.uninstallKey, L"Publisher", L"Someone");
  test::SetUserString(g_product.settingsKey, L"Language", L"de");
  RegisterInstallation(L"C:\\Old\\Gorm Ek", FormatVersion(1));
  RegisterInstallation(dir.path(), FormatVersion(2));
  ExpectString(g_product.uninstallKey, L"Publisher", L"Someone");
  ExpectString(g_product.settingsKey, L"Language", L"de");
  ExpectString(g_product.uninstallKey, L"InstallLocation", dir.path());
  ExpectString(g_product.uninstallKey, L"DisplayVersion", L"0002");
  ExpectString(g_product.settingsKey, L"InstallDir", dir.path());
  ExpectDword(g_product.uninstallKey, L"EstimatedSize", 2);
  // A later file is counted on the next run.
  test::WriteFileBytes(dir.path() + L"\\left over.dat", std::string(5000, 'y'));
  RegisterInstallation(dir.path(), FormatVersion(3));
  ExpectDword(g_product.uninstallKey, L"EstimatedSize", 7);
}

// A key of the same name that cannot be opened for writing stands in for a
// refused Uninstall key: the settings key is still written.
TEST_F(RegistrationTest, RefusedUninstallKeyStillWritesSettings) {
  HKEY h = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_CURRENT_USER, g_product.uninstallKey, 0,
                            nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &h, nullptr));
  // Deny everyone everything on the key.
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  ACL acl;
  InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
  const LSTATUS denied = RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(h);
  HKEY probe = nullptr;
  const bool refused = denied == ERROR_SUCCESS &&
                       RegOpenKeyExW(HKEY_CURRENT_USER, g_product.uninstallKey,
                                     0, KEY_WRITE, &probe) != ERROR_SUCCESS;
  if (probe)
    RegCloseKey(probe);
  if (!refused)
    GTEST_SKIP() << "this Wine does not enforce registry key security";
  RegisterInstallation(L"C:\\G\\Gorm Ek", FormatVersion(5));
  ExpectString(g_product.settingsKey, L"InstallDir", L"C:\\G\\Gorm Ek");
  ExpectString(g_product.settingsKey, L"Version", L"0005");
}

TEST(FolderSize, CountsEveryFileButNoFolders) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::wstring, std::size_t>> files;
    std::uint64_t bytes;
  };
  const Case cases[] = {
      {"empty", {}, 0},
      {"1023 bytes", {{L"a", 1000}, {L"b", 23}}, 1023},
      {"1024 bytes", {{L"a", 1024}}, 1024},
      {"nested, dot and hidden files",
       {{L"x\\y\\z\\deep.bin", 70000},
        {L".hidden dir\\.dot", 10},
        {L".leading", 5},
        {L"hidden.sys", 100}},
       70115},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    for (const auto& [rel, size] : c.files) {
      std::wstring path = dir.path();
      std::size_t start = 0;
      for (std::size_t slash;
           (slash = rel.find(L'\\', start)) != std::wstring::npos;
           start = slash + 1) {
        path = dir.path() + L"\\" + rel.substr(0, slash);
        CreateDirectoryW(path.c_str(), nullptr);
      }
      test::WriteFileBytes(dir.path() + L"\\" + rel, std::string(size, 'q'));
    }
    SetFileAttributesW((dir.path() + L"\\hidden.sys").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(c.bytes, FolderSize(dir.path()));
    SetFileAttributesW((dir.path() + L"\\hidden.sys").c_str(),
                       FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(FolderSize, MissingFolderIsZero) {
  EXPECT_EQ(0u, FolderSize(L"C:\\no such folder\\Gorm Ek"));
}

// make_test_packages.py made linkloop/sub/loop, a link to linkloop itself.
TEST(FolderSize, LinkBackToAnAncestorIsNotFollowed) {
  const std::wstring dir = test::TestPackage(L"linkloop");
  const DWORD a = GetFileAttributesW((dir + L"\\sub\\loop").c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, a);
  EXPECT_TRUE(a & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(a & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(2048u, FolderSize(dir));
}

}  // namespace
