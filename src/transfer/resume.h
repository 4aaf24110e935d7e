// The decisions of a package download that goes on after a break: what an
// answer to a retry means, and when to wait, ask again or give up. Pure
// functions of their inputs (no network, no clock, no sleeping), so that
// every case is one row of a table.
#pragma once

#include <cstdint>
#include <string>

// Where a resuming download stands.
struct ResumeState {
  // What is being fetched: bytes [offset, offset + total) of a file of
  // fileSize bytes. For a whole file offset is 0 and fileSize -1 (the same
  // as total); a window of it (some entries of a package) sets both.
  std::int64_t received = 0;  // bytes of the window in the target
  std::int64_t total = -1;    // the window's length; -1 when not declared
  std::int64_t offset = 0;
  std::int64_t fileSize = -1;
  // What tells this file from another the server may serve under the same
  // name: a strong ETag (quoted) or a Last-Modified date; "" when none.
  std::wstring validator;
  bool askRange = false;        // the next request asks for the rest
  std::uint64_t aliveAtMs = 0;  // GetTickCount64 when bytes last arrived
  int quietAttempts = 0;        // attempts in a row that brought no bytes
  int misfits = 0;              // answers since the last break that fit not
  int startOvers = 0;           // times this same file started over
};

// What the answer to a retry said.
struct RetryAnswer {
  unsigned long status = 0;
  std::wstring contentRange;        // "" when absent
  std::int64_t contentLength = -1;  // -1 when absent or unreadable
  std::wstring etag;                // "" when absent
  std::wstring validator;           // as ChooseValidator picks it
  std::wstring lastModified;        // "" when absent
};

enum class RetryStep {
  kAppend,     // a 206 with exactly the rest of the same file
  kStartOver,  // a 200: the whole file from byte 0 (state now describes it)
  kTryAgain,   // a passing server error: the bytes stay, ask again later
  kMisfit,     // an answer that does not fit: the next asks for it all
  kGiveUp,     // a second misfit in one break, or too many start overs
};

// At most this many start overs of the same file (same validator and
// length): a host that breaks every answer at the same place and ignores
// ranges brings bytes each time, but must still end.
constexpr int kMaxStartOvers = 3;

// The validator to send in If-Range: the ETag unless it is weak ("W/...",
// which a server must not honour in If-Range), else Last-Modified; "" when
// neither can be used or one holds a line break.
std::wstring ChooseValidator(const std::wstring& etag,
                             const std::wstring& lastModified);

// Records a break of the body. bytesArrived: the attempt that broke brought
// at least one byte, which proves the link alive: the quiet series and the
// give-up clock start again at nowMs. The misfits of the last break are
// forgotten, and the next request asks for the rest only when the file can
// be told apart (validator) and checked (declared length).
void NoteBreak(ResumeState& state, bool bytesArrived, std::uint64_t nowMs);

// The Range (and If-Range) header lines that ask for the rest of the
// window; "" when the next request asks for the whole file.
std::wstring RangeHeaders(const ResumeState& state);

// Records an attempt that did not get an answer at all (no connection).
void NoteNoAnswer(ResumeState& state);

// How long to wait before the next attempt: none after an attempt that
// brought bytes, then 1, 2, 4, 8 and 15 s for each quiet attempt in a row.
std::uint64_t RetryWaitMs(const ResumeState& state);

// True once no byte has arrived for giveUpAfterMs.
bool ShouldGiveUp(const ResumeState& state,
                  std::uint64_t nowMs,
                  std::uint64_t giveUpAfterMs);

// What the answer to a retry means, and the state it leaves: a 206 is
// appended only when a range was asked and its Content-Range names exactly
// the rest of the window (from offset + received to its end, in a file of
// the known size), its Content-Length (if any) that many bytes, and its
// validator of the kind the file is known by (ETag or Last-Modified), if
// it sends one, the same. A 200 starts over with the whole file (the file
// changed, or the host ignores ranges; a window becomes the whole file)
// unless it lacks a length that the first answer had. 408, 429, 500, 502,
// 503 and 504 try again. Anything else is a misfit.
RetryStep JudgeRetryAnswer(ResumeState& state, const RetryAnswer& answer);

// True for the statuses of a server or proxy that may answer the next
// request: 408, 429, 500, 502, 503, 504.
bool IsPassingStatus(unsigned long status);
