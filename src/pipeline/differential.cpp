#include "pipeline/differential.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/setup_state.h"
#include "pipeline/installed_files.h"
#include "pipeline/room_check.h"
#include "platform/file_bytes.h"
#include "platform/paths.h"
#include "platform/sizes.h"
#include "transfer/http_ranges.h"
#include "transfer/range_plan.h"
#include "transfer/zip_index.h"
#include "transfer/zip_part.h"

namespace {

// What a range request's result means for the run.
DifferentialResult AfterRange(PartialResult result) {
  switch (result) {
    case PartialResult::kPart:
      return DifferentialResult::kPart;
    case PartialResult::kWhole:
      return DifferentialResult::kWhole;
    case PartialResult::kNoRanges:
      return DifferentialResult::kWholeNeeded;
    case PartialResult::kFailed:
      break;
  }
  return DifferentialResult::kFailed;
}

// The central directory the end records point to: from the tail, or, when
// the tail does not hold it all, with one more range for what lies before
// the tail, fetched into the held file, read back and emptied from it.
DifferentialResult FetchDirectory(const DifferentialJob& job,
                                  HANDLE file,
                                  const PackageTail& tail,
                                  const ZipEnd& end,
                                  std::string& directory,
                                  std::wstring& errorText) {
  const std::uint64_t tailStart = TailStart(tail);
  const std::uint64_t dirEnd =
      end.centralDirectoryOffset + end.centralDirectorySize;
  if (end.centralDirectoryOffset >= tailStart) {
    directory = tail.bytes.substr(
        static_cast<std::size_t>(end.centralDirectoryOffset - tailStart),
        static_cast<std::size_t>(end.centralDirectorySize));
    return DifferentialResult::kPart;
  }
  const ByteWindow before{end.centralDirectoryOffset, tailStart,
                          static_cast<std::uint64_t>(tail.fileSize),
                          tail.validator};
  // The directory is part of the check, not of the download the line
  // counts; a 200 (the whole package) reports its own size.
  const auto length = static_cast<std::int64_t>(before.end - before.start);
  const DownloadProgress onProgress = [&job, length](std::int64_t received,
                                                     std::int64_t total) {
    return total == length ? job.progress.Indexing()
                           : job.progress(received, total);
  };
  const DifferentialResult got = AfterRange(HttpDownloadRange(
      job.packageUrl, before, file, onProgress, errorText, job.options));
  if (got != DifferentialResult::kPart)
    return got;
  if (!ReadFileBytes(file, 0, tailStart - end.centralDirectoryOffset,
                     directory) ||
      !EmptyFile(file))
    return DifferentialResult::kWholeNeeded;
  directory.append(tail.bytes, 0, static_cast<std::size_t>(dirEnd - tailStart));
  return DifferentialResult::kPart;
}

// The name and UTF-8 flag that the local header at `at` in file gives its
// entry, into local. False when there is no local header there.
bool ReadLocalHeader(HANDLE file, std::uint64_t at, ZipEntry& local) {
  std::string header;
  std::size_t nameSize = 0;
  return ReadFileBytes(file, at, zip::kLocalHeaderSize, header) &&
         LocalNameSize(header, nameSize) &&
         ReadFileBytes(file, at, zip::kLocalHeaderSize + nameSize, header) &&
         ReadLocalName(header, local.name, local.utf8);
}

bool NamedAsCentral(HANDLE file, std::uint64_t at, const ZipEntry& entry) {
  ZipEntry local;
  return ReadLocalHeader(file, at, local) && local.name == entry.name &&
         local.utf8 == entry.utf8;
}

// Whether the record names the package whose tail this is (its size,
// validator and end records, and the tail's bytes of the directory), so
// that its directory stands for the one on the site.
bool RecordAnswers(const InstallRecord* record,
                   const PackageTail& tail,
                   const ZipEnd& end) {
  if (!record)
    return false;
  const RecordedPackage& was = record->package;
  const ZipEnd& wasEnd = was.index.end;
  if (was.size != static_cast<std::uint64_t>(tail.fileSize) ||
      was.validator.empty() || was.validator != tail.validator ||
      wasEnd.entryCount != end.entryCount ||
      wasEnd.centralDirectoryOffset != end.centralDirectoryOffset ||
      wasEnd.centralDirectorySize != end.centralDirectorySize)
    return false;
  const std::uint64_t tailStart = TailStart(tail);
  const std::uint64_t from = std::max(end.centralDirectoryOffset, tailStart);
  const std::uint64_t dirEnd =
      end.centralDirectoryOffset + end.centralDirectorySize;
  return tail.bytes.compare(
             static_cast<std::size_t>(from - tailStart),
             static_cast<std::size_t>(dirEnd - from), was.directory,
             static_cast<std::size_t>(from - end.centralDirectoryOffset),
             static_cast<std::size_t>(dirEnd - from)) == 0;
}

// The package's index, from its tail (and the record, when it names the
// same package). kPart: tail and brought filled.
DifferentialResult ReadRemoteIndex(const DifferentialJob& job,
                                   HANDLE file,
                                   PackageTail& tail,
                                   RecordedPackage& brought,
                                   std::wstring& errorText) {
  const PartialResult got =
      HttpDownloadTail(job.packageUrl, kTailBytes, file, job.progress, tail,
                       errorText, job.options);
  if (got != PartialResult::kPart)
    return AfterRange(got);
  ZipEnd end;
  // The directory ends inside the tail (the end records follow it there);
  // one that ends before it makes no sense here, and is fetched whole.
  if (!FindZipEnd(tail.bytes, static_cast<std::uint64_t>(tail.fileSize), end) ||
      end.centralDirectoryOffset + end.centralDirectorySize < TailStart(tail))
    return DifferentialResult::kWholeNeeded;
  brought.size = static_cast<std::uint64_t>(tail.fileSize);
  brought.validator = tail.validator;
  // The record's directory is read again rather than trusted as parsed: it
  // costs a moment, and only one reader judges what a directory may say.
  if (RecordAnswers(job.record, tail, end)) {
    brought.directory = job.record->package.directory;
  } else {
    const DifferentialResult fetched =
        FetchDirectory(job, file, tail, end, brought.directory, errorText);
    if (fetched != DifferentialResult::kPart)
      return fetched;
  }
  return ReadCentralDirectory(brought.directory, end, brought.index)
             ? DifferentialResult::kPart
             : DifferentialResult::kWholeNeeded;
}

// Which entries differ, the bar moving as the files are read.
DifferentialResult CompareWithFolder(const DifferentialJob& job,
                                     RecordedPackage& brought,
                                     std::vector<std::size_t>& changed,
                                     std::wstring& errorText) {
  const ZipIndex& index = brought.index;
  const CompareProgress onProgress = [&job](std::uint64_t done,
                                            std::uint64_t total) {
    return job.progress.Checking(done, total);
  };
  // An update trusts what the record says of a file whose size and time
  // are still those unpacking left; a reinstall reads every file.
  std::vector<KnownFile> known;
  if (job.record && job.trustRecord)
    known = KnownFromRecord(*job.record, index);
  switch (FindChangedEntries(index, job.installDir, onProgress, changed,
                             known.empty() ? nullptr : &known, &brought.seen)) {
    case CompareResult::kCompared:
      return DifferentialResult::kPart;
    case CompareResult::kUnsafeName:
      // tar.exe's own checks judge the whole package.
      return DifferentialResult::kWholeNeeded;
    case CompareResult::kCancelled:
      break;
  }
  errorText = L"Cancelled.";
  return DifferentialResult::kFailed;
}

// Fetches the plan's ranges (those of the changed entries) one after
// another into the held file and ends it with the changed entries' central
// directory: a part package.
DifferentialResult FetchPart(const DifferentialJob& job,
                             HANDLE file,
                             RecordedPackage& brought,
                             const std::vector<std::size_t>& changed,
                             const RangePlan& plan,
                             const PackageTail& tail,
                             std::wstring& errorText) {
  const ZipIndex& index = brought.index;
  // The part lists only the changed entries. One that a merged range
  // carried along may share its path with a later entry that is in place,
  // and tar.exe would write it over that one.
  std::vector<char> wanted(index.entries.size(), 0);
  for (const std::size_t i : changed)
    wanted[i] = 1;
  std::vector<PartEntry> entries;
  for (const PartEntry& e : EntriesInPart(index, plan)) {
    if (wanted[e.entry])
      entries.push_back(e);
  }
  // The part's directory is known before a byte of it is: a package whose
  // records cannot be rewritten for the part goes whole.
  std::string directory;
  if (!PartDirectory(index, entries, plan.bytes, directory))
    return DifferentialResult::kWholeNeeded;
  job.progress.StartDownload();
  std::uint64_t base = 0;
  for (const ByteRange& range : plan.ranges) {
    const auto length = static_cast<std::int64_t>(range.end - range.start);
    // The line counts the bytes fetched in all; after a 200 the whole
    // package reports its own size.
    const DownloadProgress onProgress = [&](std::int64_t received,
                                            std::int64_t total) {
      return total == length
                 ? job.progress(static_cast<std::int64_t>(base) + received,
                                static_cast<std::int64_t>(plan.bytes))
                 : job.progress(received, total);
    };
    const ByteWindow window{range.start, range.end,
                            static_cast<std::uint64_t>(tail.fileSize),
                            tail.validator};
    const DifferentialResult got = AfterRange(HttpDownloadRange(
        job.packageUrl, window, file, onProgress, errorText, job.options));
    if (got != DifferentialResult::kPart)
      return got;
    base += range.end - range.start;
  }
  // tar.exe writes each entry under its local header's name. Where that is
  // not the directory's, the check compared the wrong files: the whole
  // package, unpacked and stamped as such, is what the folder must get.
  for (const PartEntry& e : entries) {
    if (!NamedAsCentral(file, e.offset, index.entries[e.entry]))
      return DifferentialResult::kWholeNeeded;
  }
  if (!AppendFileBytes(file, directory)) {
    errorText = kWriteFailedText;
    return DifferentialResult::kFailed;
  }
  for (const PartEntry& e : entries)
    brought.unpacked.push_back(e.entry);
  return DifferentialResult::kPart;
}

// FetchDifferences once the package is held.
DifferentialResult FetchInto(const DifferentialJob& job,
                             HANDLE file,
                             RecordedPackage& brought,
                             std::wstring& errorText) {
  job.progress.StartCheck();
  PackageTail tail;
  const DifferentialResult read =
      ReadRemoteIndex(job, file, tail, brought, errorText);
  if (read != DifferentialResult::kPart)
    return read;
  const ZipIndex& index = brought.index;
  std::vector<std::size_t> changed;
  const DifferentialResult compared =
      CompareWithFolder(job, brought, changed, errorText);
  if (compared != DifferentialResult::kPart)
    return compared;
  if (changed.empty())
    return DifferentialResult::kNothing;
  const RangePlan plan = PlanRanges(index, changed);
  if (!WorthFetchingApart(plan.bytes,
                          static_cast<std::uint64_t>(tail.fileSize)))
    return DifferentialResult::kWholeNeeded;
  // The part and what unpacking it adds to the folder, before a byte of it.
  if (!CheckRoom(TempFolder(), job.installDir,
                 static_cast<std::int64_t>(plan.bytes +
                                           index.end.centralDirectorySize),
                 static_cast<std::int64_t>(
                     BytesToWrite(index, job.installDir, changed)),
                 0, errorText))
    return DifferentialResult::kFailed;
  return FetchPart(job, file, brought, changed, plan, tail, errorText);
}

}  // namespace

DifferentialResult FetchDifferences(const DifferentialJob& job,
                                    HeldPackage& package,
                                    RecordedPackage& brought,
                                    std::wstring& errorText) {
  if (!CreateHeldPackage(job.packagePath, package, errorText))
    return DifferentialResult::kFailed;
  const DifferentialResult result =
      FetchInto(job, package.file.get(), brought, errorText);
  if (result != DifferentialResult::kPart &&
      result != DifferentialResult::kWhole)
    DeleteHeldPackage(package);
  return result;
}

bool RoomToUnpack(const HeldPackage& package,
                  const std::wstring& installDir,
                  RecordedPackage& brought,
                  std::wstring& errorText) {
  brought = RecordedPackage();
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(package.file.get(), &size))
    return true;  // tar.exe will say what is wrong with it
  const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
  const std::uint64_t tailSize = std::min<std::uint64_t>(bytes, kTailBytes);
  std::string tail;
  ZipEnd end;
  brought.size = bytes;
  std::string& directory = brought.directory;
  ZipIndex& index = brought.index;
  if (!ReadFileBytes(package.file.get(), bytes - tailSize, tailSize, tail) ||
      !FindZipEnd(tail, bytes, end) ||
      !ReadFileBytes(package.file.get(), end.centralDirectoryOffset,
                     end.centralDirectorySize, directory) ||
      !ReadCentralDirectory(directory, end, index)) {
    index = ZipIndex();
    return true;
  }
  std::vector<std::size_t> all(index.entries.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    all[i] = i;
    // tar.exe writes the entry under its local header's name: from here
    // on the index says so (the record keeps the directory's bytes).
    ZipEntry local;
    ZipEntry& e = index.entries[i];
    if (ReadLocalHeader(package.file.get(), e.localHeaderOffset, local) &&
        (local.name != e.name || local.utf8 != e.utf8)) {
      brought.renamed.push_back(i);
      e.name.swap(local.name);
      e.utf8 = local.utf8;
    }
  }
  return CheckRoom(
      TempFolder(), installDir, 0,
      static_cast<std::int64_t>(BytesToWrite(index, installDir, all)), 0,
      errorText);
}
