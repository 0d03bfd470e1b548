#include "audio/sid_gain.h"

#include <algorithm>

namespace clipnote::speech {

namespace {

constexpr int SidGainBase[3] = {0, 32, 96};
constexpr float kEnergyNormalisation = 0.008333f;  // about 1/120: one 120-sample energy
constexpr float kSegment1Start = 1024.0f;
constexpr float kSegment2Start = 9216.0f;
constexpr float kTopLevelStart = 115617.0f;
constexpr int kMaxIndex = 63;

// Level of code j in segment g.
float Level(int segment, int j) {
  return static_cast<float>(j * (2 << segment) + SidGainBase[segment]);
}

float LevelSquared(int segment, int j) {
  const float y = Level(segment, j);
  return y * y;
}

}  // namespace

int QuantiseSidGain(float energy) {
  const float x = kEnergyNormalisation * energy;
  if (x >= kTopLevelStart) return kMaxIndex;

  int segment = 0;
  int steps = 3;
  if (x >= kSegment2Start) {
    segment = 2;
    steps = 4;
  } else if (x >= kSegment1Start) {
    segment = 1;
  }

  int j = 1 << steps;
  int h = j / 2;
  for (int i = 0; i < steps; ++i) {
    j = x >= LevelSquared(segment, j) ? j + h : j - h;
    h /= 2;
  }

  // Nearest level in the squared domain; a tie goes down when x is below level j and up
  // otherwise. Level 16 of a segment is level 0 of the next, so the index stays consistent.
  const float d = LevelSquared(segment, j) - x;
  if (d > 0.0f) {
    if (d >= x - LevelSquared(segment, j - 1)) --j;
  } else {
    if (d <= x - LevelSquared(segment, j + 1)) ++j;
  }
  return std::clamp(16 * segment + j, 0, kMaxIndex);
}

float DecodeSidGain(int index) {
  const int i = std::clamp(index, 0, kMaxIndex);
  const int segment = std::min(i / 16, 2);
  return Level(segment, i - 16 * segment);
}

}  // namespace clipnote::speech
