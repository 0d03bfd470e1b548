#include "audio/encoder/speech_encoder.h"

#include <algorithm>
#include <cmath>

#include "audio/encoder/adaptive_search.h"
#include "audio/encoder/comfort_noise_level.h"
#include "audio/encoder/fixed_codebook_search.h"
#include "audio/encoder/frame_packer.h"
#include "audio/encoder/harmonic_noise_shaping.h"
#include "audio/encoder/lpc_analysis.h"
#include "audio/encoder/lpc_to_lsp.h"
#include "audio/encoder/lsp_quantiser.h"
#include "audio/encoder/open_loop_pitch.h"
#include "audio/excitation.h"
#include "audio/frame_decoder.h"
#include "audio/lsp_decoder.h"
#include "audio/lsp_tables.h"
#include "audio/sid_gain.h"

namespace clipnote::speech {

namespace {

constexpr int kSmallGainTableLagLimit = 58;
constexpr int kHangoverFrames = 6;
// A SID frame is sent again when the noise changes by more than this.
constexpr float kSidGainChange = 1.41f;        // ratio of decoded gains (3 dB)
constexpr float kSidSpectrumChange = 4.0f;     // mean LSP distance, decoder units
// A SID frame is also sent when the decoder's comfort noise would drift this far (dB) from
// the silence's level; its gain is then chosen by decoding the candidates.
constexpr double kLevelDrift = 2.0;
// Untransmitted frames a SID gain candidate is judged over after its own frame: the decoder
// keeps the gain until the next SID, so a gain right for one frame alone may not stay right.
constexpr int kTrialFollowing = 2;
// Weight of the newest frame in the silence's smoothed envelope and levels.
constexpr float kNoiseSmoothing = 0.3f;

// Lends the encoder's copy of the decoder records to the decoder's own code for the
// length of one scope, and puts the process-wide records back afterwards.
class BorrowedDecoderState {
 public:
  BorrowedDecoderState(DecoderState& decoder, ComfortNoiseState& noise)
      : decoder_(decoder), noise_(noise), savedDecoder_(decoderState), savedNoise_(comfortNoiseState) {
    decoderState = decoder_;
    comfortNoiseState = noise_;
  }
  ~BorrowedDecoderState() {
    decoder_ = decoderState;
    noise_ = comfortNoiseState;
    decoderState = savedDecoder_;
    comfortNoiseState = savedNoise_;
  }
  BorrowedDecoderState(const BorrowedDecoderState&) = delete;
  BorrowedDecoderState& operator=(const BorrowedDecoderState&) = delete;

 private:
  DecoderState& decoder_;
  ComfortNoiseState& noise_;
  DecoderState savedDecoder_;
  ComfortNoiseState savedNoise_;
};

template <size_t kSize>
bool AllFinite(const std::array<float, kSize>& values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

template <size_t kSize>
void KeepFinite(std::array<float, kSize>& values) {
  if (!AllFinite(values)) values.fill(0.0f);
}

}  // namespace

SpeechEncoder::SpeechEncoder(const SpeechEncoderOptions& options) { Reset(options); }

void SpeechEncoder::Reset(const SpeechEncoderOptions& options) {
  *this = SpeechEncoder(options, 0);
}

SpeechEncoder::SpeechEncoder(const SpeechEncoderOptions& options, int) : options_(options) {
  lsp_ = LspMeanTable;
  decoder_.previousLsp = LspMeanTable;
  noise_.sidLsp = LspMeanTable;
  sentSidLsp_ = LspMeanTable;
}

bool SpeechEncoder::StateIsFinite() const {
  auto finite = [](const float* v, int n) {
    return std::all_of(v, v + n, [](float x) { return std::isfinite(x); });
  };
  return finite(speech_, kPastSpeech + kFrameSamples) &&
         finite(weighted_, kPastWeighted + kFrameSamples) &&
         finite(weightedError_, kPastWeighted + kFrameSamples) && AllFinite(inputWeighting_.input) &&
         AllFinite(inputWeighting_.output) && AllFinite(synthesis_.input) &&
         AllFinite(synthesis_.output) && AllFinite(lsp_) && AllFinite(decoder_.excitationHistory) &&
         AllFinite(decoder_.previousLsp) && AllFinite(decoder_.synthesisMemory) &&
         std::isfinite(highPass_.previousOutput) && std::isfinite(noise_.noiseGain);
}

void SpeechEncoder::AnalyseFrame() {
  // One envelope per subframe from a three-subframe window centred on it, which for the
  // last subframe reaches into the next frame. The last subframe's envelope is the one the
  // frame's LSP vector codes: off centre, it would describe the speech a subframe late. At
  // the end of the input the last two share the window that ends with the frame.
  static constexpr int kWindowStart[kSubframesPerFrame] = {0, 60, 120, 180};
  static_assert(kWindowStart[3] + kLpcWindowSamples <= kPastSpeech + kFrameSamples + kLookahead);
  const int last = nextKnown_ ? kWindowStart[3] : kWindowStart[2];
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    const Envelopes envelopes = AnalyseLpc(speech_ + (s == 3 ? last : kWindowStart[s]));
    lpc_[s] = envelopes.weighting;
    weighting_[s] = MakeWeighting(lpc_[s], options_.rate);
    if (s < 3) {
      subframeLspKnown_[s] = LpcToLsp(envelopes.coding, subframeLsp_[s]);
    } else {
      LspVector lsp;
      if (LpcToLsp(envelopes.coding, lsp)) lsp_ = lsp;  // otherwise the last codable envelope stays
    }
  }

  std::copy(weighted_ + kFrameSamples, weighted_ + kFrameSamples + kPastWeighted, weighted_);
  float* current = weighted_ + kPastWeighted;
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    ApplyWeighting(speech_ + kPastSpeech + s * kSubframeSamples, current + s * kSubframeSamples,
                   kSubframeSamples, weighting_[s], inputWeighting_);
  }
  KeepFinite(inputWeighting_.input);
  KeepFinite(inputWeighting_.output);
  for (int h = 0; h < 2; ++h) {
    openLoop_[h] = OpenLoopPitch(current + h * kHalfFrameSamples);
    periodicity_[h] = VoiceActivityDetector::Periodicity(current + h * kHalfFrameSamples, openLoop_[h]);
  }
}

int SpeechEncoder::EncodeActive(uint8_t out[kMaxCodedFrameBytes]) {
  const Rate rate = options_.rate;
  FrameParams params;
  const LspVector target =
      InterpolationTarget(subframeLsp_, subframeLspKnown_, lsp_, decoder_.previousLsp);
  const uint32_t lspIndex = QuantiseLsp(target, decoder_.previousLsp);
  params.lspIndex = static_cast<int32_t>(lspIndex);
  const LspVector quantised = DecodeLsp(decoder_.previousLsp, lspIndex, false);
  LpcSets lpcq;
  InterpolateLsp(lpcq, quantised, decoder_.previousLsp);

  float e[kExcitationSamples];
  std::copy(decoder_.excitationHistory.begin(), decoder_.excitationHistory.end(), e);
  const float* weighted = weighted_ + kPastWeighted;
  std::copy(weightedError_ + kFrameSamples, weightedError_ + kFrameSamples + kPastWeighted, weightedError_);
  float* weightedError = weightedError_ + kPastWeighted;
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    const int half = s / 2;
    SubframeParams& sub = params.sub[s];
    float zeroInput[kSubframeSamples];
    FilterMemory ringing = synthesis_;
    ApplyWeightedSynthesis(nullptr, zeroInput, kSubframeSamples, lpcq[s], weighting_[s], ringing);
    float target[kSubframeSamples];
    for (int n = 0; n < kSubframeSamples; ++n) {
      target[n] = weighted[s * kSubframeSamples + n] - zeroInput[n];
    }
    float h[kSubframeSamples];
    ImpulseResponse(lpcq[s], weighting_[s], h);
    if (options_.harmonicShaping) {
      const HarmonicShaping shaping =
          FindHarmonicShaping(weighted + s * kSubframeSamples, openLoop_[half]);
      ShapeTarget(shaping, weightedError + s * kSubframeSamples, target);
      ShapeImpulseResponse(shaping, h);
    }

    const float* history = e + s * kSubframeSamples;
    if (s % 2 == 0) {
      // The half frame's coded lag: the open-loop estimate or a neighbour, closed loop.
      AdaptiveChoice best;
      bool first = true;
      for (int lag = openLoop_[half] - 1; lag <= openLoop_[half] + 1; ++lag) {
        if (lag < kMinimumPitchLag || lag > kMaximumPitchLag) continue;
        const bool small = rate == Rate::Rate63 && lag < kSmallGainTableLagLimit;
        const AdaptiveChoice choice = SearchAdaptiveCodebook(history, target, h, lag, lag, small);
        if (first || choice.error < best.error) {
          best = choice;
          first = false;
        }
      }
      params.openLoopLag[half] = best.lag;
      sub.lagDelta = 1;
      sub.gainIndex = best.gainIndex;
    } else {
      const int lag = params.openLoopLag[half];
      const bool small = rate == Rate::Rate63 && lag < kSmallGainTableLagLimit;
      const AdaptiveChoice choice =
          SearchAdaptiveCodebook(history, target, h, lag - 1, lag + 2, small);
      sub.lagDelta = choice.lag - lag + 1;
      sub.gainIndex = choice.gainIndex;
    }
    const int lag = params.openLoopLag[half];

    float adaptive[kSubframeSamples];
    DecodeAdaptiveVector(adaptive, history, 0, lag, sub.lagDelta, sub.gainIndex, rate);
    float adaptiveFiltered[kSubframeSamples];
    ConvolveSubframe(adaptive, h, adaptiveFiltered);
    for (int n = 0; n < kSubframeSamples; ++n) target[n] -= adaptiveFiltered[n];

    if (rate == Rate::Rate63) {
      SearchMultipulse(target, h, s, lag, sub);
    } else {
      SearchAlgebraic(target, h, lag, sub);
    }
    float* current = e + kHistorySamples + s * kSubframeSamples;
    DecodeFixedVector(current, sub, lag, s, rate);
    for (int n = 0; n < kSubframeSamples; ++n) current[n] += adaptive[n];

    float synthesised[kSubframeSamples];
    ApplyWeightedSynthesis(current, synthesised, kSubframeSamples, lpcq[s], weighting_[s], synthesis_);
    for (int n = 0; n < kSubframeSamples; ++n) {
      weightedError[s * kSubframeSamples + n] = weighted[s * kSubframeSamples + n] - synthesised[n];
    }
  }
  KeepFinite(synthesis_.input);
  KeepFinite(synthesis_.output);
  return PackFrame(params, FrameType::Active, rate, out);
}

int SpeechEncoder::EncodeSilence(uint8_t out[kMaxCodedFrameBytes]) {
  // The noise is described by its envelope and level averaged over the silence so far (one
  // frame of noise is a poor estimate of either): the smoothed LSP vector, and the residual
  // energy of the input through the envelope the decoder will have, per 120 samples.
  constexpr float kSmoothing = kNoiseSmoothing;
  if (previousActive_) {
    noiseLsp_ = lsp_;
  } else {
    for (int i = 0; i < kLpcOrder; ++i) noiseLsp_[i] += kSmoothing * (lsp_[i] - noiseLsp_[i]);
  }
  const uint32_t lspIndex = QuantiseLsp(noiseLsp_, decoder_.previousLsp);
  LpcSet a = DecodeLsp(decoder_.previousLsp, lspIndex, false);
  LspToLpc(a);
  double energy = 0;
  for (int n = 0; n < kFrameSamples; ++n) {
    double r = speech_[kPastSpeech + n];
    for (int j = 0; j < kLpcOrder; ++j) r -= static_cast<double>(a[j]) * speech_[kPastSpeech + n - 1 - j];
    energy += r * r;
  }
  energy /= 2;
  noiseEnergy_ = previousActive_ || !std::isfinite(noiseEnergy_)
                     ? energy
                     : noiseEnergy_ + kSmoothing * (energy - noiseEnergy_);
  int gainIndex = QuantiseSidGain(static_cast<float>(noiseEnergy_));
  // The level to match: the mean square of the high-passed input, smoothed the same way.
  double power = 0;
  for (int n = 0; n < kFrameSamples; ++n) power += static_cast<double>(speech_[kPastSpeech + n]) * speech_[kPastSpeech + n];
  power /= kFrameSamples;
  noisePower_ = previousActive_ || !std::isfinite(noisePower_) ? power
                                                                : noisePower_ + kSmoothing * (power - noisePower_);

  bool send = previousActive_ || sentSidGain_ < 0;
  if (!send) {
    const float was = DecodeSidGain(sentSidGain_), now = DecodeSidGain(gainIndex);
    const float high = std::max(was, now), low = std::min(was, now);
    if (high > kSidGainChange * low + 2.0f) send = true;
    double distance = 0;
    for (int i = 0; i < kLpcOrder; ++i) distance += std::fabs(noiseLsp_[i] - sentSidLsp_[i]);
    if (distance / kLpcOrder > kSidSpectrumChange) send = true;
  }
  if (!send) {
    // The decoded level smoothed as the input's is: one frame of either is a noisy measure.
    PackFrame(FrameParams{}, FrameType::Untransmitted, options_.rate, out);
    const double decoded = decodedNoisePower_ + kSmoothing * (TrialPower(out, 0) - decodedNoisePower_);
    if (std::fabs(LevelDifference(decoded, noisePower_)) <= kLevelDrift) {
      ++counts_.untransmitted;
      return 1;
    }
  }
  FrameParams params;
  params.lspIndex = static_cast<int32_t>(lspIndex);
  // The gain whose decoded noise, over this frame and the untransmitted ones that may follow,
  // comes nearest the silence's level.
  struct Trial final : ComfortNoiseTrial {
    SpeechEncoder& encoder;
    FrameParams& params;
    Trial(SpeechEncoder& e, FrameParams& p) : encoder(e), params(p) {}
    double DecodedPower(int index) override {
      uint8_t frame[kMaxCodedFrameBytes];
      params.sub[0].amplitudeIndex = index;
      PackFrame(params, FrameType::Sid, encoder.options_.rate, frame);
      return encoder.TrialPower(frame, kTrialFollowing);
    }
  } trial(*this, params);
  gainIndex = ChooseSidGain(gainIndex, noisePower_, trial);
  params.sub[0].amplitudeIndex = gainIndex;
  sentSidGain_ = gainIndex;
  sentSidLsp_ = noiseLsp_;
  ++counts_.sid;
  return PackFrame(params, FrameType::Sid, options_.rate, out);
}

double SpeechEncoder::TrialPower(const uint8_t frame[kMaxCodedFrameBytes], int following) const {
  DecoderState decoder = decoder_;
  ComfortNoiseState noise = noise_;
  Rate rate = decoderRate_;
  const BorrowedDecoderState borrowed(decoder, noise);
  uint8_t untransmitted[kMaxCodedFrameBytes];
  PackFrame(FrameParams{}, FrameType::Untransmitted, options_.rate, untransmitted);
  double sum = 0;
  for (int f = 0; f <= following; ++f) {
    float samples[kFrameSamples];
    DecodeSpeechFrame(f == 0 ? frame : untransmitted, false, rate, samples);
    for (float v : samples) sum += static_cast<double>(v) * v;
  }
  return sum / ((following + 1) * kFrameSamples);
}

void SpeechEncoder::Reconstruct(const uint8_t frame[kMaxCodedFrameBytes]) {
  const BorrowedDecoderState borrowed(decoder_, noise_);
  DecodeSpeechFrame(frame, false, decoderRate_, decoded_);
}

bool SpeechEncoder::DecideActive(const int16_t frame[kFrameSamples], const int16_t* next) {
  (void)frame;
  const float level = VoiceActivityDetector::FrameLevel(speech_ + kPastSpeech);
  const bool loud = nextLevelKnown_ ? nextActive_ : activity_.IsActive(level);
  const bool active = loud || VoiceActivityDetector::IsTonal(level, periodicity_);
  nextLevelKnown_ = next != nullptr;
  if (next) nextActive_ = activity_.IsActive(VoiceActivityDetector::FrameLevel(speech_ + kPastSpeech + kFrameSamples));
  if (active) {
    hangover_ = kHangoverFrames;
    return true;
  }
  if (nextLevelKnown_ && nextActive_) return true;  // the frame before speech is speech
  if (hangover_ > 0) {
    --hangover_;
    return true;
  }
  return false;
}

int SpeechEncoder::EncodeFrame(const int16_t frame[kFrameSamples], const int16_t* next,
                               uint8_t out[kMaxCodedFrameBytes]) {
  std::copy(speech_ + kFrameSamples, speech_ + kFrameSamples + kPastSpeech, speech_);
  highPass_.Run(frame, speech_ + kPastSpeech);
  if (!std::isfinite(highPass_.previousOutput)) highPass_ = HighPassFilter{};
  nextKnown_ = next != nullptr;
  if (next) {
    // The next frame through a copy of the input filter: the same samples the filter itself
    // gives it one call later.
    HighPassFilter ahead = highPass_;
    ahead.Run(next, speech_ + kPastSpeech + kFrameSamples);
  }
  AnalyseFrame();

  const bool active = !options_.silenceCompression || DecideActive(frame, next);
  int length;
  if (active) {
    length = EncodeActive(out);
    ++counts_.active;
  } else {
    length = EncodeSilence(out);
    // The coded excitation of the silence is the decoder's comfort noise, which the weighted
    // synthesis does not follow: it starts again from rest with the next speech frame.
    synthesis_ = FilterMemory{};
    std::copy(weightedError_ + kFrameSamples, weightedError_ + kFrameSamples + kPastWeighted, weightedError_);
    std::fill(weightedError_ + kPastWeighted, weightedError_ + kPastWeighted + kFrameSamples, 0.0f);
  }
  const bool silenceStarts = !active && previousActive_;
  previousActive_ = active;
  Reconstruct(out);
  if (!active) {
    double power = 0;
    for (float v : decoded_) power += static_cast<double>(v) * v;
    power /= kFrameSamples;
    decodedNoisePower_ = silenceStarts || !std::isfinite(decodedNoisePower_)
                             ? power
                             : decodedNoisePower_ + kNoiseSmoothing * (power - decodedNoisePower_);
  }
  return length;
}

}  // namespace clipnote::speech
