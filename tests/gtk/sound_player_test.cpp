// The sound service's rules (one sound at a time, a stop that also ends a
// synchronous sound of another thread) over a device that plays in real time
// but records what it was given; and the ALSA device end to end through a
// `file` plugin device.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/millisecond_clock.h"
#include "platform/gtk/sound_player.h"
#include "resources/embedded_resources.h"
#include "resources/resource_ids.h"
#include "support/test_support.h"

namespace clipnote::gtk {
namespace {

using namespace std::chrono_literals;

// Takes 80 frames every 10 ms (8 kHz) and says what happened to each stream.
class PacedDevice : public PcmDevice {
 public:
  static constexpr int kCannotTell = -1;
  static constexpr int kTakesAllAtOnce = -2;
  struct Log {
    std::mutex mutex;
    std::vector<uint8_t> written;
    int opened = 0;
    int dropped = 0;
    int drained = 0;
  };

  class Stream : public PcmStream {
   public:
    Stream(Log& log, int outputLagMs, long failAfterFrames)
        : log_(log), outputLagMs_(outputLagMs), failAfterFrames_(failAfterFrames) {}
    long Write(const uint8_t* data, size_t frames, int waitMs) override {
      if (failAfterFrames_ >= 0 && static_cast<long>(written_) >= failAfterFrames_) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
      const size_t taken = std::min<size_t>(frames, 80);
      std::lock_guard lock(log_.mutex);
      log_.written.insert(log_.written.end(), data, data + taken * 2);
      written_ += taken;
      return static_cast<long>(taken);
    }
    // What is heard runs outputLagMs behind the opening; kCannotTell: no
    // answer; kTakesAllAtOnce: everything written counts as played at once.
    long Delay() override {
      if (outputLagMs_ == kCannotTell) return -1;
      if (outputLagMs_ == kTakesAllAtOnce) return 0;
      const auto since = std::chrono::steady_clock::now() - opened_;
      const long heard = static_cast<long>(
          (std::chrono::duration_cast<std::chrono::milliseconds>(since).count() - outputLagMs_) *
          8);
      return static_cast<long>(written_) - std::clamp(heard, 0L, static_cast<long>(written_));
    }
    bool Drained(int) override {
      std::lock_guard lock(log_.mutex);
      ++log_.drained;
      return true;
    }
    void Drop() override {
      std::lock_guard lock(log_.mutex);
      ++log_.dropped;
    }

   private:
    Log& log_;
    int outputLagMs_;
    long failAfterFrames_;
    size_t written_ = 0;
    std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
  };

  std::unique_ptr<PcmStream> Open(const WaveSound&) override {
    if (!available) return nullptr;
    std::lock_guard lock(log.mutex);
    ++log.opened;
    return std::make_unique<Stream>(log, outputLagMs, failAfterFrames);
  }

  Log log;
  bool available = true;
  int outputLagMs = kCannotTell;
  long failAfterFrames = -1;  // from then on every write fails, as a device gone away
};

WaveSound Samples(std::vector<uint8_t>& storage, size_t frames) {
  storage.resize(frames * 2);
  for (size_t i = 0; i < storage.size(); ++i) storage[i] = static_cast<uint8_t>(i * 7);
  return {1, 8000, 16, storage.data(), storage.size()};
}

TEST(SoundPlayerTest, SynchronousSoundReturnsWhenPlayedOut) {
  PacedDevice device;
  SoundPlayer player(device);
  std::vector<uint8_t> storage;
  const WaveSound sound = Samples(storage, 400);  // 50 ms
  EXPECT_TRUE(player.Play(sound, false));
  EXPECT_EQ(device.log.written, storage);
  EXPECT_EQ(device.log.drained, 1);
  EXPECT_EQ(device.log.dropped, 0);
}

TEST(SoundPlayerTest, StopFromAnotherThreadEndsASynchronousSoundAtOnce) {
  PacedDevice device;
  SoundPlayer player(device);
  std::vector<uint8_t> storage;
  const WaveSound sound = Samples(storage, 8000 * 30);  // 30 s
  std::atomic<bool> returned{false};
  std::thread playing([&] {
    player.Play(sound, false);
    returned = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(returned);
  player.Stop();
  // Stop returns once the sound has stopped; the playing call returns too.
  const auto stoppedAt = std::chrono::steady_clock::now();
  playing.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 1s);
  EXPECT_EQ(device.log.dropped, 1);
  EXPECT_LT(device.log.written.size(), storage.size() / 10);
}

TEST(SoundPlayerTest, NewSoundSupersedesTheOnePlayingAndStopWithNothingIsHarmless) {
  PacedDevice device;
  SoundPlayer player(device);
  player.Stop();
  std::vector<uint8_t> longSound, shortSound;
  EXPECT_TRUE(player.Play(Samples(longSound, 8000 * 30), true));  // asynchronous: at once
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(player.Play(Samples(shortSound, 160), false));
  EXPECT_EQ(device.log.opened, 2);
  EXPECT_EQ(device.log.dropped, 1);
  // The short one played out whole, after the start of the long one.
  ASSERT_GE(device.log.written.size(), shortSound.size());
  EXPECT_TRUE(std::equal(shortSound.begin(), shortSound.end(),
                         device.log.written.end() - static_cast<long>(shortSound.size())));
}

TEST(SoundPlayerTest, NothingToPlayOrNowhereToPlayItReturnsFalseAtOnce) {
  PacedDevice device;
  SoundPlayer player(device);
  std::vector<uint8_t> storage;
  EXPECT_FALSE(player.Play(Samples(storage, 0), false));
  EXPECT_EQ(device.log.opened, 0);
  device.available = false;
  EXPECT_FALSE(player.Play(Samples(storage, 800), false));

  // A device that fails part-way: false, the rest dropped rather than waited for, and the
  // next sound has the device again.
  device.available = true;
  device.failAfterFrames = 160;
  EXPECT_FALSE(player.Play(Samples(storage, 800), false));
  EXPECT_EQ(device.log.dropped, 1);
  EXPECT_EQ(device.log.drained, 0);
  device.failAfterFrames = -1;
  EXPECT_TRUE(player.Play(Samples(storage, 160), false));
  EXPECT_EQ(device.log.drained, 1);
}

// When the first picture may be shown: when the released speech is heard, or
// at once when the output cannot tell, cannot open, or no sound comes. The
// start-up sound, asked for and cut at once, is never taken for the speech,
// whether its cut comes in the same millisecond as the release or after it.
TEST(SoundPlayerTest, HeardTimeOfTheSpeechReleasedFollowsTheOutputsDelay) {
  enum StartUpSound { kNone, kCutBeforeRelease, kCutAfterRelease };
  struct Row {
    const char* what;
    bool available;
    int outputLagMs;
    int heardAfterMs;  // -1: answered with the release time itself
    StartUpSound startUp = kNone;
  };
  const Row rows[] = {
      {"an output 200 ms behind", true, 200, 200},
      {"an output with no lag", true, 0, 0},
      {"an output that cannot tell", true, PacedDevice::kCannotTell, -1},
      {"an output that takes everything at once", true, PacedDevice::kTakesAllAtOnce, 0},
      {"no output", false, 0, -1},
      {"the start-up sound cut just before the release", true, 200, 200, kCutBeforeRelease},
      {"the start-up sound cut just after the release", true, 200, 200, kCutAfterRelease},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    PacedDevice device;
    device.available = row.available;
    device.outputLagMs = row.outputLagMs;
    SoundPlayer player(device);
    std::vector<uint8_t> storage, startUpStorage;
    const WaveSound sound = Samples(storage, 8000);  // 1 s
    const WaveSound startUp = Samples(startUpStorage, 8000);
    const auto cutStartUpSound = [&] {
      player.Play(startUp, true);
      player.Stop();
    };
    const uint32_t released = MillisecondClock();
    if (row.startUp == kCutBeforeRelease) cutStartUpSound();
    const uint64_t mark = player.RequestCount();
    if (row.startUp == kCutAfterRelease) cutStartUpSound();
    std::thread playing([&] { player.Play(sound, false); });
    const uint32_t heard = player.HeardTime(mark, released, 5000);
    const uint32_t answeredAt = MillisecondClock();
    player.Stop();
    playing.join();
    if (row.heardAfterMs < 0) {
      EXPECT_EQ(heard, released);
      EXPECT_LT(answeredAt - released, 1000u);  // not the time-out
    } else {
      EXPECT_GE(static_cast<int>(heard - released), row.heardAfterMs);
      EXPECT_LT(static_cast<int>(heard - released), row.heardAfterMs + 100);
    }
  }
}

TEST(SoundPlayerTest, HeardTimeWaitsOnlyForASoundAskedForAfterTheRelease) {
  PacedDevice device;
  device.outputLagMs = 0;
  SoundPlayer player(device);
  std::vector<uint8_t> storage;
  ASSERT_TRUE(player.Play(Samples(storage, 160), false));
  // The sound before the release does not count: the wait ends at its limit.
  const uint32_t released = MillisecondClock();
  EXPECT_EQ(player.HeardTime(player.RequestCount(), released, 50), released);
  // A stop tells a waiter at once that no sound is coming.
  const uint32_t later = MillisecondClock();
  const uint64_t mark = player.RequestCount();
  std::thread stopping([&] {
    std::this_thread::sleep_for(20ms);
    player.Stop();
  });
  EXPECT_EQ(player.HeardTime(mark, later, 5000), later);
  EXPECT_LT(MillisecondClock() - later, 1000u);
  stopping.join();
}

TEST(AlsaSoundTest, PlaysAnInMemoryWaveThroughTheDefaultDevice) {
  // Before ALSA reads its configuration: a default device that writes to a file.
  namespace fs = std::filesystem;
  const fs::path dir = support::ScratchDir();
  const fs::path capture = dir / "played.raw";
  support::WriteText(dir / ".asoundrc", "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" + capture.string() +
                                            "\"\n  format \"raw\"\n}\n");
  setenv("HOME", dir.c_str(), 1);

  const EmbeddedResource* chime = FindEmbeddedResource("WAVE", IDW_STARTUP_SOUND);
  ASSERT_NE(chime, nullptr);
  GtkPlatform platform;
  EXPECT_TRUE(platform.PlaySoundA(reinterpret_cast<const char*>(chime->data), nullptr, kSndMemory));
  EXPECT_EQ(support::ReadFile(capture), std::vector<uint8_t>(chime->data + 44, chime->data + chime->size));

  // An image whose header was never written plays nothing and says so.
  const std::vector<uint8_t> blank(44 + 480, 0);
  EXPECT_FALSE(platform.PlaySoundA(reinterpret_cast<const char*>(blank.data()), nullptr, kSndMemory));
}

}  // namespace
}  // namespace clipnote::gtk
