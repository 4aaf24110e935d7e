// One HTTP(S) GET with WinINet into memory, a file, or both.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Called after every stored chunk with the bytes received so far and the
// declared size (Content-Length, or -1 when the server declared none).
// Returns true to go on, false to cancel.
using DownloadProgress =
    std::function<bool(std::int64_t received, std::int64_t total)>;

// The most a memory download takes: the version file is a few bytes, and a
// server that answers it with a huge body must not exhaust memory.
constexpr std::size_t kMaxMemoryDownload = 1024 * 1024;

// Fetches `url` (used exactly as passed; redirects followed; the cache
// bypassed; user agent "GormEkSetup/1.0"; status 200 required).
// - memoryTarget: when not null, every received byte is appended to it (it
//   is not cleared first); more than kMaxMemoryDownload bytes fail the call
//   as an invalid version file.
// - filePath: when not empty, the body is written to this file (created or
//   truncated); on any failure after creation the file is deleted.
// - onProgress: may be empty; called once per non-empty chunk, after it was
//   stored, never on a failure path.
// Returns true when the whole body arrived and was stored. On false,
// errorText holds one user-facing sentence; on true it is untouched. When
// the URL could not be opened because of the site's certificate or the
// secure channel, the sentence is followed by a line with kCertificateHint.
// Every handle is closed before it returns.
bool HttpDownload(const std::wstring& url,
                  std::string* memoryTarget,
                  const std::wstring& filePath,
                  const DownloadProgress& onProgress,
                  std::wstring& errorText);
