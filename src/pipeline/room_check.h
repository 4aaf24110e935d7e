// Whether the disks have room for a package before its download starts.
#pragma once

#include <cstdint>
#include <string>

// True when the temporary folder's drive can hold the package (packageBytes)
// and the install folder's drive can hold as much again for the unpacked
// game; on one drive both amounts are needed there. Free space is what
// GetDiskFreeSpaceExW gives this user (quotas included); a folder whose free
// space cannot be read is not checked. replacedBytes is space the download
// frees on the temporary folder's drive before it writes (a package file of
// the same name that it replaces), counted as free there. On false,
// errorText names the folder, what is needed (in MB, MiB rounded up) and
// what is free (rounded down), so the two figures never read the same.
bool CheckRoomForPackage(const std::wstring& tempFolder,
                         const std::wstring& installDir,
                         std::int64_t packageBytes,
                         std::int64_t replacedBytes,
                         std::wstring& errorText);

// The same with what the temporary folder's drive must hold (downloadBytes:
// a package, or the part of one an update fetches) apart from what the
// install folder's drive must hold (unpackBytes: what unpacking adds to the
// folder). A size of 0 or less is not checked.
bool CheckRoom(const std::wstring& tempFolder,
               const std::wstring& installDir,
               std::int64_t downloadBytes,
               std::int64_t unpackBytes,
               std::int64_t replacedBytes,
               std::wstring& errorText);
