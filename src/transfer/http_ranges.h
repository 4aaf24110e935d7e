// Byte ranges of a published file with WinINet: its tail (one suffix range)
// and windows of it asked for with If-Range, so that an update fetches only
// the parts of a package it needs. The bytes go to a file the caller holds
// open for the whole fetch, never reopened by its path between requests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "transfer/http_download.h"

// What a request for part of a file brought.
enum class PartialResult {
  kPart,      // the part asked for
  kWhole,     // a 200: the whole file went to the held file instead, from
              // byte 0 (whatever it held before is gone)
  kNoRanges,  // no answer, another status, or one that does not fit: the
              // whole file must be fetched afresh (nothing was written)
  kFailed,    // errorText says why (a cancel, a write, a broken range)
};

// The last bytes of a file, asked for with one suffix range.
struct PackageTail {
  std::string bytes;
  std::int64_t fileSize = 0;
  std::wstring validator;  // as If-Range sends it; "" when none can be
};

// Where the tail's first byte lies in the file.
inline std::uint64_t TailStart(const PackageTail& tail) {
  return static_cast<std::uint64_t>(tail.fileSize) - tail.bytes.size();
}

// Asks for the last tailBytes of url ("Range: bytes=-N"). A 206 that ends
// the file: kPart, with tail filled and nothing written. A 200: the host
// ignores ranges, and that body, the whole file, is written to `file` (open
// for writing, emptied first) as HttpDownload would write it (kWhole, or
// kFailed with errorText). Anything else: kNoRanges.
PartialResult HttpDownloadTail(const std::wstring& url,
                               std::uint64_t tailBytes,
                               HANDLE file,
                               const DownloadProgress& onProgress,
                               PackageTail& tail,
                               std::wstring& errorText,
                               const DownloadOptions& options = {});

// Bytes [start, end) of a file of fileSize bytes known by validator.
struct ByteWindow {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t fileSize = 0;
  std::wstring validator;
};

// Asks for the window with If-Range and appends it to `file` (open for
// reading and writing); onProgress counts the window's bytes. With
// options.resume, a break goes on as HttpDownload's does. A 200 (the file
// changed on the server, or ranges are ignored) is the whole file: it
// replaces everything the file held, from byte 0 (kWhole). An answer that
// does not name exactly the window, or no validator: kNoRanges, nothing
// written. On kFailed errorText holds one sentence, and the file holds an
// unknown part of the window.
PartialResult HttpDownloadRange(const std::wstring& url,
                                const ByteWindow& window,
                                HANDLE file,
                                const DownloadProgress& onProgress,
                                std::wstring& errorText,
                                const DownloadOptions& options = {});
