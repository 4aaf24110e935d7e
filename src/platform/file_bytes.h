// Byte strings to and from a file the caller holds open, for the pieces of
// a package the program handles in one piece (its central directory, the
// directory that ends a part package).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// size bytes of the open file from offset, into out (replaced). False when
// it cannot be read or holds fewer bytes. Moves the file pointer.
bool ReadFileBytes(HANDLE file,
                   std::uint64_t offset,
                   std::uint64_t size,
                   std::string& out);

// Writes bytes at the end of the open file. False when not all were written.
bool AppendFileBytes(HANDLE file, std::string_view bytes);

// Empties the open file; its pointer is then at 0.
bool EmptyFile(HANDLE file);
