#include "transfer/http_download.h"

#include <windows.h>

#include <limits>
#include <vector>

#include "platform/scope_guard.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "transfer/for_testing.h"
#include "transfer/wininet_api.h"

namespace {

constexpr DWORD kReadSize = 64 * 1024;
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
                  std::wstring& errorText) {
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

  UniqueInternet request(api->InternetOpenUrlW(root.get(), url.c_str(), nullptr,
                                               0, kOpenUrlFlags, 0));
  if (!request) {
    const DWORD error = GetLastError();
    errorText =
        L"Could not reach " + url + L".\nCheck your internet connection.";
    // A connection that works but a certificate that is refused: the
    // player's clock, security software that intercepts connections, or the
    // site itself; checking the internet connection would not help.
    if (IsCertificateError(error)) {
      errorText += L"\n";
      errorText += kCertificateHint;
    }
    return false;
  }

  // A failed query leaves 0, which then reads as "answered 0".
  DWORD status = 0;
  DWORD statusBytes = sizeof(status);
  api->HttpQueryInfoW(request.get(),
                      HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &statusBytes, nullptr);
  if (status != 200) {
    errorText =
        L"The server answered " + UnsignedToWide(status) + L" for\n" + url;
    return false;
  }

  const std::int64_t total = DeclaredLength(*api, request.get());

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

  std::vector<char> buffer(kReadSize);
  std::int64_t received = 0;
  for (;;) {
    DWORD count = 0;
    if (!api->InternetReadFile(request.get(), buffer.data(), kReadSize,
                               &count)) {
      errorText = L"The download was interrupted.";
      break;
    }
    if (count == 0) {
      // A clean end before the declared length: the server closed early.
      if (total > 0 && received != total) {
        errorText = L"The download was incomplete. Try again.";
        break;
      }
      ok = true;
      break;
    }
    if (memoryTarget) {
      if (memoryTarget->size() + count > kMaxMemoryDownload) {
        errorText = L"The version file on the server is not valid.";
        break;
      }
      memoryTarget->append(buffer.data(), count);
    }
    if (file) {
      DWORD written = 0;
      if (!WriteFile(file.get(), buffer.data(), count, &written, nullptr) ||
          written != count) {
        errorText = L"Could not write the download to disk (is it full?).";
        break;
      }
    }
    received += count;
    if (onProgress && !onProgress(received, total)) {
      errorText = L"Cancelled.";
      break;
    }
  }

  return ok;
}
