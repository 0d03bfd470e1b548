// Checksums of the decoded samples of fixed streams. Speed work on the decoder must not
// change a single output sample; a deliberate change of arithmetic updates these values
// (after checking the comparison with ffmpeg still holds). Every stream is decoded with each
// version of the speech kernels.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/constructed_streams.h"
#include "audio/speech_kernels.h"
#include "audio/voice_clip.h"
#include "support/kernel_tables.h"
#include "support/test_support.h"

namespace clipnote::speech {

namespace {

std::vector<uint8_t> ReadSourceFile(const char* path) {
  return support::ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/" + path);
}

struct Decoded {
  uint32_t bytes = 0;
  uint64_t checksum = 0;
};

// FNV-1a over the PCM bytes.
Decoded DecodeAndChecksum(const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> pcm(stream.size() * 480);
  AudioDecoder decoder;
  EXPECT_TRUE(decoder.Create());
  decoder.Reset(Rate::Rate53);
  uint32_t offset = 0;
  const VoiceDecodeResult result =
      DecodeVoiceClip(decoder, static_cast<uint32_t>(stream.size()), stream.data(), pcm.data(),
                      static_cast<uint32_t>(pcm.size()), offset);
  decoder.Release();
  Decoded decoded;
  decoded.bytes = result.pcmBytes;
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint32_t i = 0; i < result.pcmBytes; ++i) {
    hash ^= pcm[i];
    hash *= 0x100000001b3ull;
  }
  decoded.checksum = hash;
  return decoded;
}

void ExpectChecksum(const char* name, const std::vector<uint8_t>& stream, uint32_t bytes,
                    uint64_t checksum) {
  const Decoded decoded = DecodeAndChecksum(stream);
  EXPECT_EQ(decoded.bytes, bytes) << name;
  EXPECT_EQ(decoded.checksum, checksum) << name << ": 0x" << std::hex << decoded.checksum;
}

class OutputChecksum : public testing::TestWithParam<support::KernelTable<SpeechKernels>> {
 protected:
  support::UseKernelTable<SpeechKernels> kernels_{speechKernels, *GetParam().table};
};

#if defined(__SSE2__)
const SpeechKernels* const kSse2 = &kSse2SpeechKernels;
#else
const SpeechKernels* const kSse2 = nullptr;
#endif
INSTANTIATE_TEST_SUITE_P(Kernels, OutputChecksum,
                         testing::ValuesIn(support::KernelTables(kPlainSpeechKernels, kSse2)),
                         support::KernelTableName());

TEST_P(OutputChecksum, DecodedSamplesNeverChange) {
  const std::vector<uint8_t> hello = ReadSourceFile("tests/audio/data/hello_63.723");
  ASSERT_FALSE(hello.empty());
  ExpectChecksum("speech 6.3", hello, 32640, 0x358be25ecaf610a5ull);
  ExpectChecksum("speech 5.3", test_frames::ToRate53WithRandomPulses(hello, 53), 32640, 0x06347bd69c1f17edull);
  ExpectChecksum("silences", test_frames::WithSilences(hello, 10), 77280, 0x0c9ed522e6755a10ull);
  ExpectChecksum("erasures", test_frames::WithErasures(hello), 32640, 0xf58546fd7331b118ull);
  std::vector<uint8_t> cut(hello.begin(), hello.begin() + 24 * 30 + 11);
  ExpectChecksum("cut last frame", cut, 31 * 480, 0xb4bfa0bd13f08653ull);
}

// The default message's speech, as the player decodes it: the frames after the
// clip's 4-byte prefix.
TEST_P(OutputChecksum, DefaultMessageSpeech) {
  const std::vector<uint8_t> message = ReadSourceFile("resources/message.723");
  VoiceClip clip;
  ASSERT_EQ(ParseVoiceClip(message.data(), message.size(), clip), VoiceClipError::None);
  const std::vector<uint8_t> frames(clip.coded, clip.coded + clip.codedByteCount);
  ExpectChecksum("default message", frames, 606240, 0x8c75aee974faa1f1ull);
}

}  // namespace

}  // namespace clipnote::speech
