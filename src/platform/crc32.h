// CRC-32 as zip stores it (the reflected polynomial 0xEDB88320), fast enough
// to check gigabytes of installed files at the speed the disk reads them.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues crc (0 to start) over size bytes at data and returns the result.
// Feeding a file in blocks of any size gives the same value as all at once.
// The first call in the process allocates 8 KiB of tables and throws
// std::bad_alloc when it cannot.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);
