#pragma once

#include <cstdint>

#include "audio/decoder_state.h"
#include "audio/encoder/highpass_filter.h"
#include "audio/encoder/perceptual_weighting.h"
#include "audio/encoder/voice_activity.h"
#include "audio/frame_geometry.h"
#include "audio/frame_params.h"
#include "audio/frame_unpacker.h"

namespace clipnote::speech {

struct SpeechEncoderOptions {
  Rate rate = Rate::Rate63;
  bool silenceCompression = true;  // code quiet stretches as SID and untransmitted frames
  // Shape the coding noise under the pitch harmonics. Off by default: over the benchmark's
  // clips it raises the log-spectral distance by up to 0.17 dB for at most 0.19 dB of
  // segmental SNR gained (and up to 0.13 lost).
  bool harmonicShaping = false;
};

// Frames of each kind an encoder has produced.
struct EncodedFrameCounts {
  uint32_t active = 0;
  uint32_t sid = 0;
  uint32_t untransmitted = 0;
};

// An analysis-by-synthesis G.723.1 encoder, 8000 Hz 16-bit PCM in, coded frames out.
//
// It keeps its own copy of the speech decoder's state and, after every frame, runs the
// decoder's own frame decoding on the frame it has just written, so that its excitation
// history, LSP prediction and comfort-noise state are exactly those of any decoder that
// receives the stream. The object holds everything it needs; encoding allocates nothing
// and touches no memory but its own and the buffers it is given.
//
// Not reentrant with the decoder: a frame's reconstruction borrows the process-wide decoder
// records for the length of one call and gives them back unchanged.
class SpeechEncoder {
 public:
  explicit SpeechEncoder(const SpeechEncoderOptions& options = {});

  // Back to the state of a new clip.
  void Reset(const SpeechEncoderOptions& options);

  // The rate of the following frames; may change at any frame.
  void SetRate(Rate rate) { options_.rate = rate; }

  // Encodes the 240 samples of frame into out (room for kMaxCodedFrameBytes), returning the
  // frame's length: 24 or 20 bytes of speech, 4 of SID, 1 untransmitted. next is the frame
  // after it, or nullptr at the end of the input: the silence decision looks one frame ahead
  // so that the frame before speech is sent as speech.
  int EncodeFrame(const int16_t frame[kFrameSamples], const int16_t* next,
                  uint8_t out[kMaxCodedFrameBytes]);

  // What the decoder makes of the frames so far: the last frame's 240 output samples, in
  // PCM units before rounding.
  const float* DecodedSamples() const { return decoded_; }

  const EncodedFrameCounts& Counts() const { return counts_; }

  // True when every value the encoder carries between frames is finite.
  bool StateIsFinite() const;

 private:
  SpeechEncoder(const SpeechEncoderOptions& options, int);
  void AnalyseFrame();
  int EncodeActive(uint8_t out[kMaxCodedFrameBytes]);
  int EncodeSilence(uint8_t out[kMaxCodedFrameBytes]);
  void Reconstruct(const uint8_t frame[kMaxCodedFrameBytes]);
  // Mean square of the decoder's output for frame and then `following` untransmitted
  // frames, on copies of its state: the encoder's own copy is left as it was.
  double TrialPower(const uint8_t frame[kMaxCodedFrameBytes], int following) const;
  bool DecideActive(const int16_t frame[kFrameSamples], const int16_t* next);

  static constexpr int kPastSpeech = 60;
  // Samples of the next frame the envelope of the last subframe sees, when there is one.
  static constexpr int kLookahead = 60;
  static constexpr int kPastWeighted = 142;

  SpeechEncoderOptions options_;
  HighPassFilter highPass_;
  VoiceActivityDetector activity_;
  // High-passed input: kPastSpeech samples before the frame, the frame, and the whole next
  // frame through a copy of the filter (when nextKnown_).
  float speech_[kPastSpeech + 2 * kFrameSamples] = {};
  bool nextKnown_ = false;
  // Weighted input: kPastWeighted samples before the frame, then the frame.
  float weighted_[kPastWeighted + kFrameSamples] = {};
  // Weighted input less the weighted synthesis of the coded excitation, laid out as weighted_.
  float weightedError_[kPastWeighted + kFrameSamples] = {};
  FilterMemory inputWeighting_;
  FilterMemory synthesis_;  // the weighted synthesis filter of the coded excitation
  LpcSet lpc_[kSubframesPerFrame] = {};
  Weighting weighting_[kSubframesPerFrame];
  LspVector lsp_{};  // unquantised LSP vector of the frame (its last subframe's)
  LspVector subframeLsp_[3] = {};  // and of its other subframes, where codable
  bool subframeLspKnown_[3] = {};
  int openLoop_[2] = {60, 60};
  float periodicity_[2] = {};  // of each half frame at its open-loop lag

  // The decoder as the stream's receiver has it.
  DecoderState decoder_;
  ComfortNoiseState noise_;
  Rate decoderRate_ = Rate::Rate63;
  float decoded_[kFrameSamples] = {};

  // Silence compression.
  int hangover_ = 0;
  bool nextLevelKnown_ = false;
  bool nextActive_ = false;
  bool previousActive_ = true;
  LspVector noiseLsp_{};  // smoothed envelope of the current silence
  double noiseEnergy_ = 0;  // smoothed residual energy of the silence, per 120 samples
  double noisePower_ = 0;   // smoothed mean square of the silence's input
  double decodedNoisePower_ = 0;  // and of the decoder's comfort noise in it
  LspVector sentSidLsp_{};
  int sentSidGain_ = -1;

  EncodedFrameCounts counts_;
};

}  // namespace clipnote::speech
