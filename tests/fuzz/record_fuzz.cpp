// The record's decoder over what a damaged (or doctored) file beside the
// game may hold. The input is a record without its checksum: the target
// appends the right CRC-32, or nearly every input would stop at a checksum
// that does not match. The input as it stands is decoded too, for the
// checksum's own road. A record that decodes encodes back to its bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "pipeline/record_codec.h"
#include "platform/crc32.h"
#include "require.h"

namespace {

void CheckDecode(const std::string& bytes) {
  InstallRecord record;
  if (!DecodeRecord(bytes, record))
    return;
  REQUIRE(record.stamps.size() == record.package.index.entries.size());
  REQUIRE(record.package.directory.size() ==
          record.package.index.end.centralDirectorySize);
  REQUIRE(EncodeRecord(record) == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckDecode(bytes);
  const std::uint32_t crc = Crc32(0, bytes.data(), bytes.size());
  for (int i = 0; i < 4; ++i)
    bytes.push_back(static_cast<char>((crc >> (8 * i)) & 0xFF));
  CheckDecode(bytes);
  return 0;
}
