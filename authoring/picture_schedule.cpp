#include "authoring/picture_schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace clipnote::authoring {
namespace {

constexpr double kAnalysisScale = 176.0 / kAnalysisWidth;
constexpr double kMinGradient = 6.0;  // weaker gradients say nothing reliable about motion
constexpr double kMinChange = 1.5;    // changes below this are noise

int PreferredGap(std::span<const double> speeds, int tick) {
  for (int gap : kPictureGaps) {
    double fastest = 0.0;
    for (int i = tick + 1; i <= tick + gap && i < static_cast<int>(speeds.size()); ++i) {
      fastest = std::max(fastest, speeds[i]);
    }
    if (fastest * gap <= kMaxStepPixels) return gap;
  }
  return kPictureGaps.back();
}

}  // namespace

double FrameSpeed(std::span<const uint8_t> previous, std::span<const uint8_t> current) {
  constexpr int w = kAnalysisWidth;
  constexpr int h = kAnalysisHeight;
  if (previous.size() < size_t{w * h} || current.size() < size_t{w * h}) return 0.0;
  std::vector<double> speeds;
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      const int i = y * w + x;
      const double change = double(current[i]) - previous[i];
      if (-kMinChange < change && change < kMinChange) continue;
      const double gx = (double(current[i + 1]) - current[i - 1] + previous[i + 1] - previous[i - 1]) * 0.25;
      const double gy = (double(current[i + w]) - current[i - w] + previous[i + w] - previous[i - w]) * 0.25;
      const double gradient = std::hypot(gx, gy);
      if (gradient >= kMinGradient) speeds.push_back(std::abs(change) / gradient);
    }
  }
  if (speeds.empty()) return 0.0;
  std::sort(speeds.begin(), speeds.end());
  // The k-th fastest, so a few noisy pixels cannot decide on their own.
  const size_t k = std::max<size_t>(3, speeds.size() / 100);
  const size_t at = speeds.size() > k ? speeds.size() - k : 0;
  return speeds[at] * kAnalysisScale;
}

std::vector<double> FrameSpeeds(const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<double> speeds;
  if (frames.empty()) return speeds;
  speeds.push_back(0.0);
  for (size_t i = 1; i < frames.size(); ++i) speeds.push_back(FrameSpeed(frames[i - 1], frames[i]));
  return speeds;
}

std::vector<uint8_t> AnalysisFrame(std::span<const uint8_t> qcifLuma) {
  std::vector<uint8_t> small(kAnalysisWidth * kAnalysisHeight, 0);
  if (qcifLuma.size() < 176 * 144) return small;
  for (int y = 0; y < kAnalysisHeight; ++y) {
    for (int x = 0; x < kAnalysisWidth; ++x) {
      int sum = 0;
      for (int dy = 0; dy < 4; ++dy) {
        for (int dx = 0; dx < 4; ++dx) sum += qcifLuma[(y * 4 + dy) * 176 + x * 4 + dx];
      }
      small[y * kAnalysisWidth + x] = static_cast<uint8_t>((sum + 8) / 16);
    }
  }
  return small;
}

int NextGap(std::span<const double> speeds, int tick, int lastTick) {
  const int remaining = lastTick - tick;
  const int wanted = PreferredGap(speeds, tick);
  // Never leave a remainder of 1 tick: it could not be reached.
  int gap = 0;
  int smallestAllowed = 0;
  for (int g : kPictureGaps) {
    if (g > remaining || remaining - g == 1) continue;
    smallestAllowed = g;
    if (gap == 0 && g <= wanted) gap = g;
  }
  return gap == 0 ? smallestAllowed : gap;
}

std::vector<int> Schedule(std::span<const double> speeds, int lastTick) {
  std::vector<int> ticks;
  if (lastTick < 2) return ticks;
  ticks.push_back(0);
  int tick = 0;
  while (tick < lastTick) {
    tick += NextGap(speeds, tick, lastTick);
    ticks.push_back(tick);
  }
  return ticks;
}

}  // namespace clipnote::authoring
