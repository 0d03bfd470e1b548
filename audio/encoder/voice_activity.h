#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Decides whether a frame is quiet enough to be coded as comfort noise. Silence means quiet,
// not "not speech": a frame is quiet only when its level is both near the background level
// the detector has tracked and below an absolute level, so music, tones and any other loud
// sound stay active frames.
class VoiceActivityDetector {
 public:
  // Level in dB (10 log10 of the mean square, PCM units) of a frame.
  static float FrameLevel(const float samples[kFrameSamples]);

  // True when a frame of this level is sound to transmit; updates the background level.
  bool IsActive(float level);

  // A level (dB) above which a frame is always active: about -40 dB below full scale.
  static constexpr float kLoudLevel = 50.0f;

 private:
  float background_ = 30.0f;  // tracked background level, dB
};

}  // namespace clipnote::speech
