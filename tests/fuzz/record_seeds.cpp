// Writes the record fuzz target's seeds: for each package named, the record
// an install of it would keep (without its checksum, as the target takes
// it). Fails when a package does not read as an index: a seed that the
// reader refuses would start the fuzzer nowhere.
//   record_seeds OUT_DIR PACKAGE...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "pipeline/record_codec.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: record_seeds OUT_DIR PACKAGE...\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::string zip((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
    InstallRecord record;
    RecordedPackage& package = record.package;
    ZipEnd end;
    if (!FindZipEnd(zip, zip.size(), end) ||
        !ReadCentralDirectory(
            zip.substr(static_cast<std::size_t>(end.centralDirectoryOffset),
                       static_cast<std::size_t>(end.centralDirectorySize)),
            end, package.index)) {
      std::fprintf(stderr, "record_seeds: %s does not read as a package\n",
                   argv[i]);
      return 1;
    }
    package.directory =
        zip.substr(static_cast<std::size_t>(end.centralDirectoryOffset),
                   static_cast<std::size_t>(end.centralDirectorySize));
    package.size = zip.size();
    package.validator = L"\"5f3a-" + std::to_wstring(zip.size()) + L"\"";
    record.version = 40 + i;
    record.folder = L"C:\\Users\\Player\\AppData\\Local\\Programs\\Gorm Ek";
    for (const ZipEntry& e : package.index.entries) {
      FileStamp stamp;  // a folder entry has none
      if (!e.name.empty() && e.name.back() != '/') {
        stamp.size = static_cast<std::int64_t>(e.uncompressedSize);
        stamp.lastWrite = 133780000000000000ull + e.crc32;
      }
      record.stamps.push_back(stamp);
    }
    std::string bytes = EncodeRecord(record);
    bytes.resize(bytes.size() - 4);  // the target appends the checksum
    std::string name(argv[i]);
    name = name.substr(name.find_last_of('/') + 1) + ".record";
    std::ofstream(std::string(argv[1]) + "/" + name, std::ios::binary) << bytes;
  }
  return 0;
}
