// Which pictures to send: a spacing of 2, 3, 4 or 8 ticks of 1/30 s, as the motion needs.
//
// Motion is measured on small grey copies of the 30 Hz frames (44x36, each pixel the
// average of a 4x4 block) as normal flow: the temporal change of a pixel divided by its
// spatial gradient is the speed of the edge through it. The spacing chosen is the longest
// that keeps every edge within half a macroblock of where the previous picture showed it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace clipnote::authoring {

inline constexpr std::array<int, 4> kPictureGaps = {8, 4, 3, 2};
inline constexpr int kAnalysisWidth = 44;
inline constexpr int kAnalysisHeight = 36;
inline constexpr double kMaxStepPixels = 8.0;

// Speed in full-size pixels per tick of the fastest-moving edges between two analysis
// frames (kAnalysisWidth x kAnalysisHeight grey samples each).
double FrameSpeed(std::span<const uint8_t> previous, std::span<const uint8_t> current);

// speeds[i] is the motion from frame i - 1 to frame i (0 for the first frame).
std::vector<double> FrameSpeeds(const std::vector<std::vector<uint8_t>>& frames);

// The analysis copy of a QCIF luma plane (176x144): the mean of each 4x4 block, rounded.
std::vector<uint8_t> AnalysisFrame(std::span<const uint8_t> qcifLuma);

// Ticks of the pictures to send: 0 first, lastTick last, every gap one of kPictureGaps.
// speeds may be shorter than lastTick + 1 (a held last frame does not move). Returns an
// empty schedule when lastTick < 2: a message needs at least two ticks.
std::vector<int> Schedule(std::span<const double> speeds, int lastTick);

// The gap after the picture at `tick` (< lastTick) in that schedule: it depends only on
// speeds[tick + 1 .. tick + 8] and, within 9 ticks of the end, on lastTick.
int NextGap(std::span<const double> speeds, int tick, int lastTick);

}  // namespace clipnote::authoring
