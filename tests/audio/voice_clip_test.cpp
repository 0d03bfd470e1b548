#include "audio/voice_clip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/wav_image.h"

namespace clipnote::speech {

namespace {

std::vector<uint8_t> Clip(uint32_t prefix, const std::vector<uint8_t>& frames) {
  std::vector<uint8_t> clip(4 + frames.size());
  for (int i = 0; i < 4; ++i) clip[i] = static_cast<uint8_t>(prefix >> (8 * i));
  std::copy(frames.begin(), frames.end(), clip.begin() + 4);
  return clip;
}

TEST(VoiceClip, ClipShorterThanItsPrefixIsRefusedUnread) {
  const uint8_t bytes[3] = {1, 2, 3};
  VoiceClip clip;
  for (size_t size = 0; size < 4; ++size) {
    EXPECT_EQ(ParseVoiceClip(bytes, size, clip), VoiceClipError::TooShort) << size;
    EXPECT_EQ(clip.coded, nullptr);
  }
  EXPECT_EQ(ParseVoiceClip(nullptr, 10, clip), VoiceClipError::TooShort);
  EXPECT_STRNE(VoiceClipErrorText(VoiceClipError::TooShort), "");
}

TEST(VoiceClip, PrefixAndFramesAreSplit) {
  const std::vector<uint8_t> bytes = Clip(480 * 3, {0x03, 0x03});
  VoiceClip clip;
  ASSERT_EQ(ParseVoiceClip(bytes.data(), bytes.size(), clip), VoiceClipError::None);
  EXPECT_EQ(clip.pcmCapacity, 1440u);
  EXPECT_EQ(clip.coded, bytes.data() + 4);
  EXPECT_EQ(clip.codedByteCount, 2u);

  const std::vector<uint8_t> empty = Clip(0, {});
  ASSERT_EQ(ParseVoiceClip(empty.data(), empty.size(), clip), VoiceClipError::None);
  EXPECT_EQ(clip.codedByteCount, 0u);  // no speech, not an error
}

TEST(VoiceClip, PrefixWhoseImageSizeWouldWrapIsRefused) {
  const uint32_t largest = 0xFFFFFFFFu - 524u;
  std::vector<uint8_t> bytes = Clip(largest, {0x03});
  VoiceClip clip;
  EXPECT_EQ(ParseVoiceClip(bytes.data(), bytes.size(), clip), VoiceClipError::None);
  EXPECT_EQ(clip.pcmCapacity + kWavImageOverhead, 0xFFFFFFFFu);
  bytes = Clip(largest + 1, {0x03});
  EXPECT_EQ(ParseVoiceClip(bytes.data(), bytes.size(), clip), VoiceClipError::CapacityTooLarge);
  bytes = Clip(0xFFFFFFFFu, {0x03});
  EXPECT_EQ(ParseVoiceClip(bytes.data(), bytes.size(), clip), VoiceClipError::CapacityTooLarge);
}

TEST(WavImage, HeaderDescribesEightKilohertzMonoSixteenBitPcm) {
  uint8_t header[44];
  std::memset(header, 0xEE, sizeof(header));
  WriteWavHeader(header, 729600);
  const uint8_t expected[44] = {
      'R', 'I', 'F', 'F', 0x24, 0x22, 0x0B, 0x00, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
      16,  0,   0,   0,   1,    0,    1,    0,    0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0,
      2,   0,   16,  0,   'd',  'a',  't',  'a',  0x00, 0x22, 0x0B, 0x00};
  EXPECT_EQ(std::memcmp(header, expected, sizeof(header)), 0);
}

}  // namespace

}  // namespace clipnote::speech
