#include "platform/file_bytes.h"

#include <algorithm>

namespace {

bool MoveTo(HANDLE file, std::uint64_t offset, DWORD from) {
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, at, nullptr, from) != FALSE;
}

}  // namespace

bool ReadFileBytes(HANDLE file,
                   std::uint64_t offset,
                   std::uint64_t size,
                   std::string& out) {
  if (!MoveTo(file, offset, FILE_BEGIN))
    return false;
  out.assign(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < out.size()) {
    DWORD read = 0;
    const DWORD want =
        static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1 << 20));
    if (!ReadFile(file, out.data() + done, want, &read, nullptr) || read == 0)
      return false;
    done += read;
  }
  return true;
}

bool AppendFileBytes(HANDLE file, std::string_view bytes) {
  if (!MoveTo(file, 0, FILE_END))
    return false;
  // WriteFile takes 32-bit counts: larger strings go in pieces.
  while (!bytes.empty()) {
    const auto want =
        static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), want, &written, nullptr) ||
        written != want)
      return false;
    bytes.remove_prefix(want);
  }
  return true;
}

bool EmptyFile(HANDLE file) {
  return MoveTo(file, 0, FILE_BEGIN) && SetEndOfFile(file);
}
