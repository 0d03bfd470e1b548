#pragma once

// Runs the player on the fake platform with scripted decoders: the pictures'
// temporal references, results and decoding times, and the speech's length
// and decoding pace are chosen by the test.

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "app/message_player.h"
#include "app/player_main.h"
#include "fake_platform/fake_platform.h"

namespace clipnote::testing {

struct ScriptedPicture {
  uint8_t reference = 0;
  int result = 0;
  bool endOfSequence = false;
  uint32_t decodeMs = 0;  // virtual time the decoding takes
};

// Picture i fills currentPicture with the value i + 1; conversion copies that
// value into every byte of the native image, doubling into the doubled one
// with the top bit flipped, so a draw's hash tells which picture it showed.
class ScriptedVideo final : public VideoDecoding {
 public:
  ScriptedVideo(FakePlatform& fake, std::vector<ScriptedPicture> pictures)
      : fake_(fake), pictures_(std::move(pictures)) {}
  void SetPictures(std::vector<ScriptedPicture> pictures) { pictures_ = std::move(pictures); }

  void InitVideoDecoder(MessagePlayer& player) override {
    player_ = &player;
    next_ = 0;
    current_ = {};
    ++inits;
    clipSizeGiven = player.videoClipSize;
  }
  int ProbePictureFormat() override { return 0; }
  int DecodePicture() override {
    ++decodes;
    if (next_ >= pictures_.size()) return 1;  // ran off the end of the clip
    current_ = pictures_[next_];
    if (onDecode) onDecode(next_);
    if (current_.decodeMs != 0) fake_.AdvanceClock(current_.decodeMs);
    if (current_.result == 0 && !current_.endOfSequence) {
      std::memset(player_->currentPicture, static_cast<int>(next_ + 1), 38016);
    }
    ++next_;
    return current_.result;
  }
  uint8_t TemporalReference() override { return current_.reference; }
  bool EndOfSequence() override { return current_.endOfSequence; }
  void ConvertToBgr24(const uint8_t* picture, uint8_t* image, int rows, int columns) override {
    std::memset(image, picture[0], static_cast<size_t>(rows) * columns * 3);
  }
  void DoubleBgr24(const uint8_t* image, uint8_t* doubled, int columns, int rows) override {
    std::memset(doubled, image[0] ^ 0x80, static_cast<size_t>(rows) * columns * 12);
  }

  // Runs on the video thread while picture n is being decoded.
  std::function<void(size_t)> onDecode;
  int inits = 0;
  int decodes = 0;
  uint32_t clipSizeGiven = 0;

 private:
  FakePlatform& fake_;
  std::vector<ScriptedPicture> pictures_;
  MessagePlayer* player_ = nullptr;
  size_t next_ = 0;
  ScriptedPicture current_{};
};

// Writes `frames` frames of 480 bytes, sample values = frame number, sleeping
// msPerFrame (virtual) per frame and polling the abort request before each.
class ScriptedSpeech final : public SpeechDecoding {
 public:
  explicit ScriptedSpeech(uint32_t frameCount = 4, uint32_t msPerFrame = 0)
      : frames(frameCount), pace(msPerFrame) {}

  SpeechDecodeResult DecodeSpeech(Platform& os, const uint8_t* /*coded*/, uint32_t codedBytes,
                                  uint8_t* pcm, uint32_t pcmAreaBytes,
                                  SpeechAbortPoll abortPoll) override {
    ++runs;
    codedBytesGiven = codedBytes;
    areaGiven = pcmAreaBytes;
    SpeechDecodeResult result;
    for (uint32_t frame = 0; frame < frames; ++frame) {
      if (abortPoll.requested(abortPoll.context)) {
        result.aborted = true;
        return result;
      }
      if (result.pcmBytes + 480 > pcmAreaBytes) break;
      for (int i = 0; i < 240; ++i) {
        pcm[result.pcmBytes + 2 * i] = static_cast<uint8_t>(frame);
        pcm[result.pcmBytes + 2 * i + 1] = 0;
      }
      result.pcmBytes += 480;
      ++framesDecoded;
      if (onFrame) onFrame(frame);
      if (pace != 0) os.Sleep(pace);
    }
    return result;
  }

  uint32_t frames;
  uint32_t pace;
  std::function<void(uint32_t)> onFrame;
  int runs = 0;
  uint32_t framesDecoded = 0;
  uint32_t codedBytesGiven = 0;
  uint32_t areaGiven = 0;
};

inline std::vector<uint8_t> VoiceClipBytes(uint32_t pcmCapacity, uint32_t codedBytes) {
  std::vector<uint8_t> clip(4 + codedBytes, 0x55);
  for (int i = 0; i < 4; ++i) clip[i] = static_cast<uint8_t>(pcmCapacity >> (8 * i));
  return clip;
}

inline uint64_t NativeHashOfPicture(int picture) {
  std::vector<uint8_t> image(76032, static_cast<uint8_t>(picture + 1));
  return HashBytes(image.data(), image.size());
}

inline uint64_t DoubledHashOfPicture(int picture) {
  std::vector<uint8_t> image(304128, static_cast<uint8_t>((picture + 1) ^ 0x80));
  return HashBytes(image.data(), image.size());
}

// Runs the entry function; returns its result, or 1000 + the code of an
// ExitProcess, or -1 when the fake gave up (deadlock). After an abnormal end
// every thread is ended before it returns: none may outlive the player.
inline int RunPlayer(MessagePlayer& player) {
  auto& fake = static_cast<FakePlatform&>(player.os);
  try {
    return PlayerWinMain(player, reinterpret_cast<Hinstance>(0x400000));
  } catch (const FakeProcessExit& exit) {
    fake.EndAllThreads();
    return 1000 + static_cast<int>(exit.code);
  } catch (const FakeAbandon&) {
    fake.EndAllThreads();
    if (const auto reason = fake.GaveUp()) ADD_FAILURE() << "the run did not settle: " << *reason;
    return -1;
  }
}

// Constructs a player; returns null when construction ended the process.
template <typename... Args>
std::unique_ptr<MessagePlayer> TryConstruct(Args&&... args) {
  try {
    return std::make_unique<MessagePlayer>(std::forward<Args>(args)...);
  } catch (const FakeProcessExit&) {
    return nullptr;
  }
}

inline std::vector<ScriptedPicture> Pictures(std::initializer_list<uint8_t> references) {
  std::vector<ScriptedPicture> pictures;
  for (uint8_t reference : references) pictures.push_back({reference});
  return pictures;
}

class PlayerTest : public ::testing::Test {
 protected:
  PlayerTest() {
    fake.SetResource("#263", "MOVIE", std::vector<uint8_t>(1234, 0));
    fake.SetResource("#723", "VOICE", VoiceClipBytes(480 * 10, 40));
    fake.SetResource("WAVE", "#150", std::vector<uint8_t>(64, 0));
  }

  FakePlatform fake;
  ScriptedVideo video{fake, Pictures({0, 2, 4})};
  ScriptedSpeech speech;
};

}  // namespace clipnote::testing
