// Random sequences of Play/Stop, size switches and a close, at random moments
// of the playback protocol: the player must never deadlock, leave a thread
// running or draw after its display is gone. Meant to run under
// ThreadSanitizer too (-DCLIPNOTE_TSAN=ON).

#include <random>

#include "player_harness.h"
#include "resources/resource_ids.h"

namespace clipnote::testing {
namespace {

class RandomSessionTest : public ::testing::TestWithParam<int> {};

TEST_P(RandomSessionTest, NeverDeadlocksAndEndsEveryThread) {
  std::mt19937 random(static_cast<unsigned>(GetParam()));
  auto between = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };

  FakePlatform fake;
  const bool withVideo = between(0, 5) != 0;
  const bool withAudio = between(0, 5) != 0;
  fake.SetResource("#263", "MOVIE", std::vector<uint8_t>(withVideo ? 500 : 0, 0));
  const uint32_t frames = withAudio ? between(1, 30) : 0;
  fake.SetResource("#723", "VOICE", VoiceClipBytes(480 * frames, frames * 4));

  std::vector<ScriptedPicture> pictures;
  uint8_t reference = 0;
  const int pictureCount = between(0, 12);
  for (int i = 0; i < pictureCount; ++i) {
    ScriptedPicture picture{reference};
    if (between(0, 6) == 0) picture.decodeMs = between(1, 150);
    pictures.push_back(picture);
    const int gaps[] = {2, 3, 4, 8};
    reference = static_cast<uint8_t>(reference + gaps[between(0, 3)]);
  }
  // Now and then a thread cannot be created.
  if (between(0, 7) == 0) fake.FailCreateThreadCall(between(1, 5));
  ScriptedVideo video(fake, pictures);
  ScriptedSpeech speech(frames, static_cast<uint32_t>(between(0, 8)));
  MessagePlayer player(fake, video, speech);

  const int actions = between(1, 8);
  for (int i = 0; i < actions; ++i) {
    const uint32_t when = 1000 + static_cast<uint32_t>(between(0, 1500));
    switch (between(0, 5)) {
      case 0:
        fake.At(when, [&fake] { fake.PostClose(); });
        break;
      case 1:
      case 2:
        fake.At(when, [&fake] { fake.Click(IDC_SIZE_BUTTON); });
        break;
      default:
        fake.At(when, [&fake] { fake.Click(IDC_PLAY_BUTTON); });
        break;
    }
  }
  for (int i = 0; i < 3; ++i) fake.WhenIdle([&fake] { fake.Click(IDC_PLAY_BUTTON); });
  fake.WhenIdle([&fake] { fake.PostClose(); });

  EXPECT_EQ(RunPlayer(player), 0);
  EXPECT_FALSE(fake.Deadlocked());
  EXPECT_FALSE(fake.ExitCode().has_value());
  EXPECT_EQ(fake.LiveThreads(), 0u);
  const auto calls = fake.Calls();
  const auto close = std::find(calls.begin(), calls.end(), "DrawDibClose");
  ASSERT_NE(close, calls.end());
  EXPECT_EQ(std::find(close, calls.end(), "DrawDibDraw"), calls.end());
  EXPECT_EQ(calls.back(), "EndDialog");
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomSessionTest, ::testing::Range(0, 40));

}  // namespace
}  // namespace clipnote::testing
