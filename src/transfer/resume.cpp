#include "transfer/resume.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string_view>

#include "platform/text.h"

namespace {

constexpr std::uint64_t kRetryWaitsMs[] = {1000, 2000, 4000, 8000, 15000};

// A decimal number made of digits alone; -1 otherwise.
std::int64_t Digits(std::wstring_view digits) {
  if (digits.empty() ||
      digits.find_first_not_of(L"0123456789") != std::wstring_view::npos)
    return -1;
  return ParseDecimalSaturating(digits, 0,
                                std::numeric_limits<std::int64_t>::max());
}

// True when a Content-Range ("bytes START-END/FULL") names exactly the bytes
// [start, end) of a file of `full` bytes.
bool IsRestOf(const std::wstring& range,
              std::int64_t start,
              std::int64_t end,
              std::int64_t full) {
  const std::wstring_view unit = L"bytes ";
  const std::wstring_view text(range);
  if (text.substr(0, unit.size()) != unit)
    return false;
  const std::size_t dash = text.find(L'-', unit.size());
  const std::size_t slash = text.find(L'/', unit.size());
  if (dash == std::wstring_view::npos || slash == std::wstring_view::npos ||
      dash > slash)
    return false;
  return Digits(text.substr(unit.size(), dash - unit.size())) == start &&
         Digits(text.substr(dash + 1, slash - dash - 1)) == end - 1 &&
         Digits(text.substr(slash + 1)) == full;
}

bool IsEtag(const std::wstring& validator) {
  return !validator.empty() && validator.front() == L'"';
}

// Whether the answer may be of the file known by state's validator. A host
// that ignores If-Range answers a range of whatever file it has now: its
// ETag, or its date where the file is known by one, tells. A file replaced
// in place at the same size would otherwise be spliced onto the first.
bool OfTheSameFile(const ResumeState& state, const RetryAnswer& answer) {
  const std::wstring& theirs =
      IsEtag(state.validator) ? answer.etag : answer.lastModified;
  return theirs.empty() || state.validator.empty() || theirs == state.validator;
}

}  // namespace

std::wstring ChooseValidator(const std::wstring& etag,
                             const std::wstring& lastModified) {
  // A weak ETag only says two files are alike; If-Range needs the same bytes.
  std::wstring chosen =
      etag.empty() || etag.rfind(L"W/", 0) == 0 ? lastModified : etag;
  // A value that could end the header line early is never sent back.
  if (chosen.find_first_of(L"\r\n") != std::wstring::npos)
    chosen.clear();
  return chosen;
}

void NoteBreak(ResumeState& state, bool bytesArrived, std::uint64_t nowMs) {
  if (bytesArrived) {
    state.aliveAtMs = nowMs;
    state.quietAttempts = 0;
  } else {
    ++state.quietAttempts;
  }
  state.misfits = 0;
  // Bytes of two different files are never spliced: without something that
  // tells the files apart, or the full length to check the answer against,
  // the download starts over.
  state.askRange =
      !state.validator.empty() && state.received > 0 && state.total > 0;
}

std::wstring RangeHeaders(const ResumeState& state) {
  if (!state.askRange)
    return L"";
  const auto from = static_cast<std::uint64_t>(state.offset + state.received);
  std::wstring headers = L"Range: bytes=" + UnsignedToWide(from) + L"-";
  // A window ends before the file does: its last byte is named.
  if (state.fileSize >= 0 && state.offset + state.total < state.fileSize) {
    headers += UnsignedToWide(
        static_cast<std::uint64_t>(state.offset + state.total - 1));
  }
  return headers + L"\r\nIf-Range: " + state.validator + L"\r\n";
}

void NoteNoAnswer(ResumeState& state) {
  ++state.quietAttempts;
}

std::uint64_t RetryWaitMs(const ResumeState& state) {
  if (state.quietAttempts <= 0)
    return 0;
  const int last = static_cast<int>(std::size(kRetryWaitsMs)) - 1;
  return kRetryWaitsMs[std::min(state.quietAttempts - 1, last)];
}

bool ShouldGiveUp(const ResumeState& state,
                  std::uint64_t nowMs,
                  std::uint64_t giveUpAfterMs) {
  return nowMs >= state.aliveAtMs + giveUpAfterMs;
}

bool IsPassingStatus(unsigned long status) {
  switch (status) {
    case 408:  // request time-out
    case 429:  // too many requests
    case 500:
    case 502:  // a CDN's edge that lost its origin for a moment
    case 503:
    case 504:
      return true;
    default:
      return false;
  }
}

RetryStep JudgeRetryAnswer(ResumeState& state, const RetryAnswer& answer) {
  if (IsPassingStatus(answer.status)) {
    ++state.quietAttempts;
    return RetryStep::kTryAgain;
  }
  const std::int64_t rest = state.total - state.received;
  const std::int64_t fileSize =
      state.fileSize >= 0 ? state.fileSize : state.total;
  if (state.askRange && answer.status == 206 &&
      IsRestOf(answer.contentRange, state.offset + state.received,
               state.offset + state.total, fileSize) &&
      (answer.contentLength < 0 || answer.contentLength == rest) &&
      OfTheSameFile(state, answer)) {
    return RetryStep::kAppend;
  }
  // A 200 without a length cannot be checked for its end, unless the file
  // never had one.
  if (answer.status == 200 && (answer.contentLength >= 0 || state.total < 0)) {
    const bool sameFile =
        answer.validator == state.validator && answer.contentLength == fileSize;
    if (!sameFile)
      state.startOvers = 0;
    else if (++state.startOvers > kMaxStartOvers)
      return RetryStep::kGiveUp;
    state.total = answer.contentLength;
    state.offset = 0;
    state.fileSize = -1;
    state.validator = answer.validator;
    state.received = 0;
    return RetryStep::kStartOver;
  }
  ++state.quietAttempts;
  if (++state.misfits >= 2)
    return RetryStep::kGiveUp;
  state.askRange = false;
  return RetryStep::kMisfit;
}
