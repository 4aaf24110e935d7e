#include "transfer/http_ranges.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "transfer/http_session.h"
#include "transfer/resume.h"

using namespace http_detail;

namespace {

// A suffix range's 206: "bytes START-END/FULL" that ends the file and holds
// at most `asked` bytes. The full length in fileSize; false otherwise.
bool TailFits(const std::wstring& range,
              std::uint64_t asked,
              std::int64_t& fileSize) {
  const std::size_t slash = range.rfind(L'/');
  if (slash == std::wstring::npos)
    return false;
  fileSize =
      ParseDecimalSaturating(std::wstring_view(range).substr(slash + 1), 0,
                             std::numeric_limits<std::int64_t>::max());
  const std::int64_t length =
      std::min<std::int64_t>(fileSize, static_cast<std::int64_t>(asked));
  ResumeState tail;
  tail.askRange = true;
  tail.offset = fileSize - length;
  tail.total = length;
  tail.fileSize = fileSize;
  RetryAnswer answer;
  answer.status = 206;
  answer.contentRange = range;
  return fileSize > 0 && JudgeRetryAnswer(tail, answer) == RetryStep::kAppend;
}

// A 200 to a request for part of the file: its body, the whole file, goes
// into the held file from byte 0.
PartialResult WholeInstead(const Session& session,
                           UniqueInternet& request,
                           HANDLE file,
                           const DownloadProgress& onProgress,
                           std::wstring& error) {
  return ReadWholeFile(session, request, nullptr, L"", file, onProgress, error)
             ? PartialResult::kWhole
             : PartialResult::kFailed;
}

PartialResult FetchTail(Session& session,
                        std::uint64_t tailBytes,
                        HANDLE file,
                        const DownloadProgress& onProgress,
                        PackageTail& tail,
                        std::wstring& error) {
  UniqueInternet request;
  DWORD status = 0;
  const std::wstring headers =
      L"Range: bytes=-" + UnsignedToWide(tailBytes) + L"\r\n";
  if (!OpenFirstAnswer(session, request, headers, true, status, error))
    return PartialResult::kNoRanges;
  if (status == 200) {
    // The host ignores ranges: this body is the whole file.
    return WholeInstead(session, request, file, onProgress, error);
  }
  const RetryAnswer answer = ReadAnswer(*session.api, request.get());
  if (status != 206 || !TailFits(answer.contentRange, tailBytes, tail.fileSize))
    return PartialResult::kNoRanges;
  tail.validator = answer.validator;
  tail.bytes.clear();
  std::vector<char> buffer(kReadSize);
  std::int64_t received = 0;
  const std::int64_t length = std::min<std::int64_t>(
      tail.fileSize, static_cast<std::int64_t>(tailBytes));
  return ReadBody(*session.api, request.get(), &tail.bytes, nullptr, buffer,
                  length, received, {}, error) == BodyEnd::kComplete &&
                 received == length
             ? PartialResult::kPart
             : PartialResult::kNoRanges;
}

PartialResult FetchRange(Session& session,
                         const ByteWindow& window,
                         HANDLE file,
                         const DownloadProgress& onProgress,
                         std::wstring& error) {
  ResumeState state;
  state.askRange = true;
  state.offset = static_cast<std::int64_t>(window.start);
  state.total = static_cast<std::int64_t>(window.end - window.start);
  state.fileSize = static_cast<std::int64_t>(window.fileSize);
  state.validator = window.validator;
  UniqueInternet request;
  DWORD status = 0;
  if (state.validator.empty() || state.total <= 0 ||
      !OpenFirstAnswer(session, request, RangeHeaders(state), true, status,
                       error))
    return PartialResult::kNoRanges;
  if (status == 200) {
    // The file changed on the server, or ranges are ignored: the whole file
    // replaces the part, never mixed with it.
    return WholeInstead(session, request, file, onProgress, error);
  }
  if (JudgeRetryAnswer(state, ReadAnswer(*session.api, request.get())) !=
      RetryStep::kAppend)
    return PartialResult::kNoRanges;
  LARGE_INTEGER zero = {};
  if (!SetFilePointerEx(file, zero, nullptr, FILE_END)) {
    error = kWriteFailedText;
    return PartialResult::kFailed;
  }
  const Target target{nullptr, file, onProgress};
  if (!ReadToTheEnd(session, state, request, target, session.options.resume,
                    error))
    return PartialResult::kFailed;
  // A 200 on a retry made the window the whole file.
  return state.fileSize < 0 ? PartialResult::kWhole : PartialResult::kPart;
}

}  // namespace

PartialResult HttpDownloadTail(const std::wstring& url,
                               std::uint64_t tailBytes,
                               HANDLE file,
                               const DownloadProgress& onProgress,
                               PackageTail& tail,
                               std::wstring& errorText,
                               const DownloadOptions& options) {
  Session session{LoadWinInet(), {}, url, options};
  std::wstring error;
  const PartialResult result =
      FetchTail(session, tailBytes, file, onProgress, tail, error);
  if (result == PartialResult::kFailed)
    errorText = std::move(error);
  return result;
}

PartialResult HttpDownloadRange(const std::wstring& url,
                                const ByteWindow& window,
                                HANDLE file,
                                const DownloadProgress& onProgress,
                                std::wstring& errorText,
                                const DownloadOptions& options) {
  Session session{LoadWinInet(), {}, url, options};
  std::wstring error;
  const PartialResult result =
      FetchRange(session, window, file, onProgress, error);
  if (result == PartialResult::kFailed)
    errorText = std::move(error);
  return result;
}
