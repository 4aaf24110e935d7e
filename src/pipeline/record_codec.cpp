#include "pipeline/record_codec.h"

#include "platform/crc32.h"

namespace {

// "GERC" and the layout's number: a record of another layout (an older or
// newer program) does not decode, and is ignored.
constexpr std::uint32_t kMagic = 0x43524547;
constexpr std::uint32_t kLayout = 1;
constexpr std::size_t kMaxTextChars = 32768;  // a path, a validator

void Put(std::string& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutText(std::string& out, const std::wstring& text) {
  Put(out, text.size(), 4);
  for (const wchar_t c : text)
    Put(out, static_cast<std::uint16_t>(c), 2);
}

// Reads what EncodeRecord wrote, each read checked against the end.
struct Reader {
  std::string_view bytes;
  std::size_t at = 0;
  bool ok = true;

  std::uint64_t Take(int size) {
    if (!ok || bytes.size() - at < static_cast<std::size_t>(size)) {
      ok = false;
      return 0;
    }
    const std::uint64_t value = zip::ReadLittleEndian(bytes, at, size);
    at += static_cast<std::size_t>(size);
    return value;
  }

  std::wstring TakeText() {
    const std::uint64_t chars = Take(4);
    if (chars > kMaxTextChars || (bytes.size() - at) / 2 < chars) {
      ok = false;
      return L"";
    }
    std::wstring text(static_cast<std::size_t>(chars), L'\0');
    for (wchar_t& c : text)
      c = static_cast<wchar_t>(Take(2));
    return text;
  }
};

}  // namespace

std::string EncodeRecord(const InstallRecord& record) {
  const RecordedPackage& package = record.package;
  const ZipEnd& end = package.index.end;
  std::string out;
  Put(out, kMagic, 4);
  Put(out, kLayout, 4);
  Put(out, static_cast<std::uint32_t>(record.version), 4);
  PutText(out, record.folder);
  Put(out, package.size, 8);
  PutText(out, package.validator);
  Put(out, end.entryCount, 8);
  Put(out, end.centralDirectoryOffset, 8);
  Put(out, package.directory.size(), 8);
  out += package.directory;
  Put(out, record.stamps.size(), 8);
  for (const FileStamp& stamp : record.stamps) {
    Put(out, static_cast<std::uint64_t>(stamp.size), 8);
    Put(out, stamp.lastWrite, 8);
  }
  Put(out, Crc32(0, out.data(), out.size()), 4);
  return out;
}

bool DecodeRecord(std::string_view bytes, InstallRecord& record) {
  if (bytes.size() < 8)
    return false;
  const std::string_view body = bytes.substr(0, bytes.size() - 4);
  Reader sum{bytes, body.size()};
  if (sum.Take(4) != Crc32(0, body.data(), body.size()))
    return false;
  Reader r{body};
  if (r.Take(4) != kMagic || r.Take(4) != kLayout)
    return false;
  record.version = static_cast<int>(r.Take(4));
  record.folder = r.TakeText();
  RecordedPackage& package = record.package;
  package.size = r.Take(8);
  package.validator = r.TakeText();
  ZipEnd end;
  end.entryCount = r.Take(8);
  end.centralDirectoryOffset = r.Take(8);
  end.centralDirectorySize = r.Take(8);
  if (!r.ok || end.centralDirectorySize > body.size() - r.at)
    return false;
  package.directory.assign(
      body.substr(r.at, static_cast<std::size_t>(end.centralDirectorySize)));
  r.at += package.directory.size();
  const std::uint64_t count = r.Take(8);
  // Exactly one stamp per entry, and nothing after them.
  if (!r.ok || count != end.entryCount || (body.size() - r.at) / 16 != count ||
      (body.size() - r.at) % 16 != 0 ||
      !ReadCentralDirectory(package.directory, end, package.index))
    return false;
  record.stamps.resize(static_cast<std::size_t>(count));
  for (FileStamp& stamp : record.stamps) {
    stamp.size = static_cast<std::int64_t>(r.Take(8));
    stamp.lastWrite = r.Take(8);
  }
  return r.ok;
}
