#include "audio/comfort_noise.h"

#include <algorithm>
#include <cmath>

#include "audio/decoder_state.h"
#include "audio/excitation.h"
#include "audio/lsp_decoder.h"
#include "audio/next_random.h"
#include "audio/sid_gain.h"

namespace clipnote::speech {

namespace {

constexpr int kPairSamples = 2 * kSubframeSamples;
constexpr int kPairPulses = 11;
constexpr int kSlots = 30;
constexpr int kPulsesPerSubframe[kSubframesPerFrame] = {6, 5, 6, 5};
constexpr int kNoiseLagDelta[kSubframesPerFrame] = {1, 0, 1, 3};
constexpr float kOneEleventh = 0.0909090936f;
constexpr float kMaxPulse = 5000.0f;

// An integer in 0..n-1 from the noise generator.
int RandomBelow(int n) {
  const int r = NextRandom(comfortNoiseState.noiseSeed) & 0x7FFF;
  return (n * r) >> 15;
}

struct PairPulses {
  int position[kPairPulses];  // within the pair's 120 samples
  float sign[kPairPulses];
};

// Draws the random parameters in the generator's fixed order: lags, gains, then per pair the
// grid offsets and signs, then per subframe the pulse positions.
void DrawParameters(FrameParams& params, PairPulses pulses[2]) {
  params.openLoopLag[0] = RandomBelow(21) + 123;
  params.openLoopLag[1] = RandomBelow(21) + 123;
  for (int s = 0; s < kSubframesPerFrame; ++s) params.sub[s].gainIndex = RandomBelow(50) + 1;
  for (int s = 0; s < kSubframesPerFrame; ++s) params.sub[s].lagDelta = kNoiseLagDelta[s];

  int offset[kSubframesPerFrame];
  for (int pair = 0; pair < 2; ++pair) {
    const int r = RandomBelow(8192);
    offset[2 * pair] = r & 1;
    offset[2 * pair + 1] = kSubframeSamples + ((r >> 1) & 1);
    params.sub[2 * pair].grid = r & 1;
    params.sub[2 * pair + 1].grid = (r >> 1) & 1;
    for (int j = 0; j < kPairPulses; ++j) {
      pulses[pair].sign[j] = ((r >> (2 + j)) & 1) ? 1.0f : -1.0f;
    }
  }

  for (int s = 0; s < kSubframesPerFrame; ++s) {
    int freeSlots[kSlots];
    for (int t = 0; t < kSlots; ++t) freeSlots[t] = t;
    PairPulses& pair = pulses[s / 2];
    const int first = (s % 2 == 0) ? 0 : kPulsesPerSubframe[s - 1];
    for (int j = 0; j < kPulsesPerSubframe[s]; ++j) {
      const int m = RandomBelow(kSlots - j);
      pair.position[first + j] = 2 * freeSlots[m] + offset[s];
      freeSlots[m] = freeSlots[kSlots - 1 - j];
    }
  }
}

// Builds one 120-sample pair of comfort-noise excitation into block and appends it to the
// excitation history.
void GeneratePair(int pair, const FrameParams& params, const PairPulses& pulses, float noiseGain,
                  Rate rate, float block[kPairSamples]) {
  auto& history = decoderState.excitationHistory;
  const int lag = params.openLoopLag[pair];
  const SubframeParams& first = params.sub[2 * pair];
  const SubframeParams& second = params.sub[2 * pair + 1];
  DecodeAdaptiveVector(block, history.data(), 0, lag, first.lagDelta, first.gainIndex, rate);
  DecodeAdaptiveVector(block + kSubframeSamples, history.data(), kSubframeSamples, lag,
                       second.lagDelta, second.gainIndex, rate);

  double energy = 0.0;
  for (int n = 0; n < kPairSamples; ++n) energy += static_cast<double>(block[n]) * block[n];
  double correlation = 0.0;
  for (int j = 0; j < kPairPulses; ++j) correlation += block[pulses.position[j]] * pulses.sign[j];
  const float ea = static_cast<float>(energy);
  const float c = static_cast<float>(correlation);

  // Pulse amplitude b that brings the pair's energy to 120 noiseGain^2: the root of smaller
  // magnitude of b^2 + 2 x1 b + (Ea - 120 noiseGain^2) / 11 = 0, or -x1 when there is none.
  // x1 is stored in single precision; D, its root and b are formed in double and b is
  // rounded once.
  const float x1 = c * kOneEleventh;
  const double target = 120.0 * (static_cast<double>(noiseGain) * noiseGain);
  const double d = static_cast<double>(x1) * x1 - (ea - target) * kOneEleventh;
  float b;
  if (d <= 0.0) {
    b = -x1;
  } else {
    const double root = std::sqrt(d);
    b = static_cast<float>(std::fabs(root - x1) <= std::fabs(x1 + root) ? root - x1 : -(x1 + root));
  }
  b = std::clamp(b, -kMaxPulse, kMaxPulse);

  for (int j = 0; j < kPairPulses; ++j) block[pulses.position[j]] += b * pulses.sign[j];
  for (int n = 0; n < kPairSamples; ++n) {
    if (block[n] > 32766.5f) {
      block[n] = 32767.0f;
    } else if (block[n] < -32767.5f) {
      block[n] = -32768.0f;
    }
  }

  std::copy(history.begin() + kPairSamples, history.end(), history.begin());
  std::copy(block, block + kPairSamples, history.end() - kPairSamples);
}

}  // namespace

void DecodeComfortNoise(FrameType type, FrameParams& params, float samples[kFrameSamples],
                        LpcSets& lpc, Rate rate) {
  ComfortNoiseState& noise = comfortNoiseState;
  const bool afterSpeech = noise.previousFrameType == FrameType::Active;

  if (type == FrameType::Sid) {
    noise.sidGain = DecodeSidGain(params.sub[0].amplitudeIndex);
    noise.sidLsp = DecodeLsp(decoderState.previousLsp,
                             static_cast<uint32_t>(params.lspIndex), false);
  } else if (afterSpeech) {
    // sidGain holds the energy of the last 120 excitation samples of the speech frame:
    // the noise continues at that level, as the quantiser would have sent it.
    noise.sidGain = DecodeSidGain(QuantiseSidGain(noise.sidGain));
  }
  noise.noiseGain =
      afterSpeech ? noise.sidGain
                  : static_cast<float>(0.875 * noise.noiseGain + 0.125 * noise.sidGain);

  PairPulses pulses[2];
  DrawParameters(params, pulses);
  for (int pair = 0; pair < 2; ++pair) {
    GeneratePair(pair, params, pulses[pair], noise.noiseGain, rate, samples + pair * kPairSamples);
  }

  InterpolateLsp(lpc, noise.sidLsp, decoderState.previousLsp);
  decoderState.previousLsp = noise.sidLsp;
}

}  // namespace clipnote::speech
