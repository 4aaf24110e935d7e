// The room check before a package download, on the prefix's real drives.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pipeline/room_check.h"
#include "platform/paths.h"
#include "test_support.h"

namespace {

constexpr std::int64_t kHuge = std::int64_t{1} << 60;  // 1 EiB: never free

TEST(RoomCheck, NamesTheFolderWhatIsNeededAndWhatIsFree) {
  test::ScratchDir dir;  // on C:, like the temporary folder
  const std::wstring temp = TempFolder();
  const std::wstring otherDrive = L"Z:\\tmp";
  struct Case {
    const char* name;
    std::wstring temp;
    std::wstring install;
    std::int64_t package;
    const wchar_t* starts;  // null: there is room
    const wchar_t* needs;
  };
  const Case cases[] = {
      {"room on one drive", temp, dir.path(), 1024 * 1024, nullptr, nullptr},
      {"no declared size", temp, dir.path(), -1, nullptr, nullptr},
      // One drive holds both: twice the package is needed there.
      {"one drive", temp, dir.path(), kHuge / 2,
       L"There is not enough free space in\n",
       L"\nThe download and Gorm Ek "
       L"together need 1099511627776 "
       L"MB, and "},
      {"temporary folder on another drive", otherDrive, dir.path(), kHuge,
       L"There is not enough free space in\nZ:\\tmp\n",
       L"\nThe download needs 1099511627776 MB, and "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring error;
    const bool ok = CheckRoomForPackage(c.temp, c.install, c.package, error);
    EXPECT_EQ(c.starts == nullptr, ok) << test::Narrow(error);
    if (c.starts) {
      EXPECT_EQ(0u, error.rfind(c.starts, 0)) << test::Narrow(error);
      EXPECT_NE(std::wstring::npos, error.find(c.needs)) << test::Narrow(error);
      EXPECT_NE(std::wstring::npos, error.find(L" MB are free."));
    }
  }
}

}  // namespace
