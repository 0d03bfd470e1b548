// Construction and teardown of the player object, the fatal start-up report,
// and the single-instance rule.

#include <numeric>
#include <string>

#include "app/fatal_report.h"
#include "player_harness.h"

namespace clipnote::testing {
namespace {

using ConstructionTest = PlayerTest;

const std::string kMemoryText = "Not enough memory!\nPlease exit other programs and try again.";
constexpr uint32_t kErrorBox = kMbIconError | kMbSetForeground;
constexpr uint32_t kWarningBox = kMbIconWarning | kMbSetForeground;

TEST_F(ConstructionTest, AllocatesEveryBufferWithItsSizeAndKind) {
  MessagePlayer player(fake, video, speech);

  const std::vector<std::pair<uint32_t, size_t>> expected = {
      {kGmemZeroInit, 16384},   {kGmemZeroInit, 152064}, {kGmemZeroInit, 304128},
      {kGmemZeroInit, 1824768}, {kGmemFixed, 40}};
  EXPECT_EQ(fake.GlobalAllocs(), expected);
  ASSERT_NE(player.rgbNative, nullptr);
  ASSERT_NE(player.rgbDoubled, nullptr);
  EXPECT_EQ(player.bitBufferSize, 16384);
  EXPECT_EQ(player.pictureAreaSize, 152064);
  // Everything at start-up, all in one: the decoder areas, both images, the header.
  size_t total = kRgbNativeBytes + kRgbDoubledBytes;
  for (const auto& [flags, bytes] : fake.GlobalAllocs()) total += bytes;
  EXPECT_EQ(total, 2677544u);

  EXPECT_EQ(player.videoClipSize, 1234u);
  EXPECT_NE(player.videoClip, nullptr);
  EXPECT_EQ(player.videoAbsent, 0);
  EXPECT_EQ(player.wavImage.load(), nullptr);
  EXPECT_TRUE(fake.MessageBoxes().empty());
}

TEST_F(ConstructionTest, BitmapHeaderDescribesTheNativeBottomUpImage) {
  MessagePlayer player(fake, video, speech);
  const BitmapInfoHeader& header = *player.bitmapHeader;
  EXPECT_EQ(header.biSize, 40u);
  EXPECT_EQ(header.biWidth, 176);
  EXPECT_EQ(header.biHeight, 144);  // positive: bottom-up
  EXPECT_EQ(header.biPlanes, 1);
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(header.biCompression, kBiRgb);
  EXPECT_EQ(header.biSizeImage, 0u);
  EXPECT_EQ(header.biXPelsPerMeter, 0);
  EXPECT_EQ(header.biYPelsPerMeter, 0);
  EXPECT_EQ(header.biClrUsed, 0u);
  EXPECT_EQ(header.biClrImportant, 0u);
}

TEST_F(ConstructionTest, TeardownFreesEveryBlock) {
  {
    MessagePlayer player(fake, video, speech);
    EXPECT_EQ(fake.LiveGlobalBlocks(), 5u);
  }
  EXPECT_EQ(fake.LiveGlobalBlocks(), 0u);
}

TEST_F(ConstructionTest, EmptyVideoClipWarnsAndStillAllocatesEverything) {
  fake.SetResource("#263", "MOVIE", {});
  MessagePlayer player(fake, video, speech);

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  const MessageBoxRecord box = fake.MessageBoxes()[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.text, "This message contains audio only!");
  EXPECT_EQ(box.caption, "Audio only");
  EXPECT_EQ(box.type, kWarningBox);
  EXPECT_EQ(player.videoAbsent, 1);
  EXPECT_EQ(player.videoClipSize, 0u);
  EXPECT_EQ(fake.GlobalAllocs().size(), 5u);
  EXPECT_FALSE(fake.ExitCode().has_value());
}

struct ClipFailure {
  const char* name;
  void (*inject)(FakePlatform&);
  const char* text;
};

class VideoClipFailureTest : public PlayerTest, public ::testing::WithParamInterface<ClipFailure> {};

TEST_P(VideoClipFailureTest, IsReportedAndEndsTheProcessWithCodeZero) {
  fake.SetSystemText("The specified resource type cannot be found in the image file.\r\n");
  GetParam().inject(fake);
  EXPECT_EQ(TryConstruct(fake, video, speech), nullptr);

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  const MessageBoxRecord box = fake.MessageBoxes()[0];
  EXPECT_EQ(box.text, std::string(GetParam().text) +
                          "\nError: The specified resource type cannot be found in the image "
                          "file.\r\n\n");
  EXPECT_EQ(box.caption, "Memory Allocation Error");
  EXPECT_EQ(box.type, kErrorBox);
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(fake.ExitCode(), 0u);
  EXPECT_EQ(fake.LiveLocalBlocks(), 0u);  // the system text was released
  EXPECT_TRUE(fake.GlobalAllocs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, VideoClipFailureTest,
    ::testing::Values(
        ClipFailure{"Find", [](FakePlatform& f) { f.FailFindResource("MOVIE"); },
                    "Unable to find video resource!"},
        ClipFailure{"Load", [](FakePlatform& f) { f.FailLoadResource("MOVIE"); },
                    "Unable to load video resource!"},
        ClipFailure{"Lock", [](FakePlatform& f) { f.FailLockResource("MOVIE"); },
                    "Unable to lock video resource!"}),
    [](const auto& info) { return info.param.name; });

class AllocationFailureTest : public PlayerTest, public ::testing::WithParamInterface<int> {};

TEST_P(AllocationFailureTest, IsReportedAndNothingIsAllocatedAfterIt) {
  fake.SetSystemText("Not enough memory resources are available to process this command.\r\n");
  fake.FailGlobalAllocCall(GetParam());
  EXPECT_EQ(TryConstruct(fake, video, speech), nullptr);

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  EXPECT_EQ(fake.MessageBoxes()[0].text,
            kMemoryText +
                "\nError: Not enough memory resources are available to process this command.\r\n\n");
  EXPECT_EQ(fake.MessageBoxes()[0].caption, "Memory Allocation Error");
  EXPECT_EQ(fake.ExitCode(), 0u);
  // The failed step is the last: no buffer is used or allocated after it.
  EXPECT_EQ(fake.GlobalAllocs().size(), static_cast<size_t>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(EachBlock, AllocationFailureTest, ::testing::Range(1, 6));

TEST_F(ConstructionTest, LongSystemTextIsCutToTheMessageBuffer) {
  fake.SetSystemText(std::string(600, 'x'));
  fake.FailFindResource("MOVIE");
  EXPECT_EQ(TryConstruct(fake, video, speech), nullptr);

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  const std::string text = fake.MessageBoxes()[0].text;
  EXPECT_EQ(text.size(), kFatalMessageBytes - 1);  // 255 characters and the NUL
  EXPECT_EQ(text.rfind("Unable to find video resource!\nError: xxx", 0), 0u);
  EXPECT_EQ(fake.LiveLocalBlocks(), 0u);
}

TEST_F(ConstructionTest, FailedSystemTextFallsBackAndFreesNothing) {
  fake.SetSystemText(std::nullopt);
  fake.FailFindResource("MOVIE");
  EXPECT_EQ(TryConstruct(fake, video, speech), nullptr);

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  EXPECT_EQ(fake.MessageBoxes()[0].text,
            "Unable to find video resource!\nError: (no description available)\n");
  EXPECT_EQ(fake.MessageBoxes()[0].caption, "Memory Allocation Error");
  const auto calls = fake.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "LocalFree"), 0);
  EXPECT_EQ(fake.ExitCode(), 0u);
}

TEST(ComposeFatalMessage, FormatsTextThenSystemText) {
  char out[kFatalMessageBytes];
  ComposeFatalMessage("Step failed!", "Access is denied.\r\n", out, sizeof out);
  EXPECT_STREQ(out, "Step failed!\nError: Access is denied.\r\n\n");
}

// Unwinding may reset the last error before the report is made (the mingw
// runtime does): the report names the error of the step that failed.
TEST(StartupFailure, ReportsTheErrorOfTheFailedStepNotTheLaterOne) {
  FakePlatform fake;
  fake.SetSystemText("The specified resource name cannot be found in the image file.\r\n");
  fake.SetLastErrorCode(1814);
  try {
    RaiseStartupFailure(fake, "Step failed!");
  } catch (const StartupFailure& failure) {
    fake.SetLastErrorCode(0);
    EXPECT_THROW(ReportFatal(fake, failure), FakeProcessExit);
  }
  EXPECT_EQ(fake.FormattedErrors(), std::vector<uint32_t>{1814});
  EXPECT_EQ(fake.ExitCode(), 0u);
}

TEST_F(ConstructionTest, SecondInstanceOnlyBringsTheRunningWindowForward) {
  fake.SetRunningInstance(true);
  MessagePlayer player(fake, video, speech);
  EXPECT_EQ(RunPlayer(player), 0);

  const auto calls = fake.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "FindWindowA"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetForegroundWindow"), 1);
  EXPECT_EQ(fake.EventsCreated(), 0u);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "DialogBoxParamA"), 0);
  EXPECT_EQ(fake.LiveThreads(), 0u);
}

TEST_F(ConstructionTest, FirstInstanceCreatesSixEventsThenRunsTheWindow) {
  MessagePlayer player(fake, video, speech);
  fake.WhenIdle([&] { fake.PostClose(); });
  EXPECT_EQ(RunPlayer(player), 0);

  EXPECT_EQ(fake.EventsCreated(), 6u);
  const auto calls = fake.Calls();
  const auto dialog = std::find(calls.begin(), calls.end(), "DialogBoxParamA");
  ASSERT_NE(dialog, calls.end());
  EXPECT_EQ(std::count(calls.begin(), dialog, "CreateEventA"), 6);
  EXPECT_EQ(player.instance, reinterpret_cast<Hinstance>(0x400000));
  EXPECT_FALSE(fake.Deadlocked());
  EXPECT_EQ(fake.LiveThreads(), 0u);
}

}  // namespace
}  // namespace clipnote::testing
