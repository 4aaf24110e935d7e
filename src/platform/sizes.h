// How many bytes a file or a folder holds on disk.
#pragma once

#include <cstdint>
#include <string>

// The size in bytes of the file at path; 0 when it is missing or a folder.
std::int64_t FileSize(const std::wstring& path);

// Total size in bytes of all files below folder, hidden and system files
// included. A subfolder that cannot be listed counts 0. Junctions and
// symbolic links to folders are not followed, so a link back to an ancestor
// cannot make the walk endless (the link's own entry adds nothing).
std::uint64_t FolderSize(const std::wstring& folder);
