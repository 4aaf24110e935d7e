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
    std::int64_t replaced;  // a package file of that name, about to go
    const wchar_t* starts;  // null: there is room
    const wchar_t* needs;
  };
  const Case cases[] = {
      {"room on one drive", temp, dir.path(), 1024 * 1024, 0, nullptr, nullptr},
      {"no declared size", temp, dir.path(), -1, 0, nullptr, nullptr},
      // The file it replaces frees its space first.
      {"a package of that name is replaced", temp, dir.path(), kHuge / 2, kHuge,
       nullptr, nullptr},
      // One drive holds both: twice the package is needed there.
      {"one drive", temp, dir.path(), kHuge / 2, 0,
       L"There is not enough free space in\n",
       L"\nThe download and Gorm Ek "
       L"together need 1099511627776 "
       L"MB, and "},
      // What is needed rounds up, what is free down: never "need 1000 MB,
      // and 1000 MB are free".
      {"temporary folder on another drive", otherDrive, dir.path(), kHuge + 1,
       0, L"There is not enough free space in\nZ:\\tmp\n",
       L"\nThe download needs 1099511627777 MB, and "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring error;
    const bool ok =
        CheckRoomForPackage(c.temp, c.install, c.package, c.replaced, error);
    EXPECT_EQ(c.starts == nullptr, ok) << test::Narrow(error);
    if (c.starts) {
      EXPECT_EQ(0u, error.rfind(c.starts, 0)) << test::Narrow(error);
      EXPECT_NE(std::wstring::npos, error.find(c.needs)) << test::Narrow(error);
      EXPECT_NE(std::wstring::npos, error.find(L" MB are free."));
    }
  }
}

}  // namespace
