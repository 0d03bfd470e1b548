#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"
#include "audio/frame_params.h"

namespace clipnote::speech {

// What carries the speech decoder from one frame to the next. There is one instance of each
// record per process (below), so only one clip can be decoded at a time and
// ResetDecoderStates must run before each clip.
struct DecoderState {
  int32_t erasureCount = 0;  // consecutive erased active frames, capped at 3
  float concealGain = 0;     // noise gain for concealing an unvoiced erased frame
  int16_t concealLag = 0;    // pitch lag for concealing a voiced erased frame; 0 = unvoiced
  int16_t concealSeed = 0;   // seed of the concealment noise
  float tiltState = 0;       // smoothed tilt coefficient of the formant postfilter
  float scaleGain = 1;       // smoothed gain of the gain-scaling stage
  LspVector previousLsp{};   // LSP vector of the previous frame
  std::array<float, kHistorySamples> excitationHistory{};  // oldest first
  std::array<float, kLpcOrder> synthesisMemory{};  // past synthesis outputs, newest first
  std::array<float, kLpcOrder> postZeroMemory{};   // past formant-postfilter inputs, newest first
  std::array<float, kLpcOrder> postPoleMemory{};   // past pole-section outputs, newest first
};

// State of the comfort-noise generator used during silence.
struct ComfortNoiseState {
  float noiseGain = 0;                                  // gain in use
  FrameType previousFrameType = FrameType::Active;      // type of the previous frame
  LspVector sidLsp{};                                   // spectral envelope of the noise
  // Target gain; right after an active frame it holds that frame's final excitation energy.
  float sidGain = 0;
  int16_t noiseSeed = 12345;                            // seed of the noise generator
};

extern DecoderState decoderState;
extern ComfortNoiseState comfortNoiseState;

// Puts both records in their start-of-clip state. noiseGain is left alone: it is always
// assigned before it is used.
void ResetDecoderStates();

// True when every value of both records is finite.
bool DecoderStatesAreFinite();

// Puts each non-finite value of both records back to its start-of-clip value, so that an
// overflow in one frame is not carried into every later one: a filter memory or the
// excitation history with any non-finite value is cleared as a whole, a gain, the tilt or an
// LSP vector is reset on its own. Finite values are left exactly as they are.
void ResetNonFiniteState();

}  // namespace clipnote::speech
