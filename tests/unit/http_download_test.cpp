// HttpDownload against tools/site on 127.0.0.1, with the real WinINet.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "transfer/http_download.h"
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
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    // An earlier file at the target is truncated or left alone, then gone.
    test::WriteFileBytes(target_, "earlier contents");
    const std::wstring url = site_ + c.path;
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
