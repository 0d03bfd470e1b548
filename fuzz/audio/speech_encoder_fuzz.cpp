// Arbitrary PCM through the speech encoder, then its frames through the speech decoder.
// The first byte chooses the rate, whether quiet stretches are compressed, whether the
// rate changes from frame to frame and (its top bit) whether the noise is shaped; the rest is 16-bit samples, a last partial frame
// completed with zeros. Whatever the samples (silence, clipping, DC, noise, tones at full
// scale), every frame must unpack without being erased, the encoder's state must stay finite
// after every frame, and the decoder fed the stream must produce exactly the encoder's own
// reconstruction: any difference means the encoder's copy of the receiver has drifted.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/decoder_state.h"
#include "audio/encoder/speech_encoder.h"
#include "audio/frame_decoder.h"
#include "audio/frame_unpacker.h"

using namespace clipnote::speech;

namespace {

constexpr size_t kMaxFrames = 200;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  ++data;
  --size;
  const size_t frames = std::min(kMaxFrames, (size / 2 + kFrameSamples - 1) / kFrameSamples);
  if (frames == 0) return 0;
  std::vector<int16_t> samples(frames * kFrameSamples, 0);
  std::memcpy(samples.data(), data, std::min(size / 2, samples.size()) * 2);

  SpeechEncoderOptions options;
  options.rate = control & 1 ? Rate::Rate53 : Rate::Rate63;
  options.silenceCompression = (control & 2) != 0;
  options.harmonicShaping = (control & 0x80) != 0;
  const bool switchRate = (control & 4) != 0;
  static SpeechEncoder encoder;  // large: kept out of the stack
  encoder.Reset(options);
  std::vector<uint8_t> stream;
  std::vector<float> reconstruction;
  for (size_t f = 0; f < frames; ++f) {
    if (switchRate) encoder.SetRate(((control >> 3) + f) % 3 == 0 ? Rate::Rate53 : Rate::Rate63);
    uint8_t out[kMaxCodedFrameBytes];
    const int16_t* next = f + 1 < frames ? &samples[(f + 1) * kFrameSamples] : nullptr;
    const int length = encoder.EncodeFrame(&samples[f * kFrameSamples], next, out);
    if (length < 1 || length > kMaxCodedFrameBytes || CodedFrameLength(out[0]) != length) {
      __builtin_trap();
    }
    if (!encoder.StateIsFinite()) __builtin_trap();
    stream.insert(stream.end(), out, out + length);
    const float* decoded = encoder.DecodedSamples();
    reconstruction.insert(reconstruction.end(), decoded, decoded + kFrameSamples);
  }

  ResetDecoderStates();
  Rate rate = Rate::Rate53;
  size_t frame = 0;
  for (size_t at = 0; at < stream.size(); ++frame) {
    uint8_t buffer[kMaxCodedFrameBytes] = {};
    const size_t length = static_cast<size_t>(CodedFrameLength(stream[at]));
    std::memcpy(buffer, &stream[at], length);
    at += length;
    FrameType type = FrameType::Active;
    Rate unpackRate = rate;
    if (UnpackFrame(buffer, false, type, unpackRate).erased != 0) __builtin_trap();
    float decoded[kFrameSamples];
    DecodeSpeechFrame(buffer, false, rate, decoded);
    if (std::memcmp(decoded, &reconstruction[frame * kFrameSamples], sizeof decoded) != 0) {
      __builtin_trap();
    }
  }
  if (frame != frames || !DecoderStatesAreFinite()) __builtin_trap();
  return 0;
}
