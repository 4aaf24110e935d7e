// The package download's bar positions and status lines, recorded from the
// messages a real window receives, and the cancel answer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/package_progress.h"
#include "transfer/http_download.h"
#include "pipeline/worker_messages.h"
#include "test_support.h"

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

class PackageProgressTest : public test::StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    g_state.mainWindow = recorder_.window();
  }
  test::MessageRecorder recorder_;
  int version_ = 42;
  std::int64_t lastMiB_ = -1;
  int lastPosition_ = -1;
  int barFrom_ = 0;
  PackageProgress progress_{version_, lastMiB_, lastPosition_, barFrom_};
};

TEST_F(PackageProgressTest, DeclaredSizeExamples) {
  const std::int64_t total = 350 * kMiB;
  EXPECT_TRUE(progress_(64 * 1024, total));
  EXPECT_TRUE(progress_(1 * kMiB, total));
  EXPECT_TRUE(progress_(1 * kMiB + 64 * 1024, total));
  EXPECT_TRUE(progress_(350 * kMiB, total));
  // The same position is not posted twice in a row.
  EXPECT_EQ((std::vector<int>{0, 2, 900}), recorder_.Positions());
  EXPECT_EQ((std::vector<std::wstring>{
                L"Downloading version 0042...  0 / 350 MB",
                L"Downloading version 0042...  1 / 350 MB",
                L"Downloading version 0042...  350 / 350 MB",
            }),
            recorder_.StatusTexts());
  EXPECT_EQ(350, lastMiB_);
}

TEST_F(PackageProgressTest, MessagesArriveInOrderBarFirst) {
  progress_(100, 1000);
  const auto& messages = recorder_.Pump();
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ(WM_SETUP_PROGRESS, messages[0].message);
  EXPECT_EQ(90u, messages[0].wParam);
  EXPECT_EQ(WM_SETUP_STATUS, messages[1].message);
}

TEST_F(PackageProgressTest, PackageBelowOneMiB) {
  const std::int64_t total = 500 * 1024;
  for (std::int64_t r = 65536; r < total; r += 65536)
    progress_(r, total);
  progress_(total, total);
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Downloading version 0042...  0 / 0 MB"}),
      recorder_.StatusTexts());
  const std::vector<int> positions = recorder_.Positions();
  ASSERT_EQ(8u, positions.size());
  EXPECT_EQ(115, positions[0]);  // 65536 * 900 / 512000, truncated
  EXPECT_EQ(900, positions.back());
}

TEST_F(PackageProgressTest, UndeclaredOrZeroSizeMovesNoBar) {
  for (std::int64_t total : {std::int64_t{-1}, std::int64_t{0}}) {
    SCOPED_TRACE(total);
    lastMiB_ = -1;
    progress_(65536, total);
    progress_(12 * kMiB + 5, total);
    progress_(12 * kMiB + 70000, total);
    EXPECT_TRUE(recorder_.Positions().empty());
    const std::vector<std::wstring> texts = recorder_.StatusTexts();
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ(L"Downloading version 0042...  0 MB", texts[0]);
    EXPECT_EQ(L"Downloading version 0042...  12 MB", texts[1]);
    recorder_.Clear();
  }
}

TEST_F(PackageProgressTest, MoreThanDeclaredGoesAbove900) {
  progress_(2 * kMiB, kMiB);
  EXPECT_EQ((std::vector<int>{1800}), recorder_.Positions());
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Downloading version 0042...  2 / 1 MB"}),
      recorder_.StatusTexts());
}

// The check, a part and the whole package after it share one bar, which
// never moves back: a download that starts over waits for its bytes.
TEST_F(PackageProgressTest, OneBarForTheCheckAndTheDownloads) {
  progress_.Checking(0, 1000);
  progress_.Checking(500, 1000);
  progress_.Checking(1000, 1000);
  progress_.StartDownload();
  progress_(50, 100);
  progress_(10, 100);  // started over
  progress_.StartDownload();
  progress_(500, 1000);
  progress_(1000, 1000);
  EXPECT_EQ((std::vector<int>{0, 150, 300, 600, 750, 900}),
            recorder_.Positions());
}

TEST_F(PackageProgressTest, VersionIsWrittenWithFourDigits) {
  version_ = 7;
  progress_(1, -1);
  version_ = 123456;
  progress_(kMiB, -1);
  EXPECT_EQ((std::vector<std::wstring>{L"Downloading version 0007...  0 MB",
                                       L"Downloading version 123456...  1 MB"}),
            recorder_.StatusTexts());
}

TEST_F(PackageProgressTest, HugeSizesDoNotOverflow) {
  const std::int64_t total = 40LL * 1024 * kMiB;  // 40 GiB
  progress_(total / 2, total);
  EXPECT_EQ((std::vector<int>{450}), recorder_.Positions());
  EXPECT_EQ((std::vector<std::wstring>{
                L"Downloading version 0042...  20480 / 40960 MB"}),
            recorder_.StatusTexts());
}

TEST_F(PackageProgressTest, CancelAnswersFalseButStillPosts) {
  EXPECT_TRUE(progress_(65536, 10 * kMiB));
  g_state.cancelRequested.exchange(true);
  EXPECT_FALSE(progress_(kMiB, 10 * kMiB));
  EXPECT_EQ(2u, recorder_.StatusTexts().size());
  g_state.cancelRequested.exchange(false);
  EXPECT_TRUE(progress_(kMiB + 1, 10 * kMiB));
}

// A lost connection: one line per second of the countdown, then the
// download line again, counting on from where it broke; a cancel is
// answered during the wait as during the download.
TEST_F(PackageProgressTest, WaitingLinesThenTheDownloadLineAgain) {
  EXPECT_TRUE(progress_(3 * kMiB, 10 * kMiB));
  EXPECT_TRUE(progress_.Waiting(2));
  EXPECT_TRUE(progress_.Waiting(2));
  EXPECT_TRUE(progress_.Waiting(1));
  EXPECT_TRUE(progress_.Waiting(0));
  EXPECT_TRUE(progress_(3 * kMiB + 65536, 10 * kMiB));
  EXPECT_EQ((std::vector<std::wstring>{
                L"Downloading version 0042...  3 / 10 MB",
                L"Connection lost. Trying again in 2 s...",
                L"Connection lost. Trying again in 1 s...",
                L"Connection lost. Trying again...",
                L"Downloading version 0042...  3 / 10 MB",
            }),
            recorder_.StatusTexts());
  g_state.cancelRequested.exchange(true);
  EXPECT_FALSE(progress_.Waiting(4));
}

// The real download drives the callback: positions rise to 900 with one
// status line per whole MiB, and a cancel stops the transfer at once.
TEST_F(PackageProgressTest, DrivenByARealDownload) {
  const std::string bytes = test::PatternBytes(3 * kMiB + 1000, 3);
  test::WriteSiteFile(L"GormEk-0042.zip", bytes);
  test::ScratchDir dir;
  const std::wstring path = dir.path() + L"\\GormEk-0042.zip";
  std::wstring error;
  ASSERT_TRUE(HttpDownload(test::SiteUrl() + L"GormEk-0042.zip", nullptr, path,
                           progress_, error));
  EXPECT_EQ((std::vector<std::wstring>{
                L"Downloading version 0042...  0 / 3 MB",
                L"Downloading version 0042...  1 / 3 MB",
                L"Downloading version 0042...  2 / 3 MB",
                L"Downloading version 0042...  3 / 3 MB",
            }),
            recorder_.StatusTexts());
  const std::vector<int> positions = recorder_.Positions();
  ASSERT_FALSE(positions.empty());
  for (std::size_t i = 1; i < positions.size(); ++i)
    EXPECT_GE(positions[i], positions[i - 1]);
  EXPECT_EQ(900, positions.back());

  g_state.cancelRequested.exchange(true);
  EXPECT_FALSE(HttpDownload(test::SiteUrl() + L"GormEk-0042.zip", nullptr, path,
                            progress_, error));
  EXPECT_EQ(L"Cancelled.", error);
  EXPECT_FALSE(test::FileExists(path));
}

TEST(WorkerMessages, NumbersAndOwnedText) {
  EXPECT_EQ(0x8001u, WM_SETUP_STATUS);
  EXPECT_EQ(0x8002u, WM_SETUP_PROGRESS);
  EXPECT_EQ(0x8003u, WM_SETUP_DONE);
  test::MessageRecorder recorder;
  PostStatus(recorder.window(), L"Unpacking...");
  PostProgress(recorder.window(), 920);
  PostDone(recorder.window(), true,
           std::make_unique<std::wstring>(L"Gorm Ek 0042 is installed."));
  PostDone(recorder.window(), false,
           std::make_unique<std::wstring>(L"Cancelled."));
  const auto& m = recorder.Pump();
  ASSERT_EQ(4u, m.size());
  EXPECT_EQ(WM_SETUP_STATUS, m[0].message);
  EXPECT_EQ(L"Unpacking...", m[0].text);
  EXPECT_EQ(WM_SETUP_PROGRESS, m[1].message);
  EXPECT_EQ(920u, m[1].wParam);
  EXPECT_EQ(WM_SETUP_DONE, m[2].message);
  EXPECT_EQ(1u, m[2].wParam);
  EXPECT_EQ(L"Gorm Ek 0042 is installed.", m[2].text);
  EXPECT_EQ(0u, m[3].wParam);
  EXPECT_EQ(L"Cancelled.", m[3].text);
}

}  // namespace
