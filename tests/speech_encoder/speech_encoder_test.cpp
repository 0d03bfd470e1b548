// The speech encoder on committed speech and on hostile signals: its frames decode exactly to
// what it reconstructed itself, none is erased, its state stays finite, and the streams and
// their frame kinds stay as recorded (a deliberate change of the encoder updates the
// checksums, after the quality rows and the comparison with ffmpeg still hold). The recorded
// streams are coded and decoded with each version of the kernels, the encoder's and the
// decoder's.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>

#include "audio/decoder_state.h"
#include "audio/encoder/encoder_kernels.h"
#include "audio/frame_decoder.h"
#include "audio/speech_kernels.h"
#include "speech_encoder/encoder_inputs.h"
#include "support/kernel_tables.h"

namespace clipnote::speech {

namespace {

using namespace test_inputs;

uint64_t Fnv(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint8_t b : bytes) {
    hash ^= b;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

// Decodes the stream frame by frame with the decoder's own entry point, from a fresh state,
// checking that no frame comes out erased and that every sample equals the encoder's
// reconstruction bit for bit.
void ExpectDecodesToReconstruction(const Encoded& encoded, const std::string& name) {
  ResetDecoderStates();
  Rate rate = Rate::Rate53;
  size_t frame = 0;
  for (size_t at = 0; at < encoded.stream.size(); ++frame) {
    uint8_t buffer[kMaxCodedFrameBytes] = {};
    const size_t length = static_cast<size_t>(CodedFrameLength(encoded.stream[at]));
    ASSERT_LE(at + length, encoded.stream.size()) << name;
    std::memcpy(buffer, &encoded.stream[at], length);
    at += length;
    FrameType type = FrameType::Active;
    Rate unpackRate = rate;
    ASSERT_EQ(UnpackFrame(buffer, false, type, unpackRate).erased, 0) << name << " frame " << frame;
    float samples[kFrameSamples];
    DecodeSpeechFrame(buffer, false, rate, samples);
    ASSERT_LE((frame + 1) * kFrameSamples, encoded.reconstruction.size()) << name;
    ASSERT_EQ(std::memcmp(samples, &encoded.reconstruction[frame * kFrameSamples], sizeof samples), 0)
        << name << " frame " << frame;
  }
  EXPECT_EQ(frame * kFrameSamples, encoded.reconstruction.size()) << name;
}

struct Row {
  const char* name;
  std::function<std::vector<int16_t>()> input;
  Rate rate;
  bool silence;
  uint32_t bytes;
  uint32_t active, sid, untransmitted;
  uint64_t checksum;
  bool shaping = false;  // harmonic noise shaping
};

const std::vector<int16_t>& HelloInput() {
  static const std::vector<int16_t> hello = Hello();
  return hello;
}

std::vector<Row> Rows() {
  auto hello = [] { return HelloInput(); };
  auto paused = [] { return WithPauses(HelloInput(), 8000, 30); };
  return {
      {"speech 6.3", hello, Rate::Rate63, false, 1632, 68, 0, 0, 0x173bdc36f5b72708ull},
      {"speech 5.3", hello, Rate::Rate53, false, 1360, 68, 0, 0, 0x2b5480ca330d4be6ull},
      {"speech with pauses 6.3, silence compression", paused, Rate::Rate63, true, 3894, 158, 8, 70, 0x3ebe8488238d4554ull},
      {"speech with pauses 5.3, silence compression", paused, Rate::Rate53, true, 3262, 158, 8, 70, 0x7b96ea126131b3c3ull},
      {"speech 6.3, noise shaping", hello, Rate::Rate63, false, 1632, 68, 0, 0, 0x9dac978d0d40f03dull, true},
      {"speech with pauses 5.3, noise shaping", paused, Rate::Rate53, true, 3262, 158, 8, 70, 0x8f5e1ca688c69161ull, true},
      {"speech with pauses, no silence compression", paused, Rate::Rate63, false, 5664, 236, 0, 0, 0x2ee92a0662a41b51ull},
      {"clipped speech", [] { return Amplified(HelloInput(), 16); }, Rate::Rate63, true, 1612, 67, 1, 0, 0xc49e27814ad0cfc4ull},
      {"440 Hz tone", [] { return Tone(440, 8000, 48000); }, Rate::Rate63, true, 4800, 200, 0, 0, 0x28f2ff0bfda9db02ull},
      // Quiet music is sound, not silence: a tune well under the loud level, and speech
      // with a quieter tune under it through its pauses, keep their notes as speech frames.
      {"quiet melody", [] { return Melody(300, 24000); }, Rate::Rate63, true, 2400, 100, 0, 0, 0x7d39f71b569e6378ull},
      {"faint melody", [] { return Melody(150, 24000); }, Rate::Rate53, true, 2000, 100, 0, 0, 0xc2680b9d327dae91ull},
      {"speech over a melody", [] { return Mixed(WithPauses(HelloInput(), 8000, 30), Melody(200, 60000)); }, Rate::Rate63, true, 5664, 236, 0, 0, 0x3c1463d75dad6ef1ull},
      {"full-scale tone 5.3", [] { return Tone(1000, 32767, 8000); }, Rate::Rate53, true, 680, 34, 0, 0, 0x21c7413e53e79eb9ull},
      {"full-scale square", [] { return Square(40, 8000); }, Rate::Rate63, true, 816, 34, 0, 0, 0x2e6880c2cdf0a980ull},
      {"square 5.3", [] { return Square(18, 8000); }, Rate::Rate53, false, 680, 34, 0, 0, 0xd0e61148c9b4bed5ull},
      {"white noise", [] { return WhiteNoise(32767, 8000, 1); }, Rate::Rate63, true, 816, 34, 0, 0, 0x0370e38628e23468ull},
      {"white noise 5.3", [] { return WhiteNoise(32767, 8000, 2); }, Rate::Rate53, true, 680, 34, 0, 0, 0x55266047a9141a2dull},
      {"quiet noise", [] { return WhiteNoise(20, 16000, 3); }, Rate::Rate63, true, 70, 0, 1, 66, 0xd6e7f3b5a8e48637ull},
      {"digital silence", [] { return Constant(0, 16000); }, Rate::Rate63, true, 70, 0, 1, 66, 0x84a1df263d861743ull},
      {"digital silence, no compression", [] { return Constant(0, 2400); }, Rate::Rate53, false, 200, 10, 0, 0, 0x55163ff04146964full},
      {"DC", [] { return Constant(-32768, 8000); }, Rate::Rate63, true, 313, 12, 1, 21, 0x028f4afc266ff6edull},
      {"very short", [] { return Tone(300, 10000, 100); }, Rate::Rate63, true, 24, 1, 0, 0, 0x053b4b19eae7ba17ull},
  };
}

// Both areas' tables of one version.
struct KernelVersion {
  const char* name;
  const SpeechEncoderKernels* encoder;
  const SpeechKernels* decoder;
};

void PrintTo(const KernelVersion& version, std::ostream* out) { *out << version.name; }

class SpeechEncoderWithKernels : public testing::TestWithParam<KernelVersion> {
 protected:
  support::UseKernelTable<SpeechEncoderKernels> encoder_{speechEncoderKernels, *GetParam().encoder};
  support::UseKernelTable<SpeechKernels> decoder_{speechKernels, *GetParam().decoder};
};

INSTANTIATE_TEST_SUITE_P(Kernels, SpeechEncoderWithKernels,
                         testing::Values(KernelVersion{"Plain", &kPlainSpeechEncoderKernels, &kPlainSpeechKernels}
#if defined(__SSE2__)
                                         , KernelVersion{"Sse2", &kSse2SpeechEncoderKernels, &kSse2SpeechKernels}
#endif
                                         ),
                         support::KernelTableName());

TEST_P(SpeechEncoderWithKernels, StreamsDecodeExactlyToTheEncodersReconstruction) {
  for (const Row& row : Rows()) {
    SpeechEncoderOptions options;
    options.rate = row.rate;
    options.silenceCompression = row.silence;
    options.harmonicShaping = row.shaping;
    const Encoded encoded = Encode(row.input(), options);
    EXPECT_TRUE(encoded.finite) << row.name;
    ExpectDecodesToReconstruction(encoded, row.name);
    EXPECT_EQ(encoded.stream.size(), row.bytes) << row.name;
    EXPECT_EQ(encoded.counts.active, row.active) << row.name;
    EXPECT_EQ(encoded.counts.sid, row.sid) << row.name;
    EXPECT_EQ(encoded.counts.untransmitted, row.untransmitted) << row.name;
    EXPECT_EQ(Fnv(encoded.stream), row.checksum)
        << row.name << ": 0x" << std::hex << Fnv(encoded.stream);
  }
}

// Decoded quality of the committed speech (segmental SNR against the input) and what silence
// compression saves on it with pauses, without touching the speech frames, at a
// comfort-noise level near the pauses' own.
TEST(SpeechEncoder, QualityAndSilenceCompression) {
  struct QualityRow {
    Rate rate;
    double minimumSnr;  // dB; measured 10.2 at 6.3 and 8.9 at 5.3 kbit/s, 10.4 at 6.3 with shaping
    bool shaping;
  };
  for (const QualityRow& row : {QualityRow{Rate::Rate63, 9.5, false}, QualityRow{Rate::Rate53, 8.0, false},
                                QualityRow{Rate::Rate63, 9.5, true}}) {
    SpeechEncoderOptions options;
    options.rate = row.rate;
    options.silenceCompression = false;
    options.harmonicShaping = row.shaping;
    const std::vector<int16_t>& hello = HelloInput();
    EXPECT_GE(SegmentalSnr(hello, DecodeStream(Encode(hello, options).stream)), row.minimumSnr)
        << static_cast<int>(row.rate);
  }

  constexpr int kPause = 8000;
  constexpr int kNoise = 30;
  const std::vector<int16_t> paused = WithPauses(HelloInput(), kPause, kNoise);
  SpeechEncoderOptions options;
  options.silenceCompression = false;
  const Encoded plain = Encode(paused, options);
  options.silenceCompression = true;
  const Encoded compressed = Encode(paused, options);
  EXPECT_LT(compressed.stream.size(), plain.stream.size() * 7 / 10);
  const std::vector<int16_t> plainOut = DecodeStream(plain.stream);
  const std::vector<int16_t> compressedOut = DecodeStream(compressed.stream);
  // The speech itself (the first utterance, after the first pause and its hang-over) is coded
  // alike: loud frames keep their quality within 0.3 dB.
  const size_t speechStart = kPause, speechEnd = kPause + HelloInput().size();
  const std::vector<int16_t> reference(paused.begin() + speechStart, paused.begin() + speechEnd);
  const std::vector<int16_t> a(plainOut.begin() + speechStart, plainOut.begin() + speechEnd);
  const std::vector<int16_t> b(compressedOut.begin() + speechStart, compressedOut.begin() + speechEnd);
  EXPECT_NEAR(SegmentalSnr(reference, a, 1e5), SegmentalSnr(reference, b, 1e5), 0.3);
  // Comfort noise in the first pause (after its first frame) within 3 dB of the input noise.
  double input = 0, output = 0;
  for (int n = kFrameSamples; n < kPause - kFrameSamples; ++n) {
    input += static_cast<double>(paused[n]) * paused[n];
    output += static_cast<double>(compressedOut[n]) * compressedOut[n];
  }
  EXPECT_NEAR(10 * std::log10(output / input), 0.0, 3.0);
}

// The comfort noise of every untransmitted frame, those straight after speech included (where
// the decoder's noise, built partly from the speech's excitation, comes out louder than its
// gain says), at the level of the input's noise within 3 dB, for white and room noise.
TEST(SpeechEncoder, ComfortNoiseLevelInEveryPause) {
  struct NoiseRow {
    const char* name;
    int level;
    bool room;
    Rate rate;
  };
  for (const NoiseRow& row : {NoiseRow{"white", 30, false, Rate::Rate63}, NoiseRow{"room", 60, true, Rate::Rate63},
                              NoiseRow{"loud room", 150, true, Rate::Rate53}, NoiseRow{"louder room", 250, true, Rate::Rate63},
                              NoiseRow{"loud white", 300, false, Rate::Rate63}}) {
    const std::vector<int16_t> input = WithPauses(HelloInput(), 8000, row.level, row.room);
    SpeechEncoderOptions options;
    options.rate = row.rate;
    const Encoded encoded = Encode(input, options);
    const std::vector<int16_t> decoded = DecodeStream(encoded.stream);
    double in = 0, out = 0;
    int frames = 0;
    size_t lastSpeech = 0;
    for (size_t at = 0, f = 0; at < encoded.stream.size(); at += CodedFrameLength(encoded.stream[at]), ++f) {
      const int length = CodedFrameLength(encoded.stream[at]);
      if (length > 4) lastSpeech = f;
      // The first frames of each silence, where the decoder's noise strays the most.
      if (length != 1 || f > lastSpeech + 4) continue;
      for (size_t n = f * kFrameSamples; n < (f + 1) * kFrameSamples; ++n) {
        in += static_cast<double>(input[n]) * input[n];
        out += static_cast<double>(decoded[n]) * decoded[n];
      }
      ++frames;
    }
    ASSERT_GT(frames, 3) << row.name;
    EXPECT_NEAR(10 * std::log10(out / in), 0.0, 3.0) << row.name << " over " << frames << " frames";
  }
}

}  // namespace

}  // namespace clipnote::speech
