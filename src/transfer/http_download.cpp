#include "transfer/http_download.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/scope_guard.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "transfer/http_session.h"
#include "transfer/resume.h"
#include "transfer/wininet_api.h"

using namespace http_detail;

namespace {

// WinINet's connect, send and receive time-outs.
constexpr DWORD kTimeoutMs = 15000;
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE;

}  // namespace

void http_detail::CloseInternet(HINTERNET h) {
  LoadWinInet()->InternetCloseHandle(h);
}

namespace {

// The Content-Length header as a number; -1 when it cannot be read.
std::int64_t DeclaredLength(const WinInetApi& api, HINTERNET request) {
  wchar_t text[32] = {};
  DWORD bytes = sizeof(text);
  if (!api.HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &bytes,
                          nullptr)) {
    return -1;
  }
  return ParseDecimalSaturating(std::wstring_view(text),
                                std::numeric_limits<std::int64_t>::min(),
                                std::numeric_limits<std::int64_t>::max());
}

// A header's text; "" when it is missing or longer than we keep.
std::wstring HeaderText(const WinInetApi& api, HINTERNET request, DWORD level) {
  wchar_t text[512] = {};
  DWORD bytes = sizeof(text) - sizeof(wchar_t);
  if (!api.HttpQueryInfoW(request, level, text, &bytes, nullptr))
    return L"";
  return std::wstring(text, bytes / sizeof(wchar_t));
}

DWORD StatusCode(const WinInetApi& api, HINTERNET request) {
  // A failed query leaves 0, which then reads as "answered 0".
  DWORD status = 0;
  DWORD statusBytes = sizeof(status);
  api.HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                     &status, &statusBytes, nullptr);
  return status;
}

}  // namespace

RetryAnswer http_detail::ReadAnswer(const WinInetApi& api, HINTERNET request) {
  RetryAnswer answer;
  answer.status = StatusCode(api, request);
  answer.contentRange = HeaderText(api, request, HTTP_QUERY_CONTENT_RANGE);
  answer.contentLength = DeclaredLength(api, request);
  answer.etag = HeaderText(api, request, HTTP_QUERY_ETAG);
  answer.lastModified = HeaderText(api, request, HTTP_QUERY_LAST_MODIFIED);
  answer.validator = ChooseValidator(answer.etag, answer.lastModified);
  return answer;
}

namespace {

std::wstring CouldNotReach(const std::wstring& url, DWORD error) {
  std::wstring text =
      L"Could not reach " + url + L".\nCheck your internet connection.";
  // A connection that works but a certificate that is refused: the
  // player's clock, security software that intercepts connections, or the
  // site itself; checking the internet connection would not help.
  if (IsCertificateError(error)) {
    text += L"\n";
    text += kCertificateHint;
  }
  return text;
}

}  // namespace

BodyEnd http_detail::ReadBody(const WinInetApi& api,
                              HINTERNET request,
                              std::string* memoryTarget,
                              HANDLE file,
                              std::vector<char>& buffer,
                              std::int64_t total,
                              std::int64_t& received,
                              const DownloadProgress& onProgress,
                              std::wstring& errorText) {
  for (;;) {
    DWORD count = 0;
    if (!api.InternetReadFile(request, buffer.data(), kReadSize, &count)) {
      errorText = L"The download was interrupted.";
      return BodyEnd::kBroken;
    }
    if (count == 0) {
      // A clean end before the declared length: the server closed early.
      if (total > 0 && received != total) {
        errorText = L"The download was incomplete. Try again.";
        return BodyEnd::kBroken;
      }
      return BodyEnd::kComplete;
    }
    if (memoryTarget) {
      if (memoryTarget->size() + count > kMaxMemoryDownload) {
        errorText = L"The version file on the server is not valid.";
        return BodyEnd::kStopped;
      }
      memoryTarget->append(buffer.data(), count);
    }
    if (file) {
      DWORD written = 0;
      if (!WriteFile(file, buffer.data(), count, &written, nullptr) ||
          written != count) {
        errorText = kWriteFailedText;
        return BodyEnd::kStopped;
      }
    }
    received += count;
    if (onProgress && !onProgress(received, total)) {
      errorText = L"Cancelled.";
      return BodyEnd::kStopped;
    }
  }
}

namespace {

// Waits `ms`, asking onWait every 100 ms with the whole seconds left. False
// when onWait said stop.
bool WaitBeforeAttempt(std::uint64_t ms,
                       const std::function<bool(int)>& onWait) {
  const std::uint64_t end = GetTickCount64() + ms;
  for (;;) {
    const std::uint64_t now = GetTickCount64();
    if (now >= end)
      return true;
    const std::uint64_t left = end - now;
    if (onWait && !onWait(static_cast<int>((left + 999) / 1000)))
      return false;
    Sleep(static_cast<DWORD>(std::min<std::uint64_t>(left, 100)));
  }
}

// Empties the file for a download that starts over from byte 0.
bool Truncate(HANDLE file) {
  LARGE_INTEGER zero = {};
  return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) &&
         SetEndOfFile(file);
}

}  // namespace

const wchar_t kWriteFailedText[] =
    L"Could not write the download to disk (is it full?).";

const wchar_t kCertificateHint[] =
    L"The site's security certificate was not accepted: check that this "
    L"computer's date and time are right. Security software that inspects "
    L"connections, or a fault in the site's certificate, can also cause this.";

bool IsCertificateError(unsigned long error) {
  switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:  // expired or not yet valid
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:    // issued for another name
    case ERROR_INTERNET_INVALID_CA:             // authority not trusted
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_NO_REV:  // revocation
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:  // no common protocol, ...
      return true;
    default:
      return false;
  }
}

HINTERNET Session::Open(const std::wstring& headers) const {
  return api->InternetOpenUrlW(
      root.get(), url.c_str(), headers.empty() ? nullptr : headers.c_str(),
      static_cast<DWORD>(headers.size()), kOpenUrlFlags, 0);
}

namespace {

// Bounds every connect, send and receive, so that an attempt (and a cancel
// during one) ends in bounded time, not after the system's own time-outs.
void SetTimeouts(const WinInetApi& api, HINTERNET root) {
  DWORD ms = kTimeoutMs;
  for (const DWORD option :
       {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
        INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    api.InternetSetOptionW(root, option, &ms, sizeof(ms));
  }
}

std::wstring ServerAnswered(unsigned long status, const std::wstring& url) {
  return L"The server answered " + UnsignedToWide(status) + L" for\n" + url;
}

// After a break: waits by the series and asks again until an answer brings
// the rest of the file (true, to append) or the whole file again (true, the
// file emptied and its room checked). False with error set when it gives up,
// with the sentence of the last failure, or is cancelled.
bool Reconnect(const Session& session,
               ResumeState& state,
               UniqueInternet& request,
               HANDLE file,
               std::wstring& error) {
  const std::wstring breakText = error;
  std::wstring lastFailure = error;
  const auto& onWait = session.options.onWait;
  for (;;) {
    const std::uint64_t now = GetTickCount64();
    if (ShouldGiveUp(state, now, session.options.giveUpAfterMs)) {
      error = lastFailure;
      return false;
    }
    const std::uint64_t left =
        state.aliveAtMs + session.options.giveUpAfterMs - now;
    if (!WaitBeforeAttempt(std::min(RetryWaitMs(state), left), onWait) ||
        (onWait && !onWait(0))) {
      error = L"Cancelled.";
      return false;
    }
    request.reset(session.Open(RangeHeaders(state)));
    if (!request) {
      lastFailure = CouldNotReach(session.url, GetLastError());
      NoteNoAnswer(state);
      continue;
    }
    const RetryAnswer answer = ReadAnswer(*session.api, request.get());
    const std::int64_t totalBefore = state.total;
    switch (JudgeRetryAnswer(state, answer)) {
      case RetryStep::kAppend:
        return true;
      case RetryStep::kStartOver:
        // Emptied first, so that the room check counts the space it frees.
        if (!Truncate(file)) {
          error = kWriteFailedText;
          return false;
        }
        return state.total <= 0 || state.total == totalBefore ||
               !session.options.checkRoom ||
               session.options.checkRoom(state.total, error);
      case RetryStep::kTryAgain:
        lastFailure = ServerAnswered(answer.status, session.url);
        break;
      case RetryStep::kMisfit:
        break;
      case RetryStep::kGiveUp:
        error = breakText;
        return false;
    }
    request.reset();
  }
}

}  // namespace

bool http_detail::OpenFirstAnswer(Session& session,
                                  UniqueInternet& request,
                                  const std::wstring& headers,
                                  bool partial,
                                  DWORD& status,
                                  std::wstring& error) {
  if (session.api) {
    session.root.reset(session.api->InternetOpenW(
        L"GormEkSetup/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  }
  if (!session.root) {
    error = L"No internet access.";
    return false;
  }
  SetTimeouts(*session.api, session.root.get());
  request.reset(session.Open(headers));
  if (!request) {
    error = CouldNotReach(session.url, GetLastError());
    return false;
  }
  status = StatusCode(*session.api, request.get());
  if (status != 200 && !partial) {
    error = ServerAnswered(status, session.url);
    return false;
  }
  return true;
}

bool http_detail::ReadToTheEnd(const Session& session,
                               ResumeState& state,
                               UniqueInternet& request,
                               const Target& target,
                               bool resume,
                               std::wstring& error) {
  if (resume) {
    // A window was asked for with the validator it must match.
    if (state.fileSize < 0)
      state.validator = ReadAnswer(*session.api, request.get()).validator;
    state.aliveAtMs = GetTickCount64();
  }
  std::vector<char> buffer(kReadSize);
  for (bool retrying = false;; retrying = true) {
    const std::int64_t before = state.received;
    const BodyEnd end =
        ReadBody(*session.api, request.get(), target.memory, target.file,
                 buffer, state.total, state.received, target.onProgress, error);
    if (end == BodyEnd::kComplete)
      return true;
    // Only a body that has begun to arrive is gone on with: a connection
    // that breaks before its first byte ends the download as it always did.
    if (end == BodyEnd::kStopped || !resume ||
        (!retrying && state.received == 0))
      return false;
    request.reset();
    NoteBreak(state, state.received > before, GetTickCount64());
    if (!Reconnect(session, state, request, target.file, error))
      return false;
  }
}

namespace {

// Hands the caller the validator of the file that arrived; always true.
bool NoteValidator(const DownloadOptions& options, const ResumeState& state) {
  if (options.validator)
    *options.validator = state.validator;
  return true;
}

}  // namespace

bool http_detail::ReadWholeFile(const Session& session,
                                UniqueInternet& request,
                                std::string* memoryTarget,
                                const std::wstring& filePath,
                                HANDLE held,
                                const DownloadProgress& onProgress,
                                std::wstring& error) {
  const DownloadOptions& options = session.options;
  ResumeState state;
  state.total = DeclaredLength(*session.api, request.get());
  // A held file is emptied first, so that the room check counts the space
  // its earlier bytes (a part, the start of a directory) took as free.
  if (held && !Truncate(held)) {
    error = kWriteFailedText;
    return false;
  }
  if (state.total > 0 && options.checkRoom &&
      !options.checkRoom(state.total, error))
    return false;
  if (held) {
    const bool resume = options.resume && !memoryTarget;
    const Target target{memoryTarget, held, onProgress};
    return ReadToTheEnd(session, state, request, target, resume, error) &&
           NoteValidator(options, state);
  }

  UniqueFile file;
  if (!filePath.empty()) {
    file.reset(CreateFileW(filePath.c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      error = L"Could not save the download to " + filePath;
      return false;
    }
  }
  bool ok = false;
  // A partly written file goes on every path that does not succeed, also
  // when an exception (out of memory in the progress report) ends the call.
  ScopeGuard removePartial([&] {
    if (file) {
      file.reset();
      if (!ok)
        DeleteFileW(filePath.c_str());
    }
  });
  // Only a file can be resumed: the version file is small, and a memory
  // target cannot be told apart from what a second answer would append.
  const bool resume = options.resume && file && !memoryTarget;
  const Target target{memoryTarget, file ? file.get() : nullptr, onProgress};
  ok = ReadToTheEnd(session, state, request, target, resume, error) &&
       NoteValidator(options, state);
  return ok;
}

namespace {

// HttpDownload with its own error text, which the caller takes only on
// failure.
bool Download(const std::wstring& url,
              std::string* memoryTarget,
              const std::wstring& filePath,
              const DownloadProgress& onProgress,
              std::wstring& error,
              const DownloadOptions& options) {
  // Destruction runs in reverse order of declaration: the request, then the
  // root handle (in session), on every path.
  Session session{LoadWinInet(), {}, url, options};
  UniqueInternet request;
  DWORD status = 0;
  return OpenFirstAnswer(session, request, L"", false, status, error) &&
         ReadWholeFile(session, request, memoryTarget, filePath, nullptr,
                       onProgress, error);
}

}  // namespace

bool HttpDownload(const std::wstring& url,
                  std::string* memoryTarget,
                  const std::wstring& filePath,
                  const DownloadProgress& onProgress,
                  std::wstring& errorText,
                  const DownloadOptions& options) {
  std::wstring error;
  if (Download(url, memoryTarget, filePath, onProgress, error, options))
    return true;
  errorText = std::move(error);
  return false;
}
