// The pieces of one WinINet download that whole downloads (http_download)
// and ranged ones (http_ranges) share. Internal to the transfer folder.
#pragma once

#include <windows.h>

#include <wininet.h>

#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "transfer/http_download.h"
#include "transfer/resume.h"
#include "transfer/wininet_api.h"

namespace http_detail {

constexpr DWORD kReadSize = 64 * 1024;

void CloseInternet(HINTERNET h);
using UniqueInternet =
    UniqueHandle<HINTERNET, CloseInternet, handle_detail::Null<HINTERNET>>;

// One download's fixed parts.
struct Session {
  const WinInetApi* api = nullptr;
  UniqueInternet root;
  const std::wstring& url;
  const DownloadOptions& options;

  // A request for url with extra headers ("" for none); null on failure.
  HINTERNET Open(const std::wstring& headers) const;
};

// The answer's own account of itself (status, ranges, validator).
RetryAnswer ReadAnswer(const WinInetApi& api, HINTERNET request);

enum class BodyEnd {
  kComplete,  // the whole body arrived and was stored
  kBroken,    // a read failed or the body ended short: errorText says which
  kStopped,   // a write failed, the caller cancelled or memory was full
};

// Reads one answer's body to its end, appending to the targets (a null
// memoryTarget or file is none) and counting on from `received`; total is
// the declared length (-1 for none).
BodyEnd ReadBody(const WinInetApi& api,
                 HINTERNET request,
                 std::string* memoryTarget,
                 HANDLE file,
                 std::vector<char>& buffer,
                 std::int64_t total,
                 std::int64_t& received,
                 const DownloadProgress& onProgress,
                 std::wstring& errorText);

// Opens the root handle and the first request with headers. Its status in
// status; false with error set when there is no answer, or (unless partial)
// the answer is not a 200.
bool OpenFirstAnswer(Session& session,
                     UniqueInternet& request,
                     const std::wstring& headers,
                     bool partial,
                     DWORD& status,
                     std::wstring& error);

// Where the body goes.
struct Target {
  std::string* memory;  // null for none
  HANDLE file;          // null for none
  const DownloadProgress& onProgress;
};

// Reads the body to its end, going on after breaks when resume is set (a
// 200 on a retry empties target.file and starts it again from byte 0).
bool ReadToTheEnd(const Session& session,
                  ResumeState& state,
                  UniqueInternet& request,
                  const Target& target,
                  bool resume,
                  std::wstring& error);

// Reads a 200's body, the whole file, into the targets. The file is `held`
// when not null (emptied first; on failure it stays its owner's), else the
// file at filePath when not empty (created anew; deleted on failure). The
// room check and the resume of session.options apply.
bool ReadWholeFile(const Session& session,
                   UniqueInternet& request,
                   std::string* memoryTarget,
                   const std::wstring& filePath,
                   HANDLE held,
                   const DownloadProgress& onProgress,
                   std::wstring& error);

}  // namespace http_detail
