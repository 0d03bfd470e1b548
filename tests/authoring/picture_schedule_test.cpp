#include "authoring/picture_schedule.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

namespace clipnote::authoring {
namespace {

// A horizontal sawtooth of period 16, moved right by shift pixels.
std::vector<uint8_t> RampFrame(int shift) {
  std::vector<uint8_t> frame;
  for (int y = 0; y < kAnalysisHeight; ++y) {
    for (int x = 0; x < kAnalysisWidth; ++x) {
      const int phase = (((x - shift) % 16) + 16) % 16;
      frame.push_back(static_cast<uint8_t>(static_cast<int>(128 + 100 * (phase / 8.0 - 1))));
    }
  }
  return frame;
}

std::set<int> Gaps(const std::vector<int>& ticks) {
  std::set<int> gaps;
  for (size_t i = 1; i < ticks.size(); ++i) gaps.insert(ticks[i] - ticks[i - 1]);
  return gaps;
}

TEST(FrameSpeed, StillIsZeroAndFasterMeasuresFaster) {
  EXPECT_EQ(FrameSpeed(RampFrame(0), RampFrame(0)), 0.0);
  // A shift of one small pixel is 4 full-size pixels.
  const double slow = FrameSpeed(RampFrame(0), RampFrame(1));
  const double fast = FrameSpeed(RampFrame(0), RampFrame(3));
  EXPECT_GT(slow, 1.0);
  EXPECT_GT(fast, slow);
  // The values the Python tool measured for the same frames.
  EXPECT_NEAR(slow, 8.548571428571428, 1e-9);
  EXPECT_NEAR(fast, 52.16, 1e-9);
  EXPECT_NEAR(FrameSpeed(RampFrame(2), RampFrame(7)), 44.16, 1e-9);
  // Frames too small to analyse say nothing rather than reading past them.
  EXPECT_EQ(FrameSpeed(std::vector<uint8_t>(10), RampFrame(1)), 0.0);
}

// Constant motion gives one constant gap: the rows of the tool's schedule cases.
struct SteadyCase {
  double speed;
  int frames;
  int lastTick;
  int gap;
};

class SteadySchedule : public testing::TestWithParam<SteadyCase> {};

TEST_P(SteadySchedule, SendsEveryGapTicks) {
  const SteadyCase c = GetParam();
  const std::vector<double> speeds(c.frames, c.speed);
  const std::vector<int> ticks = Schedule(speeds, c.lastTick);
  EXPECT_EQ(Gaps(ticks), std::set<int>{c.gap});
  EXPECT_EQ(ticks.back(), c.lastTick);
}

INSTANTIATE_TEST_SUITE_P(Motion, SteadySchedule,
                         testing::Values(SteadyCase{0.0, 100, 96, 8}, SteadyCase{10.0, 60, 40, 2},
                                         SteadyCase{1.5, 200, 192, 4}, SteadyCase{2.5, 200, 192, 3},
                                         SteadyCase{0.8, 200, 192, 8},
                                         // Past the measured frames the last one is held: still.
                                         SteadyCase{0.0, 1, 64, 8}));

TEST(Schedule, MotionAheadShortensTheGapBeforeIt) {
  std::vector<double> speeds(20, 0.0);
  speeds.resize(40, 10.0);
  speeds.resize(80, 0.0);
  const std::vector<int> ticks = Schedule(speeds, 72);
  std::set<int> moving;
  for (size_t i = 1; i < ticks.size(); ++i) {
    if (ticks[i] >= 20 && ticks[i] <= 40) moving.insert(ticks[i] - ticks[i - 1]);
  }
  EXPECT_EQ(moving, std::set<int>{2});
  EXPECT_TRUE(Gaps(ticks).contains(8));
}

// Irregular motion: the ticks the Python tool chose for the same speeds.
TEST(Schedule, IrregularMotionDecidesAsTheToolDid) {
  const std::vector<double> speeds = {0, 0, 1.2, 3.0, 3.0, 0.5, 9, 9, 0, 0, 0, 0,
                                      2.1, 2.1, 2.1, 0, 0, 0, 0, 0, 0, 0, 1.0, 1.0};
  EXPECT_EQ(Schedule(speeds, 7), (std::vector<int>{0, 2, 4, 7}));
  EXPECT_EQ(Schedule(speeds, 23), (std::vector<int>{0, 2, 4, 6, 8, 11, 14, 18, 21, 23}));
  EXPECT_EQ(Schedule(speeds, 41), (std::vector<int>{0, 2, 4, 6, 8, 11, 14, 22, 30, 38, 41}));
}

TEST(Schedule, AnyLengthEndsExactlyWithAllowedGaps) {
  std::mt19937 rng(7);
  const double choices[] = {0.0, 0.5, 1.5, 2.5, 9.0};
  for (int last = 2; last < 200; ++last) {
    std::vector<double> speeds(1 + rng() % 249);
    for (double& s : speeds) s = choices[rng() % 5];
    const std::vector<int> ticks = Schedule(speeds, last);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.front(), 0);
    EXPECT_EQ(ticks.back(), last);
    for (int gap : Gaps(ticks)) EXPECT_TRUE(gap == 2 || gap == 3 || gap == 4 || gap == 8) << last;
  }
  EXPECT_TRUE(Schedule(std::vector<double>{0.0}, 1).empty());
}

}  // namespace
}  // namespace clipnote::authoring
