// The player with the real video and speech decoders on the stand-in message
// that the executable carries: what it draws and plays is exactly what the
// decoders give for the clips.


#include "app/fatal_report.h"
#include "audio/audio_decoder.h"
#include "player_harness.h"
#include "support/test_support.h"
#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"
#include "video/recon/decoder_buffers.h"

using namespace clipnote::h263;

namespace clipnote::testing {
namespace {

using support::ReadFile;

// Hashes of the 176 x 144 images of every picture of the clip, in order.
std::vector<uint64_t> DecodedImageHashes(const std::vector<uint8_t>& clip) {
  BuildColourTables();
  VideoDecoderBuffers buffers;
  StartVideoClip(buffers, clip.data(), clip.size());
  ProbePictureFormat();
  std::vector<uint64_t> hashes;
  std::vector<uint8_t> image(kRgbNativeBytes);
  while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) {
    ConvertToBgr24(buffers.currentPicture.data(), image.data(), 144, 176);
    hashes.push_back(HashBytes(image.data(), image.size()));
  }
  return hashes;
}

std::vector<uint8_t> DecodedSpeech(const std::vector<uint8_t>& clip) {
  std::vector<uint8_t> pcm(support::VoiceCapacity(clip) + 480);
  speech::AudioDecoder decoder;
  EXPECT_TRUE(decoder.Create());
  decoder.Reset(speech::Rate::Rate53);
  uint32_t offset = 0;
  const speech::VoiceDecodeResult result =
      DecodeVoiceClip(decoder, static_cast<uint32_t>(clip.size() - 4), clip.data() + 4,
                      pcm.data(), static_cast<uint32_t>(pcm.size()), offset);
  decoder.Release();
  pcm.resize(result.pcmBytes);
  return pcm;
}

TEST(RealDecodersTest, PlaysExactlyWhatTheDecodersGiveForTheCarriedMessage) {
  const std::string resources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";
  const std::vector<uint8_t> movie = ReadFile(resources + "message.263");
  const std::vector<uint8_t> voice = ReadFile(resources + "message.723");
  ASSERT_FALSE(movie.empty());
  ASSERT_GT(voice.size(), 4u);
  const std::vector<uint64_t> pictures = DecodedImageHashes(movie);
  const std::vector<uint8_t> speech = DecodedSpeech(voice);
  ASSERT_FALSE(pictures.empty());
  ASSERT_FALSE(speech.empty());

  FakePlatform fake;
  fake.SetResource("#263", "MOVIE", movie);
  fake.SetResource("#723", "VOICE", voice);
  MessagePlayer player(fake);
  fake.WhenIdle([&] { fake.PostClose(); });
  EXPECT_EQ(RunPlayer(player), 0);
  EXPECT_FALSE(fake.Deadlocked());
  EXPECT_EQ(fake.LiveThreads(), 0u);

  const auto draws = fake.Draws();
  ASSERT_GE(draws.size(), pictures.size());
  for (size_t i = 0; i < pictures.size(); ++i) EXPECT_EQ(draws[i].imageHash, pictures[i]) << i;

  std::vector<SoundRecord> played;
  for (const SoundRecord& sound : fake.Sounds()) {
    if (sound.kind == SoundRecord::kMemory) played.push_back(sound);
  }
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].samples, speech);
  EXPECT_EQ(played[0].time, draws[0].time);
}

// Plays the carried message, its speech prefix replaced by `reserved` unless that
// is 0, with the `failingCall`-th allocation failing unless that is 0. Expects one
// report, the memory report, exit code 0 and no speech played.
void ExpectMemoryReport(uint32_t reserved, int failingCall) {
  SCOPED_TRACE(::testing::Message() << "prefix " << reserved << ", failing call " << failingCall);
  const std::string resources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";
  std::vector<uint8_t> voice = ReadFile(resources + "message.723");
  if (reserved != 0) {
    for (int i = 0; i < 4; ++i) voice[i] = static_cast<uint8_t>(reserved >> (8 * i));
  }
  FakePlatform fake;
  fake.SetResource("#263", "MOVIE", ReadFile(resources + "message.263"));
  fake.SetResource("#723", "VOICE", voice);
  fake.SetSystemText("Not enough memory resources are available to process this command.\r\n");
  if (failingCall != 0) fake.FailGlobalAllocCall(failingCall);
  MessagePlayer player(fake);
  fake.WhenIdle([&] { fake.PostClose(); });
  RunPlayer(player);

  EXPECT_EQ(fake.ExitCode(), 0u);
  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  EXPECT_EQ(fake.MessageBoxes()[0].caption, "Memory Allocation Error");
  EXPECT_EQ(fake.MessageBoxes()[0].text.rfind(kNotEnoughMemoryText, 0), 0u)
      << fake.MessageBoxes()[0].text;
  const uint64_t imageBytes = uint64_t{reserved} + 524u;
  if (reserved != 0 && imageBytes <= UINT32_MAX) {
    EXPECT_EQ(fake.GlobalAllocs().back().second, imageBytes);
  }
  // An image size that would wrap to a small block is refused before asking.
  if (imageBytes > UINT32_MAX) {
    EXPECT_EQ(fake.GlobalAllocs().size(), 5u);
  }
  for (const SoundRecord& sound : fake.Sounds()) EXPECT_NE(sound.kind, SoundRecord::kMemory);
}

// The speech decoder's two buffers (samples, then the frame) come from the platform's
// allocator after the player's five blocks and the WAV image. Either failing is reported
// like any allocation, and the decoder is never used.
TEST(RealDecodersTest, FailedSpeechBufferIsReportedLikeAnyAllocation) {
  for (const int failingCall : {7, 8}) ExpectMemoryReport(0, failingCall);
}

// A prefix asking for more than a 32-bit process can reserve fails the WAV image's
// allocation, and one so large that the image size would wrap (from 0xFFFFFDF4 on)
// is refused before asking: reported, no speech, and the player still ends cleanly.
TEST(RealDecodersTest, PrefixTooLargeToReserveIsReportedLikeAnyAllocation) {
  for (const uint32_t reserved : {0x80000000u, 0xFFFFFDF3u, 0xFFFFFDF4u, 0xFFFFFFFFu}) {
    ExpectMemoryReport(reserved, 0);
  }
}

}  // namespace
}  // namespace clipnote::testing
