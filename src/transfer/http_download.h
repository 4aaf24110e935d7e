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

// What a package download adds to a plain one. The defaults add nothing.
struct DownloadOptions {
  // Called once the first answer has declared its length (total > 0), before
  // a byte is written, and again when a later answer declares another one.
  // Returns false, with errorText set, to end the download there.
  std::function<bool(std::int64_t total, std::wstring& errorText)> checkRoom;

  // Go on after a break: when the body of a file download breaks after it
  // has begun to arrive (a read fails, or it ends before its declared
  // length), keep what arrived and ask again for the rest ("Range" with
  // "If-Range" carrying the first answer's strong ETag, else its
  // Last-Modified). A 206 with exactly the rest is appended; a 200 starts
  // over from byte 0 in the same file (at most kMaxStartOvers times for the
  // same file); a passing server error (503, ...) keeps the bytes and asks
  // again later; any other answer starts over, and a second such misfit
  // after one break ends the download. The first attempt after a break that
  // brought bytes goes at once; attempts that bring none wait 1, 2, 4, 8,
  // then 15 s. It gives up, with the sentence of the last failure, once no
  // byte has arrived for giveUpAfterMs. The decisions are in resume.h.
  bool resume = false;
  std::uint64_t giveUpAfterMs = 120000;

  // Called about every 100 ms while a resuming download waits, with the
  // whole seconds left before its next attempt, and with 0 just before each
  // attempt. Returns false to cancel ("Cancelled.").
  std::function<bool(int secondsLeft)> onWait;

  // With resume: when not null, set on success to the validator of the
  // answer the file came from ("" when it gave none), as If-Range sends it.
  std::wstring* validator = nullptr;
};

// Fetches `url` (used exactly as passed; redirects followed; the cache
// bypassed; user agent "GormEkSetup/1.0"; status 200 required; WinINet's
// connect, send and receive time-outs 15 s each).
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
// Every handle is closed before it returns. `options` may add the room
// check and the resume after a break (file downloads only).
bool HttpDownload(const std::wstring& url,
                  std::string* memoryTarget,
                  const std::wstring& filePath,
                  const DownloadProgress& onProgress,
                  std::wstring& errorText,
                  const DownloadOptions& options = {});

// The sentence for a download that could not be written (a full disk).
extern const wchar_t kWriteFailedText[];

// The line added to "Could not reach ..." when a certificate was refused.
extern const wchar_t kCertificateHint[];

// True for WinINet's errors about a refused certificate (date, name,
// authority, revocation) and the secure channel.
bool IsCertificateError(unsigned long error);
