#include "audio/frame_decoder.h"

#include <algorithm>
#include <cstring>

#include "audio/comfort_noise.h"
#include "audio/decoder_state.h"
#include "audio/excitation.h"
#include "audio/excitation_tables.h"
#include "audio/lsp_decoder.h"
#include "audio/next_random.h"
#include "audio/output_chain.h"
#include "audio/pitch_postfilter.h"
#include "audio/voicing_analysis.h"

namespace clipnote::speech {

namespace {

constexpr int kMaxErasureCount = 3;
constexpr float kConcealAttenuation = 0.75f;
constexpr int16_t kNoiseSeedAfterSpeech = 12345;

// Rebuilds the excitation of a good frame, then runs the pitch postfilter on it.
void DecodeGoodExcitation(const FrameParams& params, Rate rate, float* e,
                          float samples[kFrameSamples]) {
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    const SubframeParams& sub = params.sub[s];
    const int openLoopLag = params.openLoopLag[s / 2];
    float* current = e + kHistorySamples + s * kSubframeSamples;
    DecodeFixedVector(current, sub, openLoopLag, s, rate);
    float adaptive[kSubframeSamples];
    DecodeAdaptiveVector(adaptive, e + s * kSubframeSamples, 0, openLoopLag, sub.lagDelta,
                         sub.gainIndex, rate);
    for (int n = 0; n < kSubframeSamples; ++n) current[n] += adaptive[n];
  }

  const Voicing voicing = AnalyseVoicing(e, params.openLoopLag[1]);
  decoderState.concealLag = static_cast<int16_t>(voicing.concealLag);
  // Right after speech this is the level the comfort noise starts from.
  comfortNoiseState.sidGain = voicing.energy;

  // The postfilter parameters see the unclipped excitation, the filter the clipped one.
  PitchPostfilterSet postfilter[kSubframesPerFrame];
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    postfilter[s] = PitchPostfilterParams(e, params.openLoopLag[s / 2], s, rate);
  }
  // Selects rather than branches, so that the loop runs four samples at a time.
  for (int n = kHistorySamples; n < kExcitationSamples; ++n) {
    const float v = e[n];
    e[n] = v < -32767.5f ? -32768.0f : (v > 32766.5f ? 32767.0f : v);
  }
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    ApplyPitchPostfilter(samples, e, postfilter[s], s);
  }
}

// Stands in for a lost speech frame: the last pitch period repeated at falling amplitude for
// a voiced past, scaled noise for an unvoiced one, and silence from the third lost frame on.
void ConcealErasedFrame(float* e, float samples[kFrameSamples]) {
  DecoderState& state = decoderState;
  if (state.erasureCount >= kMaxErasureCount) {
    std::fill(samples, samples + kFrameSamples, 0.0f);
    std::fill(e, e + kExcitationSamples, 0.0f);
    return;
  }
  if (state.concealLag != 0) {
    const int lag = state.concealLag;
    // Copying forward sample by sample repeats the period when the lag is short.
    for (int n = kHistorySamples; n < kExcitationSamples; ++n) e[n] = e[n - lag];
    for (int n = 0; n < kFrameSamples; ++n) {
      e[kHistorySamples + n] *= kConcealAttenuation;
      samples[n] = e[kHistorySamples + n];
    }
    return;
  }
  constexpr float kNoiseScale = 1.0f / 32768.0f;
  for (int n = 0; n < kFrameSamples; ++n) {
    samples[n] = static_cast<float>(NextRandom(state.concealSeed)) * state.concealGain * kNoiseScale;
  }
  std::fill(e, e + kExcitationSamples, 0.0f);
}

void DecodeActiveFrame(const FrameParams& params, Rate rate, float samples[kFrameSamples],
                       LpcSets& lpc) {
  DecoderState& state = decoderState;
  const bool erased = params.erased != 0;
  state.erasureCount = erased ? std::min(state.erasureCount + 1, kMaxErasureCount) : 0;

  const LspVector lsp = DecodeLsp(state.previousLsp, static_cast<uint32_t>(params.lspIndex), erased);
  InterpolateLsp(lpc, lsp, state.previousLsp);
  state.previousLsp = lsp;

  if (state.erasureCount == 0) {
    const int index = (params.sub[2].amplitudeIndex + params.sub[3].amplitudeIndex) / 2;
    state.concealGain = FixedGainTable[index];
  } else {
    state.concealGain *= kConcealAttenuation;
  }

  float e[kExcitationSamples];
  std::copy(state.excitationHistory.begin(), state.excitationHistory.end(), e);
  if (state.erasureCount == 0) {
    DecodeGoodExcitation(params, rate, e, samples);
    comfortNoiseState.sidLsp = state.previousLsp;
  } else {
    ConcealErasedFrame(e, samples);
  }
  comfortNoiseState.noiseSeed = kNoiseSeedAfterSpeech;
  std::copy(e + kFrameSamples, e + kExcitationSamples, state.excitationHistory.begin());
}

}  // namespace

void DecodeSpeechFrame(const uint8_t frame[kMaxCodedFrameBytes], bool lost, Rate& rate,
                       float samples[kFrameSamples]) {
  FrameType type = FrameType::Active;
  FrameParams params = UnpackFrame(frame, lost, type, rate);
  if (params.erased != 0) {
    // A bad frame in silence just continues the comfort noise.
    type = comfortNoiseState.previousFrameType == FrameType::Active ? FrameType::Active
                                                                     : FrameType::Untransmitted;
  }

  LpcSets lpc;
  if (type == FrameType::Active) {
    DecodeActiveFrame(params, rate, samples, lpc);
  } else {
    DecodeComfortNoise(type, params, samples, lpc, rate);
  }
  comfortNoiseState.previousFrameType = type;

  FilterFrameOutput(samples, lpc);
  // An overflow inside the filters (a near-unstable envelope) must cost this frame at most,
  // not silence every frame after it.
  ResetNonFiniteState();
}

}  // namespace clipnote::speech
