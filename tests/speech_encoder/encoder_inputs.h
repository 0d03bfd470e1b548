#pragma once

// Test inputs of the speech encoder: the committed speech decoded by our decoder, and
// synthetic signals that stress it (tones, noise, clipping, DC, silence).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/encoder/speech_encoder.h"
#include "audio/frame_decoder.h"
#include "audio/voice_clip.h"
#include "support/test_support.h"

namespace clipnote::speech::test_inputs {

inline std::vector<uint8_t> ReadSourceFile(const std::string& path) {
  return support::ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/" + path);
}

// A frame stream decoded by our decoder, as 16-bit samples.
inline std::vector<int16_t> DecodeStream(const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> pcm(stream.size() * 480);
  AudioDecoder decoder;
  decoder.Create();
  decoder.Reset(Rate::Rate53);
  uint32_t offset = 0;
  const VoiceDecodeResult result =
      DecodeVoiceClip(decoder, static_cast<uint32_t>(stream.size()), stream.data(), pcm.data(),
                      static_cast<uint32_t>(pcm.size()), offset);
  decoder.Release();
  std::vector<int16_t> samples(result.pcmBytes / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
  }
  return samples;
}

// The committed two-second utterance.
inline std::vector<int16_t> Hello() { return DecodeStream(ReadSourceFile("tests/audio/data/hello_63.723")); }

// The default message's speech (38 s with pauses).
inline std::vector<int16_t> MessageSpeech() {
  const std::vector<uint8_t> message = ReadSourceFile("resources/message.723");
  VoiceClip clip;
  if (ParseVoiceClip(message.data(), message.size(), clip) != VoiceClipError::None) return {};
  return DecodeStream(std::vector<uint8_t>(clip.coded, clip.coded + clip.codedByteCount));
}

inline std::vector<int16_t> Tone(double hz, double amplitude, int samples) {
  std::vector<int16_t> out(samples);
  for (int n = 0; n < samples; ++n) {
    out[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * n / 8000.0)));
  }
  return out;
}

// A tune: eighth notes of a scale (a fundamental and its octave, each note struck and
// decaying), peak amplitude about `amplitude`.
inline std::vector<int16_t> Melody(double amplitude, int samples) {
  static constexpr int kSteps[8] = {0, 2, 4, 5, 7, 9, 11, 12};
  constexpr int kNote = 2000;  // samples: a quarter of a second
  std::vector<int16_t> out(samples);
  double phase = 0;
  for (int n = 0; n < samples; ++n) {
    const double hz = 220.0 * std::pow(2.0, kSteps[(n / kNote) % 8] / 12.0);
    phase += 2 * M_PI * hz / 8000.0;
    const double envelope = 0.4 + 0.6 * std::exp(-16.0 * (n % kNote) / kNote);
    out[n] = static_cast<int16_t>(std::lround(amplitude * envelope * (0.7 * std::sin(phase) + 0.3 * std::sin(2 * phase))));
  }
  return out;
}

// b added to a, sample by sample, as long as a.
inline std::vector<int16_t> Mixed(std::vector<int16_t> a, const std::vector<int16_t>& b) {
  for (size_t n = 0; n < a.size() && n < b.size(); ++n) {
    a[n] = static_cast<int16_t>(std::clamp(a[n] + b[n], -32768, 32767));
  }
  return a;
}

inline std::vector<int16_t> WhiteNoise(int amplitude, int samples, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<int16_t> out(samples);
  for (int16_t& v : out) {
    v = static_cast<int16_t>(static_cast<int>(random() % (2u * amplitude + 1)) - amplitude);
  }
  return out;
}

// Low-pitched background (a fan, a room): white noise through a one-pole low-pass, its RMS
// about `rms`.
inline std::vector<int16_t> RoomNoise(double rms, int samples, uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> white;
  std::vector<int16_t> out(samples);
  double y = 0;
  for (int16_t& v : out) {
    y = 0.9 * y + white(random);
    v = static_cast<int16_t>(std::clamp(std::lround(y * rms * 0.436), -32768l, 32767l));  // 0.436 = sqrt(1 - 0.81)
  }
  return out;
}

inline std::vector<int16_t> Square(int period, int samples) {
  std::vector<int16_t> out(samples);
  for (int n = 0; n < samples; ++n) out[n] = (n / (period / 2)) % 2 ? -32768 : 32767;
  return out;
}

inline std::vector<int16_t> Constant(int16_t value, int samples) {
  return std::vector<int16_t>(samples, value);
}

inline std::vector<int16_t> Amplified(std::vector<int16_t> in, int factor) {
  for (int16_t& v : in) v = static_cast<int16_t>(std::clamp(v * factor, -32768, 32767));
  return in;
}

// The input with silences of the given length (samples) between its pieces: white noise of
// the given amplitude, or with room set, room noise of that RMS.
inline std::vector<int16_t> WithPauses(const std::vector<int16_t>& in, int pause, int noise, bool room = false) {
  auto gap = [&](uint32_t seed) { return room ? RoomNoise(noise, pause, seed) : WhiteNoise(noise, pause, seed); };
  std::vector<int16_t> out = gap(7);
  out.insert(out.end(), in.begin(), in.end());
  const std::vector<int16_t> middle = gap(8);
  out.insert(out.end(), middle.begin(), middle.end());
  out.insert(out.end(), in.begin(), in.end());
  const std::vector<int16_t> tail = gap(9);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

struct Encoded {
  std::vector<uint8_t> stream;
  std::vector<float> reconstruction;  // the encoder's own copy of the decoder's output
  EncodedFrameCounts counts;
  bool finite = true;
};

// Encodes samples frame by frame (a last partial frame padded with zeros).
inline Encoded Encode(const std::vector<int16_t>& samples, const SpeechEncoderOptions& options) {
  static SpeechEncoder encoder;  // large: kept out of the test's stack
  encoder.Reset(options);
  const size_t frames = (samples.size() + kFrameSamples - 1) / kFrameSamples;
  std::vector<int16_t> padded(samples);
  padded.resize(frames * kFrameSamples, 0);
  Encoded result;
  for (size_t f = 0; f < frames; ++f) {
    uint8_t out[kMaxCodedFrameBytes];
    const int16_t* next = f + 1 < frames ? &padded[(f + 1) * kFrameSamples] : nullptr;
    const int length = encoder.EncodeFrame(&padded[f * kFrameSamples], next, out);
    result.stream.insert(result.stream.end(), out, out + length);
    const float* decoded = encoder.DecodedSamples();
    result.reconstruction.insert(result.reconstruction.end(), decoded, decoded + kFrameSamples);
    result.finite = result.finite && encoder.StateIsFinite();
  }
  result.counts = encoder.Counts();
  return result;
}

// Segmental SNR (dB) of decoded against reference over 240-sample frames, frames of either
// below the given level skipped, each frame's SNR held to -10..40 dB.
inline double SegmentalSnr(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded,
                           double minimumPower = 100.0) {
  double sum = 0;
  int counted = 0;
  for (size_t f = 0; (f + 1) * kFrameSamples <= std::min(reference.size(), decoded.size()); ++f) {
    double signal = 0, noise = 0;
    for (int n = 0; n < kFrameSamples; ++n) {
      const double r = reference[f * kFrameSamples + n];
      const double d = decoded[f * kFrameSamples + n];
      signal += r * r;
      noise += (r - d) * (r - d);
    }
    if (signal / kFrameSamples < minimumPower) continue;
    sum += std::clamp(10 * std::log10((signal + 1) / (noise + 1)), -10.0, 40.0);
    ++counted;
  }
  return counted ? sum / counted : 0.0;
}

}  // namespace clipnote::speech::test_inputs
