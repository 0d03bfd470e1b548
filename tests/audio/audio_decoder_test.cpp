#include "audio/audio_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "audio/decoder_state.h"
#include "audio/frame_packer.h"
#include "audio/lsp_tables.h"

namespace clipnote::speech {

namespace {

constexpr uint32_t kFrameBytes = 480;

class AudioDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(decoder_.Create());
    decoder_.Reset(Rate::Rate53);
  }
  void TearDown() override { decoder_.Release(); }

  // Decodes a stream into an area of the given size with guard bytes behind it.
  VoiceDecodeResult Decode(const std::vector<uint8_t>& stream, uint32_t area,
                           const AbortPoll& poll = {}) {
    output_.assign(area + kGuard, 0xA5);
    offset_ = 0;
    // An exactly sized heap copy, so that any read past the clip is caught by ASan.
    std::unique_ptr<uint8_t[]> clip(new uint8_t[stream.size() + 1]);
    if (!stream.empty()) std::memcpy(clip.get(), stream.data(), stream.size());
    return DecodeVoiceClip(decoder_, static_cast<uint32_t>(stream.size()), clip.get(),
                           output_.data(), area, offset_, poll);
  }

  bool GuardIntact(uint32_t from) const {
    for (size_t i = from; i < output_.size(); ++i) {
      if (output_[i] != 0xA5) return false;
    }
    return true;
  }

  static constexpr uint32_t kGuard = 64;
  AudioDecoder decoder_;
  std::vector<uint8_t> output_;
  uint32_t offset_ = 0;
};

int16_t SampleAt(const std::vector<uint8_t>& pcm, size_t index) {
  return static_cast<int16_t>(pcm[2 * index] | pcm[2 * index + 1] << 8);
}

TEST_F(AudioDecoderTest, StorePcmRoundsHalfAwayFromZeroAndClips) {
  const float values[] = {32766.5f, 32766.6f, 40000.0f, -32767.5f, -32767.4f, 0.5f, -0.5f,
                          0.49f, -1e9f, 1.5f, -2.5f, 0.0f, std::numeric_limits<float>::quiet_NaN(),
                          0.49999997f};
  const int16_t expected[] = {32767, 32767, 32767, -32768, -32767, 1, -1,
                              0,     -32768, 2,    -3,    0,      0,  0};
  const size_t count = sizeof(values) / sizeof(values[0]);
  for (int n = 0; n < 240; ++n) decoder_.samples[n] = static_cast<float>(n);
  std::memcpy(decoder_.samples + 100, values, sizeof(values));

  std::vector<uint8_t> out(2 * kFrameBytes, 0);
  uint32_t written = kFrameBytes;  // the second frame's slot
  decoder_.StorePcm(out.data(), written);
  EXPECT_EQ(written, 2 * kFrameBytes);
  for (int n = 0; n < 240; ++n) EXPECT_EQ(out[n], 0) << "first slot untouched";
  std::vector<uint8_t> second(out.begin() + kFrameBytes, out.end());
  for (size_t i = 0; i < count; ++i) EXPECT_EQ(SampleAt(second, 100 + i), expected[i]) << i;
  EXPECT_EQ(SampleAt(second, 7), 7);
  EXPECT_EQ(second[2 * 239], 239);  // little-endian, low byte first
  EXPECT_EQ(second[2 * 239 + 1], 0);
}

TEST_F(AudioDecoderTest, ResetClearsBuffersAndBothStateRecords) {
  std::memset(decoder_.frame, 0x77, 24);
  decoder_.samples[5] = 3.0f;
  decoderState.scaleGain = 9;
  decoderState.excitationHistory[3] = 1;
  comfortNoiseState.previousFrameType = FrameType::Sid;
  comfortNoiseState.noiseGain = 42;

  decoder_.Reset(Rate::Rate53);
  EXPECT_EQ(decoder_.samples[5], 0.0f);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(decoder_.frame[i], 0);
  for (int i = 20; i < 24; ++i) EXPECT_EQ(decoder_.frame[i], 0x77);  // only 20 bytes at 5.3
  EXPECT_EQ(decoderState.scaleGain, 1.0f);
  EXPECT_EQ(decoderState.excitationHistory[3], 0.0f);
  EXPECT_EQ(decoderState.previousLsp, LspMeanTable);
  EXPECT_EQ(comfortNoiseState.previousFrameType, FrameType::Active);
  EXPECT_EQ(comfortNoiseState.noiseGain, 42.0f);  // always assigned before use

  decoder_.Reset(Rate::Rate63);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(decoder_.frame[i], 0);
}

TEST_F(AudioDecoderTest, FramesAreDelimitedByTheirFirstByteOnly) {
  std::vector<uint8_t> stream;
  std::vector<uint8_t> high(24, 0xEC);  // low bits 0: 24 bytes
  std::vector<uint8_t> low(20, 0x11);   // low bits 1: 20 bytes
  test_frames::Append(stream, high);
  test_frames::Append(stream, low);
  test_frames::Append(stream, {0x06, 0x22, 0x33, 0x44});  // low bits 2: 4 bytes
  test_frames::Append(stream, {0xFF});                    // low bits 3: 1 byte
  uint32_t offset = 0;
  const uint32_t size = static_cast<uint32_t>(stream.size());
  ASSERT_TRUE(decoder_.TakeFrame(stream.data(), size, offset));
  EXPECT_EQ(offset, 24u);
  EXPECT_EQ(std::memcmp(decoder_.frame, high.data(), 24), 0);
  ASSERT_TRUE(decoder_.TakeFrame(stream.data(), size, offset));
  EXPECT_EQ(offset, 44u);
  EXPECT_EQ(decoder_.frame[19], 0x11);
  EXPECT_EQ(decoder_.frame[20], 0xEC);  // bytes 20..23 keep the previous frame's
  ASSERT_TRUE(decoder_.TakeFrame(stream.data(), size, offset));
  EXPECT_EQ(offset, 48u);
  EXPECT_EQ(decoder_.frame[3], 0x44);
  EXPECT_EQ(decoder_.frame[4], 0x11);
  ASSERT_TRUE(decoder_.TakeFrame(stream.data(), size, offset));
  EXPECT_EQ(offset, 49u);

  EXPECT_EQ(Decode(stream, 100 * kFrameBytes).pcmBytes, 4 * kFrameBytes);
  EXPECT_EQ(offset_, 49u);
}

TEST_F(AudioDecoderTest, EmptyClipYieldsNothingAndOneByteOneFrame) {
  EXPECT_EQ(Decode({}, kFrameBytes).pcmBytes, 0u);
  EXPECT_TRUE(GuardIntact(0));
  EXPECT_EQ(Decode({0x03}, kFrameBytes).pcmBytes, kFrameBytes);  // 240 samples of comfort noise
  EXPECT_TRUE(GuardIntact(kFrameBytes));

  const std::vector<uint8_t> stream = {0x03, 0x03};
  output_.assign(kFrameBytes, 0);
  uint32_t offset = 2;
  EXPECT_EQ(DecodeVoiceClip(decoder_, 2, stream.data(), output_.data(), kFrameBytes, offset).pcmBytes,
            0u);
  offset = 7;  // past the end
  EXPECT_EQ(DecodeVoiceClip(decoder_, 2, stream.data(), output_.data(), kFrameBytes, offset).pcmBytes,
            0u);
}

TEST_F(AudioDecoderTest, FrameCutShortByTheEndIsDecodedAsLostWithoutReadingPastIt) {
  test_frames::ActiveCodes codes;
  std::vector<uint8_t> stream = test_frames::PackActive(codes, Rate::Rate63);
  std::vector<uint8_t> cut = test_frames::PackActive(codes, Rate::Rate63);
  cut.resize(10);
  test_frames::Append(stream, cut);
  const VoiceDecodeResult result = Decode(stream, 10 * kFrameBytes);
  EXPECT_EQ(result.pcmBytes, 2 * kFrameBytes);
  EXPECT_EQ(offset_, stream.size());
  EXPECT_EQ(decoderState.erasureCount, 1);  // the cut frame was concealed

  // Only the bytes that exist are copied; the rest of the frame buffer is left alone.
  decoder_.Reset(Rate::Rate63);
  std::memset(decoder_.frame, 0x5A, 24);
  uint32_t offset = 24;
  EXPECT_FALSE(decoder_.TakeFrame(stream.data(), static_cast<uint32_t>(stream.size()), offset));
  EXPECT_EQ(offset, stream.size());
  EXPECT_EQ(decoder_.frame[9], cut[9]);
  EXPECT_EQ(decoder_.frame[10], 0x5A);
}

TEST_F(AudioDecoderTest, DecodingStopsAtTheLastWholeFrameThatFitsTheArea) {
  const std::vector<uint8_t> stream(5, 0x03);
  const VoiceDecodeResult result = Decode(stream, 2 * kFrameBytes + 479);
  EXPECT_EQ(result.pcmBytes, 2 * kFrameBytes);
  EXPECT_EQ(offset_, 2u);
  EXPECT_TRUE(GuardIntact(2 * kFrameBytes));

  EXPECT_EQ(Decode(stream, 0).pcmBytes, 0u);
  EXPECT_TRUE(GuardIntact(0));
  EXPECT_EQ(Decode(stream, 5 * kFrameBytes).pcmBytes, 5 * kFrameBytes);
  EXPECT_TRUE(GuardIntact(5 * kFrameBytes));
}

struct AbortAfter {
  int polls = 0;
  int allowed = 0;
  static bool Check(void* context) {
    auto* self = static_cast<AbortAfter*>(context);
    return ++self->polls > self->allowed;
  }
};

TEST_F(AudioDecoderTest, AbortIsPolledBeforeEveryFrameAndStopsWithinOne) {
  const std::vector<uint8_t> stream(10, 0x03);
  AbortAfter abort;
  abort.allowed = 3;
  const VoiceDecodeResult result = Decode(stream, 10 * kFrameBytes, {AbortAfter::Check, &abort});
  EXPECT_TRUE(result.aborted);
  EXPECT_EQ(result.pcmBytes, 3 * kFrameBytes);
  EXPECT_EQ(abort.polls, 4);
  EXPECT_EQ(offset_, 3u);
  EXPECT_TRUE(GuardIntact(3 * kFrameBytes));  // nothing written after the request

  AbortAfter never;
  never.allowed = 100;
  const VoiceDecodeResult whole = Decode(stream, 10 * kFrameBytes, {AbortAfter::Check, &never});
  EXPECT_FALSE(whole.aborted);
  EXPECT_EQ(whole.pcmBytes, 10 * kFrameBytes);
  EXPECT_EQ(never.polls, 10);
}

struct CountingHeap {
  static inline int allocations = 0;
  static inline int releases = 0;
  static inline int failAt = 0;  // 1-based allocation that fails; 0 = none
  static void* Allocate(uint32_t bytes) {
    if (++allocations == failAt) return nullptr;
    return std::malloc(bytes);
  }
  static void Release(void* block) {
    ++releases;
    std::free(block);
  }
};

TEST(AudioDecoderCreate, FailedAllocationIsReportedAndLeavesNothingAllocated) {
  const AudioBufferHooks hooks{CountingHeap::Allocate, CountingHeap::Release};
  for (int failAt : {1, 2}) {
    CountingHeap::allocations = CountingHeap::releases = 0;
    CountingHeap::failAt = failAt;
    AudioDecoder decoder;
    EXPECT_FALSE(decoder.Create(hooks)) << failAt;
    EXPECT_EQ(decoder.samples, nullptr);
    EXPECT_EQ(decoder.frame, nullptr);
    EXPECT_EQ(CountingHeap::allocations - 1, CountingHeap::releases) << failAt;
    decoder.Release();  // harmless afterwards
  }
  AudioDecoder noHooks;
  EXPECT_FALSE(noHooks.Create(AudioBufferHooks{}));
  // A decoder that failed to create is never used, even if the caller carries on.
  noHooks.Reset(Rate::Rate53);
  const uint8_t untransmitted[2] = {0x03, 0x03};
  uint8_t pcm[960];
  uint32_t offset = 0;
  EXPECT_EQ(DecodeVoiceClip(noHooks, 2, untransmitted, pcm, sizeof(pcm), offset).pcmBytes, 0u);
  EXPECT_EQ(offset, 0u);

  CountingHeap::allocations = CountingHeap::releases = 0;
  CountingHeap::failAt = 0;
  AudioDecoder decoder;
  ASSERT_TRUE(decoder.Create(hooks));
  EXPECT_EQ(decoder.rate, Rate::Rate63);
  decoder.Release();
  decoder.Release();
  EXPECT_EQ(CountingHeap::allocations, 2);
  EXPECT_EQ(CountingHeap::releases, 2);
}

}  // namespace

}  // namespace clipnote::speech
