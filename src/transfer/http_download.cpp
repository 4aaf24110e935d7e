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
#include "transfer/for_testing.h"
#include "transfer/wininet_api.h"

namespace {

constexpr DWORD kReadSize = 64 * 1024;
const wchar_t kWriteFailedText[] =
    L"Could not write the download to disk (is it full?).";
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE;

void CloseInternet(HINTERNET h) {
  LoadWinInet()->InternetCloseHandle(h);
}
using UniqueInternet =
    UniqueHandle<HINTERNET, CloseInternet, handle_detail::Null<HINTERNET>>;

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

// What tells this file from any other the server may serve under the same
// name later: its ETag, else its Last-Modified; "" when it has neither.
std::wstring Validator(const WinInetApi& api, HINTERNET request) {
  std::wstring validator = HeaderText(api, request, HTTP_QUERY_ETAG);
  if (validator.empty())
    validator = HeaderText(api, request, HTTP_QUERY_LAST_MODIFIED);
  // A value that could end the header line early is never sent back.
  if (validator.find_first_of(L"\r\n") != std::wstring::npos)
    validator.clear();
  return validator;
}

// True when the answer's Content-Range ("bytes START-END/FULL") starts at
// `start` and its full length is `full`.
bool RangeFits(const WinInetApi& api,
               HINTERNET request,
               std::int64_t start,
               std::int64_t full) {
  const std::wstring range = HeaderText(api, request, HTTP_QUERY_CONTENT_RANGE);
  const std::wstring unit = L"bytes ";
  if (range.compare(0, unit.size(), unit) != 0)
    return false;
  const std::size_t dash = range.find(L'-', unit.size());
  const std::size_t slash = range.find(L'/', unit.size());
  if (dash == std::wstring::npos || slash == std::wstring::npos || dash > slash)
    return false;
  const std::wstring_view text(range);
  const auto number = [](std::wstring_view digits) -> std::int64_t {
    if (digits.empty() ||
        digits.find_first_not_of(L"0123456789") != std::wstring_view::npos)
      return -1;
    return ParseDecimalSaturating(digits, 0,
                                  std::numeric_limits<std::int64_t>::max());
  };
  return number(text.substr(unit.size(), dash - unit.size())) == start &&
         number(text.substr(slash + 1)) == full;
}

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

enum class BodyEnd {
  kComplete,  // the whole body arrived and was stored
  kBroken,    // a read failed or the body ended short: errorText says which
  kStopped,   // a write failed, the caller cancelled or memory was full
};

// Reads one answer's body to its end, appending to the targets (a null
// memoryTarget or file is none) and counting on from `received`.
BodyEnd ReadBody(const WinInetApi& api,
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

// The waits before the attempts that follow one without new bytes.
constexpr std::uint64_t kRetryWaitsMs[] = {1000, 2000, 4000, 8000, 15000};

std::uint64_t RetryWaitMs(int quietAttempts) {
  if (quietAttempts <= 0)
    return 0;
  const int last = static_cast<int>(std::size(kRetryWaitsMs)) - 1;
  return kRetryWaitsMs[std::min(quietAttempts - 1, last)];
}

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

bool HttpDownload(const std::wstring& url,
                  std::string* memoryTarget,
                  const std::wstring& filePath,
                  const DownloadProgress& onProgress,
                  std::wstring& errorText,
                  const DownloadOptions& options) {
  const WinInetApi* api = LoadWinInet();
  // Destruction runs in reverse order of declaration: the file, then the
  // request, then the root handle, on every path.
  UniqueInternet root;
  if (api) {
    root.reset(api->InternetOpenW(
        L"GormEkSetup/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  }
  if (!root) {
    errorText = L"No internet access.";
    return false;
  }
  const auto open = [&](const std::wstring& headers) {
    return api->InternetOpenUrlW(
        root.get(), url.c_str(), headers.empty() ? nullptr : headers.c_str(),
        static_cast<DWORD>(headers.size()), kOpenUrlFlags, 0);
  };

  UniqueInternet request(open(L""));
  if (!request) {
    errorText = CouldNotReach(url, GetLastError());
    return false;
  }
  const DWORD status = StatusCode(*api, request.get());
  if (status != 200) {
    errorText =
        L"The server answered " + UnsignedToWide(status) + L" for\n" + url;
    return false;
  }

  std::int64_t total = DeclaredLength(*api, request.get());
  if (total > 0 && options.checkRoom && !options.checkRoom(total, errorText))
    return false;

  UniqueFile file;
  if (!filePath.empty()) {
    file.reset(CreateFileW(filePath.c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      errorText = L"Could not save the download to " + filePath;
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
  std::wstring validator = resume ? Validator(*api, request.get()) : L"";
  std::int64_t received = 0;
  std::int64_t longest = 0;  // what counts as growth after a start over
  std::uint64_t lastGrowth = GetTickCount64();
  int quietAttempts = 0;  // attempts in a row that brought no new bytes
  int misfits = 0;
  bool retrying = false;
  std::vector<char> buffer(kReadSize);
  for (;;) {
    const BodyEnd end =
        ReadBody(*api, request.get(), memoryTarget, file ? file.get() : nullptr,
                 buffer, total, received, onProgress, errorText);
    if (end == BodyEnd::kComplete) {
      ok = true;
      return true;
    }
    // Only a body that has begun to arrive is gone on with: a connection
    // that breaks before its first byte ends the download as it always did.
    if (end == BodyEnd::kStopped || !resume || (!retrying && received == 0))
      return false;
    retrying = true;

    // The body broke: keep what arrived and ask for the rest until the file
    // has not grown for the whole time allowed.
    request.reset();
    const std::wstring breakText = errorText;
    std::wstring lastFailure = errorText;
    if (received > longest) {
      longest = received;
      lastGrowth = GetTickCount64();
      quietAttempts = 0;
    } else {
      ++quietAttempts;
    }
    // Bytes of two different files are never spliced: without something
    // that tells the files apart, or without the full length to check the
    // answer against, the download starts over.
    bool startOver = validator.empty() || received == 0 || total <= 0;
    for (;;) {
      const std::uint64_t deadline = lastGrowth + options.giveUpAfterMs;
      const std::uint64_t now = GetTickCount64();
      if (now >= deadline) {
        errorText = lastFailure;
        return false;
      }
      if (!WaitBeforeAttempt(
              std::min(RetryWaitMs(quietAttempts), deadline - now),
              options.onWait) ||
          (options.onWait && !options.onWait(0))) {
        errorText = L"Cancelled.";
        return false;
      }
      const std::wstring headers =
          startOver ? L""
                    : L"Range: bytes=" +
                          UnsignedToWide(static_cast<std::uint64_t>(received)) +
                          L"-\r\nIf-Range: " + validator + L"\r\n";
      request.reset(open(headers));
      if (!request) {
        lastFailure = CouldNotReach(url, GetLastError());
        ++quietAttempts;
        continue;
      }
      const DWORD answer = StatusCode(*api, request.get());
      if (!startOver && answer == 206 &&
          RangeFits(*api, request.get(), received, total)) {
        break;  // the rest of the same file: append
      }
      if (answer == 200) {
        // The whole file again: the server ignores ranges, or the file
        // changed on the server. Start over from byte 0 in the same file.
        const std::int64_t length = DeclaredLength(*api, request.get());
        if (length > 0 && length != total && options.checkRoom &&
            !options.checkRoom(length, errorText)) {
          return false;
        }
        if (!Truncate(file.get())) {
          errorText = kWriteFailedText;
          return false;
        }
        total = length;
        validator = Validator(*api, request.get());
        received = 0;
        break;
      }
      // Another status, a range that does not fit: start over, once.
      request.reset();
      if (++misfits >= 2) {
        errorText = breakText;
        return false;
      }
      startOver = true;
      ++quietAttempts;
    }
  }
}
