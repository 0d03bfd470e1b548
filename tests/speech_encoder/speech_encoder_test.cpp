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
};

const std::vector<int16_t>& HelloInput() {
  static const std::vector<int16_t> hello = Hello();
  return hello;
}

std::vector<Row> Rows() {
  auto hello = [] { return HelloInput(); };
  auto paused = [] { return WithPauses(HelloInput(), 8000, 30); };
  return {
      {"speech 6.3", hello, Rate::Rate63, false, 1632, 68, 0, 0, 0xe288ef4db847f601ull},
      {"speech 5.3", hello, Rate::Rate53, false, 1360, 68, 0, 0, 0x1dec474e3160bc34ull},
      {"speech with pauses 6.3, silence compression", paused, Rate::Rate63, true, 3874, 157, 9, 70, 0xffcca650e69c0d5bull},
      {"speech with pauses 5.3, silence compression", paused, Rate::Rate53, true, 3246, 157, 9, 70, 0xfeaa04981206946cull},
      {"speech with pauses, no silence compression", paused, Rate::Rate63, false, 5664, 236, 0, 0, 0x19f5df33a4aca5d0ull},
      {"clipped speech", [] { return Amplified(HelloInput(), 16); }, Rate::Rate63, true, 1589, 66, 1, 1, 0x70a5932283608925ull},
      {"440 Hz tone", [] { return Tone(440, 8000, 48000); }, Rate::Rate63, true, 4800, 200, 0, 0, 0xbdb921fe03746a85ull},
      {"full-scale tone 5.3", [] { return Tone(1000, 32767, 8000); }, Rate::Rate53, true, 680, 34, 0, 0, 0x48605ef7d076ad50ull},
      {"full-scale square", [] { return Square(40, 8000); }, Rate::Rate63, true, 816, 34, 0, 0, 0x1ec8c7c6c2363303ull},
      {"square 5.3", [] { return Square(18, 8000); }, Rate::Rate53, false, 680, 34, 0, 0, 0xcd22c7f9338291b4ull},
      {"white noise", [] { return WhiteNoise(32767, 8000, 1); }, Rate::Rate63, true, 816, 34, 0, 0, 0x46eefadabe7deccfull},
      {"white noise 5.3", [] { return WhiteNoise(32767, 8000, 2); }, Rate::Rate53, true, 680, 34, 0, 0, 0x944d701185bd4d1bull},
      {"quiet noise", [] { return WhiteNoise(20, 16000, 3); }, Rate::Rate63, true, 70, 0, 1, 66, 0x0d0d43a51f111b08ull},
      {"digital silence", [] { return Constant(0, 16000); }, Rate::Rate63, true, 70, 0, 1, 66, 0x84a1df263d861743ull},
      {"digital silence, no compression", [] { return Constant(0, 2400); }, Rate::Rate53, false, 200, 10, 0, 0, 0xf76896cf51d92482ull},
      {"DC", [] { return Constant(-32768, 8000); }, Rate::Rate63, true, 290, 11, 1, 22, 0x8dc3b058ce1c0846ull},
      {"very short", [] { return Tone(300, 10000, 100); }, Rate::Rate63, true, 24, 1, 0, 0, 0x0c20438ecbad9370ull},
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
    double minimumSnr;  // dB; measured 10.2 at 6.3 and 8.9 at 5.3 kbit/s
  };
  for (const QualityRow& row : {QualityRow{Rate::Rate63, 9.5}, QualityRow{Rate::Rate53, 8.0}}) {
    SpeechEncoderOptions options;
    options.rate = row.rate;
    options.silenceCompression = false;
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

}  // namespace

}  // namespace clipnote::speech
