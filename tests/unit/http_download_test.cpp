// HttpDownload against tools/site on 127.0.0.1, with the real WinINet.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <string>
#include <vector>

#include "transfer/http_download.h"
#include "platform/paths.h"
#include "platform/unique_handle.h"
#include "transfer/http_ranges.h"
#include "transfer/wininet_api.h"
#include "test_support.h"

namespace {

struct Call {
  std::int64_t received;
  std::int64_t total;
};

class HttpDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    site_ = test::SiteUrl();
    test::WriteSiteFile(L"small.txt", "42\n");
    big_ = test::PatternBytes(300 * 1024 + 17);
    test::WriteSiteFile(L"big.bin", big_);
    target_ = dir_.path() + L"\\package.zip";
  }

  // Downloads into a file and records the callback's calls.
  bool ToFile(const std::wstring& url, std::wstring& error) {
    calls_.clear();
    return HttpDownload(
        url, nullptr, target_,
        [this](std::int64_t r, std::int64_t t) {
          calls_.push_back({r, t});
          return true;
        },
        error);
  }

  std::wstring site_;
  std::string big_;
  test::ScratchDir dir_;
  std::wstring target_;
  std::vector<Call> calls_;
};

TEST_F(HttpDownloadTest, VersionFileIntoMemory) {
  std::string body;
  std::wstring error = L"untouched";
  ASSERT_TRUE(HttpDownload(site_ + L"small.txt?t=123", &body, L"", {}, error));
  EXPECT_EQ("42\n", body);
  EXPECT_EQ(L"untouched", error);
}

TEST_F(HttpDownloadTest, MemoryTargetIsAppendedTo) {
  std::string body = "x";
  std::wstring error;
  ASSERT_TRUE(HttpDownload(site_ + L"small.txt", &body, L"", {}, error));
  EXPECT_EQ("x42\n", body);
}

TEST_F(HttpDownloadTest, FileWithProgress) {
  std::wstring error;
  ASSERT_TRUE(ToFile(site_ + L"big.bin", error));
  EXPECT_TRUE(big_ == test::ReadFileBytes(target_));
  ASSERT_FALSE(calls_.empty());
  std::int64_t previous = 0;
  for (const Call& c : calls_) {
    EXPECT_EQ(static_cast<std::int64_t>(big_.size()), c.total);
    EXPECT_GT(c.received, previous);  // one call per non-empty chunk
    EXPECT_LE(c.received - previous, 65536);
    previous = c.received;
  }
  EXPECT_EQ(static_cast<std::int64_t>(big_.size()), calls_.back().received);
  EXPECT_GE(calls_.size(), (big_.size() + 65535) / 65536);
}

TEST_F(HttpDownloadTest, MemoryAndFileTogether) {
  std::string body;
  std::wstring error;
  ASSERT_TRUE(HttpDownload(site_ + L"big.bin", &body, target_, {}, error));
  EXPECT_TRUE(big_ == body);
  EXPECT_TRUE(big_ == test::ReadFileBytes(target_));
}

struct FailureCase {
  const char* name;
  std::wstring path;  // under the site
  std::wstring (*expected)(const std::wstring& url);
};

std::wstring Answered(const std::wstring& status, const std::wstring& url) {
  return L"The server answered " + status + L" for\n" + url;
}

// Every case of a table on every site.
template <typename Case, std::size_t N>
std::vector<std::pair<std::wstring, Case>> Over(
    std::initializer_list<std::wstring> sites,
    const Case (&cases)[N]) {
  std::vector<std::pair<std::wstring, Case>> all;
  for (const std::wstring& site : sites) {
    for (const Case& c : cases)
      all.emplace_back(site, c);
  }
  return all;
}

TEST_F(HttpDownloadTest, FailuresDeleteTheFile) {
  const FailureCase cases[] = {
      {"404", L"_f/status-404/big.bin?t=1",
       [](const std::wstring& u) { return Answered(L"404", u); }},
      {"missing file", L"nothing.zip",
       [](const std::wstring& u) { return Answered(L"404", u); }},
      {"500", L"_f/status-500/big.bin",
       [](const std::wstring& u) { return Answered(L"500", u); }},
      {"204", L"_f/status-204/big.bin",
       [](const std::wstring& u) { return Answered(L"204", u); }},
      {"206", L"_f/status-206/big.bin",
       [](const std::wstring& u) { return Answered(L"206", u); }},
      {"closed early", L"_f/cut-100000/big.bin",
       [](const std::wstring&) {
         return std::wstring(L"The download was incomplete. Try again.");
       }},
      {"reset mid-body", L"_f/reset-100000/big.bin",
       [](const std::wstring&) {
         return std::wstring(L"The download was interrupted.");
       }},
  };
  // The same over HTTPS: tools/site behind nginx, and tools/site speaking
  // TLS itself (behind nginx a reset reaches the client as a clean early
  // close, "incomplete"; only the server itself can reset the connection).
  test::WriteFileBytes(test::HttpsFilePath(L"fault-site", L"big.bin"), big_);
  for (const auto& [site, c] : Over({site_, std::wstring(test::kHttpsFaultSite),
                                     std::wstring(test::kTlsFaultSite)},
                                    cases)) {
    SCOPED_TRACE(c.name);
    SCOPED_TRACE(test::Narrow(site));
    if (site == test::kHttpsFaultSite &&
        std::string(c.name) == "reset mid-body")
      continue;
    // An earlier file at the target is truncated or left alone, then gone.
    test::WriteFileBytes(target_, "earlier contents");
    const std::wstring url = site + c.path;
    std::wstring error;
    EXPECT_FALSE(ToFile(url, error));
    EXPECT_EQ(c.expected(url), error);
    const bool statusFailure = error.rfind(L"The server answered", 0) == 0;
    if (statusFailure) {
      // The file is never opened when the status is wrong.
      EXPECT_EQ("earlier contents", test::ReadFileBytes(target_));
      EXPECT_TRUE(calls_.empty());
    } else {
      EXPECT_FALSE(test::FileExists(target_));
    }
    DeleteFileW(target_.c_str());
  }
}

TEST_F(HttpDownloadTest, UnreachableServer) {
  const std::wstring urls[] = {test::RefusingUrl(), L"not a url"};
  for (const std::wstring& url : urls) {
    std::wstring error;
    EXPECT_FALSE(ToFile(url, error));
    EXPECT_EQ(L"Could not reach " + url + L".\nCheck your internet connection.",
              error);
    EXPECT_FALSE(test::FileExists(target_));
  }
}

// The players' path: HTTPS from nginx, certificates checked. A refused
// certificate reads like an unreachable site plus one line on the likely
// causes; the WinINet error behind each is the one Windows reports too.
TEST_F(HttpDownloadTest, HttpsAndRefusedCertificates) {
  // The recommended nginx configuration serves packages and version.txt.
  test::WriteFileBytes(test::HttpsFilePath(L"site", L"GormEk-0099.zip"), big_);
  std::wstring error = L"untouched";
  ASSERT_TRUE(
      ToFile(std::wstring(test::kHttpsSite) + L"GormEk-0099.zip", error));
  EXPECT_EQ(big_, test::ReadFileBytes(target_));
  EXPECT_EQ(L"untouched", error);
  DeleteFileW(target_.c_str());

  struct Case {
    const char* name;
    int port;
    DWORD code;
    DWORD wineCode;  // where Wine 8 reports another one
  };
  const Case cases[] = {
      {"expired", 47444, ERROR_INTERNET_SEC_CERT_DATE_INVALID, 0},     // 12037
      {"another name", 47445, ERROR_INTERNET_SEC_CERT_CN_INVALID, 0},  // 12038
      {"self-signed", 47446, ERROR_INTERNET_INVALID_CA, 0},            // 12045
      // Windows: the authority is unknown (12045). Wine 8 instead reports
      // that revocation could not be checked (12057) for a chain ending in
      // an authority that is not in its store.
      {"untrusted authority", 47447, ERROR_INTERNET_INVALID_CA,
       ERROR_INTERNET_SEC_CERT_REV_FAILED},
      {"TLS 1.3 only", 47448, ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
       0},  // 12157
  };
  const WinInetApi* api = LoadWinInet();
  ASSERT_NE(nullptr, api);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring url =
        L"https://localhost:" + std::to_wstring(c.port) + L"/big.bin";
    error.clear();
    EXPECT_FALSE(ToFile(url, error));
    EXPECT_EQ(L"Could not reach " + url +
                  L".\nCheck your internet connection.\n" + kCertificateHint,
              error);
    EXPECT_FALSE(test::FileExists(target_));
    HINTERNET root = api->InternetOpenW(L"t", INTERNET_OPEN_TYPE_PRECONFIG,
                                        nullptr, nullptr, 0);
    HINTERNET request = api->InternetOpenUrlW(root, url.c_str(), nullptr, 0,
                                              INTERNET_FLAG_RELOAD, 0);
    const DWORD code = GetLastError();
    EXPECT_EQ(nullptr, request);
    EXPECT_TRUE(code == c.code || (c.wineCode && code == c.wineCode)) << code;
    EXPECT_TRUE(IsCertificateError(code));
    if (request)
      api->InternetCloseHandle(request);
    api->InternetCloseHandle(root);
  }
  EXPECT_FALSE(IsCertificateError(ERROR_INTERNET_CANNOT_CONNECT));
}

// A version file replaced while nginx serves it, as tools/publish does it
// (a temporary file, then a rename), is never read stale: the cache flags
// reach the server, and nginx opens the file anew for each request.
TEST_F(HttpDownloadTest, VersionReplacedByRenameIsNeverReadStale) {
  const std::wstring file = test::HttpsFilePath(L"site", L"version.txt");
  const std::wstring partial = file + L".partial";
  for (int version = 1; version <= 40; ++version) {
    const std::string text = std::to_string(version) + "\n";
    test::WriteFileBytes(partial, text);
    ASSERT_TRUE(
        MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
    std::string body;
    std::wstring error;
    ASSERT_TRUE(HttpDownload(std::wstring(test::kHttpsSite) +
                                 L"version.txt?t=" + std::to_wstring(version),
                             &body, L"", {}, error))
        << test::Narrow(error);
    ASSERT_EQ(text, body);
  }
}

TEST_F(HttpDownloadTest, UndeclaredOrUnreadableLengthTurnsTheCheckOff) {
  const std::pair<std::wstring, std::int64_t> cases[] = {
      {L"_f/chunked/big.bin", -1},
      {L"_f/length-abc/big.bin", 0},
  };
  for (const auto& [path, total] : cases) {
    SCOPED_TRACE(test::Narrow(path));
    std::wstring error;
    ASSERT_TRUE(ToFile(site_ + path, error)) << test::Narrow(error);
    EXPECT_TRUE(big_ == test::ReadFileBytes(target_));
    ASSERT_FALSE(calls_.empty());
    for (const Call& c : calls_)
      EXPECT_EQ(total, c.total);
  }
}

TEST_F(HttpDownloadTest, ZeroLengthAnswerSucceedsEmpty) {
  test::WriteSiteFile(L"empty.bin", "");
  const std::wstring paths[] = {L"empty.bin", L"_f/chunked/empty.bin",
                                L"_f/length-0/big.bin"};
  for (const std::wstring& path : paths) {
    SCOPED_TRACE(test::Narrow(path));
    std::wstring error;
    ASSERT_TRUE(ToFile(site_ + path, error)) << test::Narrow(error);
    EXPECT_TRUE(test::FileExists(target_));
    EXPECT_EQ(0u, test::ReadFileBytes(target_).size());
    EXPECT_TRUE(calls_.empty());
  }
}

TEST_F(HttpDownloadTest, RedirectIsFollowed) {
  std::wstring error;
  ASSERT_TRUE(ToFile(site_ + L"_f/redirect/big.bin", error));
  EXPECT_TRUE(big_ == test::ReadFileBytes(target_));
}

TEST_F(HttpDownloadTest, CancelOnTheLastChunkStillFails) {
  std::wstring error;
  int calls = 0;
  const std::int64_t size = static_cast<std::int64_t>(big_.size());
  EXPECT_FALSE(HttpDownload(
      site_ + L"big.bin", nullptr, target_,
      [&](std::int64_t received, std::int64_t) {
        ++calls;
        return received < size;
      },
      error));
  EXPECT_EQ(L"Cancelled.", error);
  EXPECT_FALSE(test::FileExists(target_));
  EXPECT_GE(calls, 1);
}

TEST_F(HttpDownloadTest, CancelStopsAtTheFirstChunk) {
  std::wstring error;
  int calls = 0;
  EXPECT_FALSE(HttpDownload(
      site_ + L"big.bin", nullptr, target_,
      [&](std::int64_t, std::int64_t) {
        ++calls;
        return false;
      },
      error));
  EXPECT_EQ(1, calls);
  EXPECT_EQ(L"Cancelled.", error);
  EXPECT_FALSE(test::FileExists(target_));
}

TEST_F(HttpDownloadTest, FileThatCannotBeCreated) {
  const std::wstring path = dir_.path() + L"\\missing\\package.zip";
  std::wstring error;
  int calls = 0;
  EXPECT_FALSE(HttpDownload(
      site_ + L"big.bin", nullptr, path,
      [&](std::int64_t, std::int64_t) {
        ++calls;
        return true;
      },
      error));
  EXPECT_EQ(L"Could not save the download to " + path, error);
  EXPECT_EQ(0, calls);

  // A file held open without sharing by someone else cannot be created either.
  HANDLE held = CreateFileW(target_.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(ToFile(site_ + L"big.bin", error));
  EXPECT_EQ(L"Could not save the download to " + target_, error);
  CloseHandle(held);
  EXPECT_TRUE(test::FileExists(target_));  // not ours to delete
}

TEST_F(HttpDownloadTest, MemoryDownloadStopsBeyondOneMiB) {
  std::string body;
  std::wstring error;
  EXPECT_FALSE(
      HttpDownload(site_ + L"_f/big-2/version.txt", &body, L"", {}, error));
  EXPECT_EQ(L"The version file on the server is not valid.", error);
  EXPECT_LE(body.size(), kMaxMemoryDownload);

  body.clear();
  test::WriteSiteFile(L"exact.txt", std::string(kMaxMemoryDownload, '7'));
  ASSERT_TRUE(HttpDownload(site_ + L"exact.txt", &body, L"", {}, error));
  EXPECT_EQ(kMaxMemoryDownload, body.size());
}

TEST_F(HttpDownloadTest, SendsUserAgentAndNoCacheHeader) {
  std::string body;
  std::wstring error;
  ASSERT_TRUE(HttpDownload(site_ + L"_echo", &body, L"", {}, error));
  EXPECT_NE(std::string::npos, body.find("User-Agent: GormEkSetup/1.0\n"))
      << body;
  EXPECT_NE(std::string::npos, body.find("Pragma: no-cache")) << body;
}

// The same URL twice gives the server's current file, never a cached copy.
TEST_F(HttpDownloadTest, NoCachedCopyIsServed) {
  std::string body;
  std::wstring error;
  ASSERT_TRUE(HttpDownload(site_ + L"small.txt", &body, L"", {}, error));
  test::WriteSiteFile(L"small.txt", "43\n");
  body.clear();
  ASSERT_TRUE(HttpDownload(site_ + L"small.txt", &body, L"", {}, error));
  EXPECT_EQ("43\n", body);
}

TEST(WinInet, LoadedFromTheSystemDirectory) {
  ASSERT_NE(nullptr, LoadWinInet());
  HMODULE module = GetModuleHandleW(L"wininet.dll");
  ASSERT_NE(nullptr, module);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(0, _wcsnicmp(path, system, wcslen(system))) << test::Narrow(path);
}

}  // namespace

// A package download that breaks goes on where it left off, never splices
// two different files, and starts over when it cannot go on.
TEST_F(HttpDownloadTest, ResumeAfterBreaks) {
  const std::string next = test::PatternBytes(200 * 1024 + 5, 2);
  struct Case {
    const char* name;
    std::wstring site;
    std::wstring pathFaults;  // for every answer
    std::wstring fileFaults;  // per file name ("%2B" joins them)
    bool ok;
    const wchar_t* error;  // when it fails
    int ranged;            // requests that asked for a range; -1: not logged
    bool onlyMissingBytes;
    bool sameSize = false;  // the replacement is as long as the file
  };
  const std::wstring once = L"%2Btimes-1";
  const Case cases[] = {
      {"break once", site_, L"", L"cut-100000" + once, true, nullptr, 1, true},
      // What WinINet had buffered when the reset came is asked for again.
      {"reset once", site_, L"", L"reset-100000" + once, true, nullptr, 1,
       false},
      {"break on every answer", site_, L"", L"cut-65536", true, nullptr, 4,
       true},
      // A 200 to the range: the whole file again, from byte 0.
      {"ranges ignored", site_, L"_f/norange/", L"cut-100000" + once, true,
       nullptr, 1, false},
      {"file replaced on the server", site_, L"",
       L"cut-100000%2Breplace" + once, true, nullptr, 1, false},
      // Nothing tells two files apart: never asks for a range.
      {"no validator", site_, L"_f/novalidator/", L"cut-100000" + once, true,
       nullptr, 0, false},
      {"Last-Modified only", site_, L"_f/noetag/", L"cut-100000" + once, true,
       nullptr, 1, true},
      // The range's date names the replacement: never joined to the first.
      {"Last-Modified only, If-Range ignored, replaced at the same size", site_,
       L"_f/noetag+ignoreifrange/", L"cut-100000%2Breplace" + once, true,
       nullptr, 1, false, true},
      // A passing server error after a break keeps the bytes.
      {"break, then a passing 503", site_, L"", L"cut-100000,status-503", true,
       nullptr, 2, true},
      {"two breaks, each followed by a passing error", site_, L"",
       L"cut-100000,status-503,cut-100000,status-502", true, nullptr, 4, true},
      // A misfit at every break: each starts over, until the start overs of
      // the same file end it.
      {"ranges refused at every break", site_, L"_f/rangefail-416/",
       L"cut-100000", false, L"The download was incomplete. Try again.", 4,
       false},
      {"through nginx", std::wstring(test::kHttpsFaultSite), L"",
       L"cut-100000" + once, true, nullptr, -1, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring name = L"resume-" + std::to_wstring(++n) + L".bin";
    const bool https = c.site == test::kHttpsFaultSite;
    const std::wstring file = https ? test::HttpsFilePath(L"fault-site", name)
                                    : test::SiteFilePath(name);
    test::WriteFileBytes(file, big_);
    test::WriteFileBytes(
        file + L".next",
        c.sameSize ? test::PatternBytes(big_.size(), 3) : next);
    // A date a second apart at least: Last-Modified counts whole seconds.
    test::SetWriteTimeBack(file + L".next", 3600);
    std::string ignored;
    std::wstring error;
    ASSERT_TRUE(HttpDownload(
        c.site + L"_control/set?file=" + name + L"&fault=" + c.fileFaults,
        &ignored, L"", {}, error));
    DownloadOptions options;
    options.resume = true;
    const bool ok = HttpDownload(c.site + c.pathFaults + name, nullptr, target_,
                                 {}, error, options);
    ASSERT_EQ(c.ok, ok) << test::Narrow(error);
    const std::string expected =
        c.fileFaults.find(L"replace") == std::wstring::npos ? big_
        : c.sameSize ? test::PatternBytes(big_.size(), 3)
                     : next;
    if (ok)
      EXPECT_TRUE(expected == test::ReadFileBytes(target_));
    else
      EXPECT_EQ(c.error, error);
    EXPECT_EQ(ok, test::FileExists(target_));
    if (c.ranged >= 0) {
      const auto requests = test::SiteRequests(test::Narrow(name));
      int ranged = 0;
      long long sent = 0;
      for (const std::string& r : requests) {
        if (r.find("/_control/") != std::string::npos)
          continue;
        ranged += r.find("\"range\": \"bytes=") != std::string::npos;
        sent += std::stoll(r.substr(r.find("\"sent\": ") + 8));
      }
      EXPECT_EQ(c.ranged, ranged);
      if (c.onlyMissingBytes) {
        EXPECT_EQ(static_cast<long long>(big_.size()), sent);
      }
    }
    DeleteFileW(target_.c_str());
  }
}

// A server whose answers stop at the same byte: the download waits longer
// and longer, gives up once the file has not grown for the time allowed,
// with the break's sentence, and a cancel during a wait ends it there.
TEST_F(HttpDownloadTest, GivesUpOrCancelsWhileTheFileDoesNotGrow) {
  const std::wstring url = site_ + L"_f/stuck-100000/big.bin";
  DownloadOptions options;
  options.resume = true;
  // Room for the waits of 1 and 2 s however slowly each attempt goes.
  options.giveUpAfterMs = 6000;
  std::vector<int> waits;
  options.onWait = [&waits](int secondsLeft) {
    waits.push_back(secondsLeft);
    return true;
  };
  std::wstring error;
  ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(HttpDownload(url, nullptr, target_, {}, error, options));
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_EQ(L"The download was incomplete. Try again.", error);
  EXPECT_FALSE(test::FileExists(target_));
  EXPECT_GE(took, 6000u);
  EXPECT_LT(took, 60000u);
  // At once after the break, then after 1 s and 2 s.
  ASSERT_FALSE(waits.empty());
  EXPECT_EQ(0, waits.front());
  EXPECT_NE(waits.end(), std::find(waits.begin(), waits.end(), 2));

  // A cancel during the wait after the second answer: no more waiting, and
  // no third request.
  options.giveUpAfterMs = 60000;
  int asksAfterTheCancel = -1;
  options.onWait = [&asksAfterTheCancel](int secondsLeft) {
    if (asksAfterTheCancel >= 0) {
      ++asksAfterTheCancel;
      return false;
    }
    if (secondsLeft > 0)
      asksAfterTheCancel = 0;
    return secondsLeft == 0;
  };
  const std::size_t before = test::SiteRequests("stuck-100000").size();
  EXPECT_FALSE(HttpDownload(url, nullptr, target_, {}, error, options));
  EXPECT_EQ(L"Cancelled.", error);
  EXPECT_FALSE(test::FileExists(target_));
  EXPECT_EQ(0, asksAfterTheCancel);
  EXPECT_EQ(before + 2, test::SiteRequests("stuck-100000").size());
}

// The room check runs before the file is created: a refusal leaves nothing.
TEST_F(HttpDownloadTest, RoomCheckBeforeAnyByteIsWritten) {
  DownloadOptions options;
  std::int64_t checked = 0;
  options.checkRoom = [&checked](std::int64_t total, std::wstring& error) {
    checked = total;
    error = L"no room";
    return false;
  };
  std::wstring error;
  EXPECT_FALSE(HttpDownload(
      site_ + L"big.bin", nullptr, target_,
      [](std::int64_t, std::int64_t) { return true; }, error, options));
  EXPECT_EQ(L"no room", error);
  EXPECT_EQ(static_cast<std::int64_t>(big_.size()), checked);
  EXPECT_FALSE(test::FileExists(target_));
}

namespace {

// The package file as a run holds it while it fetches ranges: read and
// write, shared for reading only, so that a download that reopened the file
// by its path would fail.
UniqueFile HoldLikeARun(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

// The package's tail with one suffix range: its last bytes in memory, or the
// whole file when the host ignores ranges, or nothing for any other answer.
TEST_F(HttpDownloadTest, TailOfAFile) {
  test::WriteSiteFile(L"short.bin", big_.substr(0, 1000));
  struct Case {
    const char* name;
    std::wstring path;
    PartialResult result;
    std::string tail;  // kPart: what arrives
  };
  const Case cases[] = {
      {"the last 64 KiB", L"big.bin", PartialResult::kPart,
       big_.substr(big_.size() - 65536)},
      {"a file shorter than asked", L"short.bin", PartialResult::kPart,
       big_.substr(0, 1000)},
      {"no ranges: the whole file", L"_f/norange/big.bin",
       PartialResult::kWhole, ""},
      {"a 404", L"_f/status-404/big.bin", PartialResult::kNoRanges, ""},
      {"a 206 that is not the tail", L"_f/status-206/big.bin",
       PartialResult::kNoRanges, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(target_, "EARLIER");
    PackageTail tail;
    std::wstring error;
    {
      UniqueFile held = HoldLikeARun(target_);
      EXPECT_EQ(c.result, HttpDownloadTail(site_ + c.path, 65536, held.get(),
                                           {}, tail, error));
    }
    if (c.result == PartialResult::kPart) {
      EXPECT_TRUE(c.tail == tail.bytes);
      EXPECT_EQ(c.path == L"big.bin" ? big_.size() : 1000u,
                static_cast<std::size_t>(tail.fileSize));
      EXPECT_EQ(L'"', tail.validator.front());  // the site's ETag
    }
    // The whole file replaces what the file held; nothing else writes.
    EXPECT_TRUE((c.result == PartialResult::kWhole ? big_ : "EARLIER") ==
                test::ReadFileBytes(target_));
    DeleteFileW(target_.c_str());
  }
}

// Some bytes of a file, appended to what the target holds; the whole file
// instead when the server sends it, never the two mixed.
TEST_F(HttpDownloadTest, AWindowOfAFile) {
  const std::string next = test::PatternBytes(200 * 1024 + 5, 2);
  struct Case {
    const char* name;
    std::wstring fileFaults;
    bool staleValidator;  // the file was replaced since its tail was read
    PartialResult result;
  };
  const std::wstring once = L"%2Btimes-1";
  const Case cases[] = {
      {"the window", L"", false, PartialResult::kPart},
      {"a break in the window goes on", L"cut-20000" + once, false,
       PartialResult::kPart},
      {"a break, then a passing 503", L"cut-20000,status-503", false,
       PartialResult::kPart},
      {"ranges ignored: the whole file", L"norange" + once, false,
       PartialResult::kWhole},
      {"replaced since the tail: the new file whole", L"", true,
       PartialResult::kWhole},
      {"a 503 at once: fetch it all afresh", L"status-503" + once, false,
       PartialResult::kNoRanges},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring name = L"window-" + std::to_wstring(++n) + L".bin";
    test::WriteSiteFile(name, big_);
    PackageTail tail;
    std::wstring error;
    {
      UniqueFile held = HoldLikeARun(target_);
      ASSERT_EQ(
          PartialResult::kPart,
          HttpDownloadTail(site_ + name, 100, held.get(), {}, tail, error));
    }
    if (c.staleValidator)
      test::WriteSiteFile(name, next);
    std::string ignored;
    ASSERT_TRUE(HttpDownload(
        site_ + L"_control/set?file=" + name + L"&fault=" + c.fileFaults,
        &ignored, L"", {}, error));
    test::WriteFileBytes(target_, "PART");
    DownloadOptions options;
    options.resume = true;
    const ByteWindow window{1000, 150000, big_.size(), tail.validator};
    {
      UniqueFile held = HoldLikeARun(target_);
      EXPECT_EQ(c.result, HttpDownloadRange(site_ + name, window, held.get(),
                                            {}, error, options))
          << test::Narrow(error);
    }
    const std::string got = test::ReadFileBytes(target_);
    if (c.result == PartialResult::kPart) {
      EXPECT_TRUE("PART" + big_.substr(1000, 149000) == got);
    } else if (c.result == PartialResult::kWhole) {
      EXPECT_TRUE((c.staleValidator ? next : big_) == got);
    } else {
      EXPECT_EQ("PART", got);
    }
    DeleteFileW(target_.c_str());
  }
}
