// The decisions of a download that goes on after a break, as tables: no
// site, no clock, no sleeping.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/resume.h"

namespace {

const std::wstring kEtag = L"\"abc-1\"";
const std::wstring kDate = L"Tue, 01 Dec 2026 10:00:00 GMT";

// 1000 of 5000 bytes arrived when the body broke; the next request asks
// for the rest.
ResumeState Broken() {
  ResumeState state;
  state.received = 1000;
  state.total = 5000;
  state.validator = kEtag;
  state.askRange = true;
  return state;
}

RetryAnswer Rest() {
  return {206, L"bytes 1000-4999/5000", 4000, kEtag, kEtag, L""};
}

RetryAnswer Whole(std::int64_t length = 5000,
                  const std::wstring& validator = kEtag) {
  return {200, L"", length, validator, validator, L""};
}

RetryAnswer Status(unsigned long status) {
  return {status, L"", 6, L"", L"", L""};
}

TEST(ResumeTest, WhatAnAnswerToARetryMeans) {
  struct Row {
    const char* name;
    ResumeState state;
    RetryAnswer answer;
    RetryStep step;
    std::int64_t received;  // after the answer
    std::int64_t total;
  };
  ResumeState plain = Broken();
  plain.askRange = false;
  ResumeState noLength = Broken();
  noLength.total = -1;
  noLength.askRange = false;
  ResumeState byDate = Broken();
  byDate.validator = kDate;
  ResumeState misfitBefore = Broken();
  misfitBefore.misfits = 1;
  ResumeState startedOver = Broken();
  startedOver.startOvers = kMaxStartOvers;
  RetryAnswer wrongStart = Rest();
  wrongStart.contentRange = L"bytes 0-4999/5000";
  RetryAnswer wrongEnd = Rest();
  wrongEnd.contentRange = L"bytes 1000-2999/5000";
  RetryAnswer wrongFull = Rest();
  wrongFull.contentRange = L"bytes 1000-4999/6000";
  RetryAnswer wrongLength = Rest();
  wrongLength.contentLength = 3000;
  RetryAnswer otherEtag = Rest();
  otherEtag.etag = L"\"abc-2\"";
  // A host that ignores If-Range sends a range of the file it has now.
  RetryAnswer sameDate = Rest();
  sameDate.etag.clear();
  sameDate.lastModified = kDate;
  RetryAnswer otherDate = sameDate;
  otherDate.lastModified = L"Tue, 01 Dec 2026 10:00:01 GMT";
  RetryAnswer noRangeLength = Rest();
  noRangeLength.contentLength = -1;
  // A window of the file (some entries of a package): bytes [1000, 3000) of
  // 5000, 500 of them arrived.
  ResumeState window = Broken();
  window.offset = 1000;
  window.total = 2000;
  window.fileSize = 5000;
  window.received = 500;
  const RetryAnswer windowRest = {
      206, L"bytes 1500-2999/5000", 1500, kEtag, kEtag, L""};
  RetryAnswer pastTheWindow = windowRest;
  pastTheWindow.contentRange = L"bytes 1500-4999/5000";
  pastTheWindow.contentLength = 3500;
  const std::vector<Row> rows = {
      {"the rest of the same file", Broken(), Rest(), RetryStep::kAppend, 1000,
       5000},
      {"a 206 without a Content-Length", Broken(), noRangeLength,
       RetryStep::kAppend, 1000, 5000},
      {"a 206 with an ETag, the file known by its date", byDate, Rest(),
       RetryStep::kAppend, 1000, 5000},
      // Passing server errors keep the bytes.
      {"408", Broken(), Status(408), RetryStep::kTryAgain, 1000, 5000},
      {"429", Broken(), Status(429), RetryStep::kTryAgain, 1000, 5000},
      {"500", Broken(), Status(500), RetryStep::kTryAgain, 1000, 5000},
      {"502", Broken(), Status(502), RetryStep::kTryAgain, 1000, 5000},
      {"503", Broken(), Status(503), RetryStep::kTryAgain, 1000, 5000},
      {"504", Broken(), Status(504), RetryStep::kTryAgain, 1000, 5000},
      {"503 after a misfit", misfitBefore, Status(503), RetryStep::kTryAgain,
       1000, 5000},
      // A 206 that is not exactly the rest asked for.
      {"another start", Broken(), wrongStart, RetryStep::kMisfit, 1000, 5000},
      {"another end", Broken(), wrongEnd, RetryStep::kMisfit, 1000, 5000},
      {"another full length", Broken(), wrongFull, RetryStep::kMisfit, 1000,
       5000},
      {"a Content-Length that is not the rest", Broken(), wrongLength,
       RetryStep::kMisfit, 1000, 5000},
      {"another file's ETag", Broken(), otherEtag, RetryStep::kMisfit, 1000,
       5000},
      {"the same date, the file known by its date", byDate, sameDate,
       RetryStep::kAppend, 1000, 5000},
      {"another date, the file known by its date", byDate, otherDate,
       RetryStep::kMisfit, 1000, 5000},
      {"a 206 to a plain request", plain, Rest(), RetryStep::kMisfit, 1000,
       5000},
      {"416", Broken(), Status(416), RetryStep::kMisfit, 1000, 5000},
      {"404", Broken(), Status(404), RetryStep::kMisfit, 1000, 5000},
      {"a second misfit after one break", misfitBefore, Status(416),
       RetryStep::kGiveUp, 1000, 5000},
      // The whole file again.
      {"a 200 of the same file", Broken(), Whole(), RetryStep::kStartOver, 0,
       5000},
      {"a 200 of a replaced file", Broken(), Whole(7000, L"\"abc-2\""),
       RetryStep::kStartOver, 0, 7000},
      {"a 200 without a length, the first had one", Broken(), Whole(-1),
       RetryStep::kMisfit, 1000, 5000},
      {"a 200 without a length, the first had none", noLength, Whole(-1),
       RetryStep::kStartOver, 0, -1},
      {"a start over too many of the same file", startedOver, Whole(),
       RetryStep::kGiveUp, 1000, 5000},
      {"a start over onto another file after many", startedOver,
       Whole(5000, L"\"abc-2\""), RetryStep::kStartOver, 0, 5000},
      {"the rest of a window", window, windowRest, RetryStep::kAppend, 500,
       2000},
      {"past the window's end", window, pastTheWindow, RetryStep::kMisfit, 500,
       2000},
      // The whole file instead: the window becomes the whole file.
      {"a 200 to a window", window, Whole(), RetryStep::kStartOver, 0, 5000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ResumeState state = row.state;
    EXPECT_EQ(row.step, JudgeRetryAnswer(state, row.answer));
    EXPECT_EQ(row.received, state.received);
    EXPECT_EQ(row.total, state.total);
    if (row.step == RetryStep::kMisfit) {
      EXPECT_FALSE(state.askRange);  // the next request asks for it all
    }
    if (row.step == RetryStep::kStartOver) {
      EXPECT_EQ(0, state.offset);
      EXPECT_EQ(-1, state.fileSize);
    }
  }
}

// Sequences of breaks and answers: what is counted per break, per file, and
// what keeps the download alive.
TEST(ResumeTest, BreaksAnswersAndTheGiveUpClock) {
  constexpr std::uint64_t kGiveUp = 120000;
  // Two passing errors at two breaks, an hour apart: neither ends it.
  ResumeState state = Broken();
  NoteBreak(state, true, 0);
  EXPECT_EQ(RetryStep::kTryAgain, JudgeRetryAnswer(state, Status(503)));
  EXPECT_EQ(1000u, RetryWaitMs(state));  // waits, keeps the bytes
  EXPECT_EQ(RetryStep::kAppend, JudgeRetryAnswer(state, Rest()));
  state.received = 3000;
  NoteBreak(state, true, 3600000);
  EXPECT_EQ(0u, RetryWaitMs(state));  // bytes arrived: at once
  EXPECT_EQ(RetryStep::kTryAgain, JudgeRetryAnswer(state, Status(502)));
  EXPECT_FALSE(ShouldGiveUp(state, 3600000 + kGiveUp - 1, kGiveUp));

  // A misfit at each of two breaks: counted per break, so it goes on.
  state = Broken();
  NoteBreak(state, true, 0);
  EXPECT_EQ(RetryStep::kMisfit, JudgeRetryAnswer(state, Status(416)));
  EXPECT_EQ(RetryStep::kStartOver, JudgeRetryAnswer(state, Whole()));
  state.received = 2000;
  NoteBreak(state, true, 1000);
  EXPECT_TRUE(state.askRange);
  EXPECT_EQ(RetryStep::kMisfit, JudgeRetryAnswer(state, Status(416)));

  // An attempt that streamed for long and broke below what an earlier one
  // reached still brought bytes: the clock starts again at its break.
  state = Broken();
  NoteBreak(state, true, 0);
  EXPECT_EQ(RetryStep::kStartOver, JudgeRetryAnswer(state, Whole()));
  state.received = 500;  // less than the 1000 of the first attempt
  NoteBreak(state, true, 200000);
  EXPECT_FALSE(ShouldGiveUp(state, 200000 + kGiveUp - 1, kGiveUp));
  EXPECT_TRUE(ShouldGiveUp(state, 200000 + kGiveUp, kGiveUp));
  EXPECT_EQ(0u, RetryWaitMs(state));

  // Attempts without a byte wait longer and longer, then give up.
  state = Broken();
  NoteBreak(state, true, 0);
  std::vector<std::uint64_t> waits;
  for (int i = 0; i < 6; ++i) {
    waits.push_back(RetryWaitMs(state));
    NoteNoAnswer(state);
  }
  EXPECT_EQ((std::vector<std::uint64_t>{0, 1000, 2000, 4000, 8000, 15000}),
            waits);
  NoteBreak(state, false, 50000);
  EXPECT_TRUE(ShouldGiveUp(state, kGiveUp, kGiveUp));

  // A host that ignores ranges and breaks every answer at the same place:
  // bytes arrive each time, but the start overs of the same file end it.
  state = Broken();
  int startOvers = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    NoteBreak(state, true, attempt * 1000u);
    const RetryStep step = JudgeRetryAnswer(state, Whole());
    if (step != RetryStep::kStartOver) {
      EXPECT_EQ(RetryStep::kGiveUp, step);
      break;
    }
    ++startOvers;
    state.received = 1000;
  }
  EXPECT_EQ(kMaxStartOvers, startOvers);

  // Nothing tells the files apart, or no length to check against: a break
  // asks for the whole file, never for a range.
  state = Broken();
  state.validator.clear();
  NoteBreak(state, true, 0);
  EXPECT_FALSE(state.askRange);
  state = Broken();
  state.total = -1;
  NoteBreak(state, true, 0);
  EXPECT_FALSE(state.askRange);
}

TEST(ResumeTest, TheRangeAskedFor) {
  ResumeState state = Broken();
  EXPECT_EQ(L"Range: bytes=1000-\r\nIf-Range: " + kEtag + L"\r\n",
            RangeHeaders(state));
  state.offset = 1000;
  state.total = 2000;
  state.fileSize = 5000;
  state.received = 500;
  EXPECT_EQ(L"Range: bytes=1500-2999\r\nIf-Range: " + kEtag + L"\r\n",
            RangeHeaders(state));
  state.askRange = false;
  EXPECT_EQ(L"", RangeHeaders(state));
}

TEST(ResumeTest, TheValidatorSentInIfRange) {
  struct Row {
    const char* name;
    std::wstring etag;
    std::wstring lastModified;
    std::wstring chosen;
  };
  const Row rows[] = {
      {"a strong ETag", kEtag, kDate, kEtag},
      {"a weak ETag: the date instead", L"W/\"abc\"", kDate, kDate},
      {"a weak ETag alone: none", L"W/\"abc\"", L"", L""},
      {"no ETag", L"", kDate, kDate},
      {"neither", L"", L"", L""},
      {"a line break never goes back", L"\"a\r\nX: y\"", L"", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.chosen, ChooseValidator(row.etag, row.lastModified));
  }
}

}  // namespace
