#include "pipeline/differential.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/setup_state.h"
#include "pipeline/installed_files.h"
#include "pipeline/room_check.h"
#include "pipeline/worker_messages.h"
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
  // The directory is part of the index, not of the download the line
  // counts; a 200 (the whole package) reports its own size.
  const auto length = static_cast<std::int64_t>(before.end - before.start);
  const DownloadProgress onProgress = [&job, length](std::int64_t received,
                                                     std::int64_t total) {
    return total == length ? !g_state.cancelRequested.load()
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

// The package's index, from its tail. kPart: index and tail filled.
DifferentialResult ReadRemoteIndex(const DifferentialJob& job,
                                   HANDLE file,
                                   PackageTail& tail,
                                   ZipIndex& index,
                                   std::wstring& errorText) {
  const PartialResult got =
      HttpDownloadTail(job.packageUrl, kTailBytes, file, job.progress, tail,
                       errorText, job.options);
  if (got != PartialResult::kPart)
    return AfterRange(got);
  ZipEnd end;
  if (!FindZipEnd(tail.bytes, static_cast<std::uint64_t>(tail.fileSize), end))
    return DifferentialResult::kWholeNeeded;
  std::string directory;
  const DifferentialResult fetched =
      FetchDirectory(job, file, tail, end, directory, errorText);
  if (fetched != DifferentialResult::kPart)
    return fetched;
  return ReadCentralDirectory(directory, end, index)
             ? DifferentialResult::kPart
             : DifferentialResult::kWholeNeeded;
}

// Which entries differ, the bar moving as the files are read.
DifferentialResult CompareWithFolder(const DifferentialJob& job,
                                     const ZipIndex& index,
                                     std::vector<std::size_t>& changed,
                                     std::wstring& errorText) {
  PostStatus(job.window, L"Checking the installed files...");
  int lastPosition = -1;
  const CompareProgress onProgress =
      [&job, &lastPosition](std::uint64_t done, std::uint64_t total) {
        const int position = total ? static_cast<int>(done * 900 / total) : 0;
        if (position != lastPosition) {
          lastPosition = position;
          PostProgress(job.window, position);
        }
        return !g_state.cancelRequested.load();
      };
  switch (FindChangedEntries(index, job.installDir, onProgress, changed)) {
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

// Fetches the plan's ranges one after another into the held file and ends
// it with their central directory: a part package.
DifferentialResult FetchPart(const DifferentialJob& job,
                             HANDLE file,
                             const ZipIndex& index,
                             const RangePlan& plan,
                             const PackageTail& tail,
                             std::wstring& errorText) {
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
  if (!AppendFileBytes(
          file, PartDirectory(index, EntriesInPart(index, plan), base))) {
    errorText = kWriteFailedText;
    return DifferentialResult::kFailed;
  }
  return DifferentialResult::kPart;
}

// FetchDifferences once the package is held.
DifferentialResult FetchInto(const DifferentialJob& job,
                             HANDLE file,
                             std::wstring& errorText) {
  PackageTail tail;
  ZipIndex index;
  const DifferentialResult read =
      ReadRemoteIndex(job, file, tail, index, errorText);
  if (read != DifferentialResult::kPart)
    return read;
  std::vector<std::size_t> changed;
  const DifferentialResult compared =
      CompareWithFolder(job, index, changed, errorText);
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
  return FetchPart(job, file, index, plan, tail, errorText);
}

}  // namespace

DifferentialResult FetchDifferences(const DifferentialJob& job,
                                    HeldPackage& package,
                                    std::wstring& errorText) {
  if (!CreateHeldPackage(job.packagePath, package, errorText))
    return DifferentialResult::kFailed;
  const DifferentialResult result =
      FetchInto(job, package.file.get(), errorText);
  if (result != DifferentialResult::kPart &&
      result != DifferentialResult::kWhole)
    DeleteHeldPackage(package);
  return result;
}

bool RoomToUnpack(const HeldPackage& package,
                  const std::wstring& installDir,
                  std::wstring& errorText) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(package.file.get(), &size))
    return true;  // tar.exe will say what is wrong with it
  const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
  const std::uint64_t tailSize = std::min<std::uint64_t>(bytes, kTailBytes);
  std::string tail;
  ZipEnd end;
  std::string directory;
  ZipIndex index;
  if (!ReadFileBytes(package.file.get(), bytes - tailSize, tailSize, tail) ||
      !FindZipEnd(tail, bytes, end) ||
      !ReadFileBytes(package.file.get(), end.centralDirectoryOffset,
                     end.centralDirectorySize, directory) ||
      !ReadCentralDirectory(directory, end, index))
    return true;
  std::vector<std::size_t> all(index.entries.size());
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = i;
  return CheckRoom(
      TempFolder(), installDir, 0,
      static_cast<std::int64_t>(BytesToWrite(index, installDir, all)), 0,
      errorText);
}
