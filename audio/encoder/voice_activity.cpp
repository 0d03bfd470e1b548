#include "audio/encoder/voice_activity.h"

#include <algorithm>
#include <cmath>

#include "audio/correlation.h"
#include "audio/encoder/open_loop_pitch.h"

namespace clipnote::speech {

namespace {

constexpr float kMargin = 9.0f;     // dB above the background that counts as sound
// How fast the background follows a louder steady level: quickly, since anything above
// kLoudLevel is active whatever the background, and a pause after digital silence must
// not wait long for the background to climb to its noise.
constexpr float kRisePerFrame = 2.0f;
constexpr float kFloor = 0.0f;

}  // namespace

float VoiceActivityDetector::FrameLevel(const float samples[kFrameSamples]) {
  double sum = 0;
  for (int n = 0; n < kFrameSamples; ++n) sum += static_cast<double>(samples[n]) * samples[n];
  return static_cast<float>(10.0 * std::log10(sum / kFrameSamples + 1.0));
}

float VoiceActivityDetector::Periodicity(const float* weighted, int lag) {
  const double c = Dot(weighted, weighted - lag, kHalfFrameSamples);
  const double now = Dot(weighted, weighted, kHalfFrameSamples);
  const double before = Dot(weighted - lag, weighted - lag, kHalfFrameSamples);
  if (!(c > 0) || !(now * before > 1.0)) return 0.0f;
  return static_cast<float>(std::min(1.0, c / std::sqrt(now * before)));
}

bool VoiceActivityDetector::IsTonal(float level, const float periodicity[2]) {
  return level > kTonalFloor && periodicity[0] > kTonalPeriodicity && periodicity[1] > kTonalPeriodicity;
}

bool VoiceActivityDetector::IsActive(float level) {
  if (!std::isfinite(level)) return true;
  const bool active = level > kLoudLevel || level > background_ + kMargin;
  // The background falls at once to a quieter frame and rises slowly toward a louder one, so
  // it follows the pauses between words rather than the words.
  if (level < background_) {
    background_ = level < kFloor ? kFloor : level;
  } else {
    background_ = std::min(background_ + kRisePerFrame, level);
  }
  return active;
}

}  // namespace clipnote::speech
