// Whether the disks have room for a package before its download starts.
#pragma once

#include <cstdint>
#include <string>

// True when the temporary folder's drive can hold the package (packageBytes)
// and the install folder's drive can hold as much again for the unpacked
// game; on one drive both amounts are needed there. Free space is what
// GetDiskFreeSpaceExW gives this user (quotas included); a folder whose free
// space cannot be read is not checked. On false, errorText names the folder,
// what is needed and what is free, in MB (MiB, rounded down, as the download
// line writes them).
bool CheckRoomForPackage(const std::wstring& tempFolder,
                         const std::wstring& installDir,
                         std::int64_t packageBytes,
                         std::wstring& errorText);
