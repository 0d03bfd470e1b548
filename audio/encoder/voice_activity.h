#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// Decides whether a frame is quiet enough to be coded as comfort noise. Silence means quiet,
// not "not speech": a frame is quiet only when its level is both near the background level
// the detector has tracked and below an absolute level, so music, tones and any other loud
// sound stay active frames. Comfort noise can only stand for noise: a frame that repeats
// itself at a pitch period (a tone, a note, music under the speech) is sound to transmit
// unless it is barely above digital silence, whatever the background has become.
class VoiceActivityDetector {
 public:
  // Level in dB (10 log10 of the mean square, PCM units) of a frame.
  static float FrameLevel(const float samples[kFrameSamples]);

  // How strongly one half frame of weighted speech repeats at the lag: the normalised
  // correlation with the samples a lag before it, 0..1 (0 for silence or a negative one).
  // weighted points at the half frame; the lag samples before it must be readable.
  static float Periodicity(const float* weighted, int lag);

  // True when a frame of this level is sound to transmit; updates the background level.
  bool IsActive(float level);

  // True when the frame is periodic enough, in both halves, and loud enough to be a tone
  // or music rather than background noise.
  static bool IsTonal(float level, const float periodicity[2]);

  // A level (dB) above which a frame is always active: about -40 dB below full scale.
  static constexpr float kLoudLevel = 50.0f;
  // Below this level (about -60 dB below full scale) even a tone is left to comfort noise.
  static constexpr float kTonalFloor = 30.0f;
  // Normalised correlation at the pitch lag above which a half frame is a tone: noise of
  // any colour the weighting leaves stays well below it.
  static constexpr float kTonalPeriodicity = 0.5f;

 private:
  float background_ = 30.0f;  // tracked background level, dB
};

}  // namespace clipnote::speech
