#include "platform/gtk/alsa_pcm_device.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace clipnote::gtk {

namespace {

// Half a second of buffering: enough to ride out a busy machine, while a stop
// drops it at once.
constexpr unsigned kLatencyMicroseconds = 500000;

// A machine without sound would otherwise get ALSA's complaints on stderr at
// every sound; not having a device is an ordinary state for the player, told
// once in a line of our own.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

class AlsaPcmStream : public PcmStream {
 public:
  explicit AlsaPcmStream(snd_pcm_t* pcm) : pcm_(pcm) {}
  ~AlsaPcmStream() override { snd_pcm_close(pcm_); }

  long Write(const uint8_t* data, size_t frames, int waitMs) override {
    const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, data, frames);
    if (written >= 0) {
      // A sound shorter than the buffer would otherwise wait for the drain to
      // start; starting at once is what makes its start time known.
      if (written > 0 && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
      return written;
    }
    if (written == -EAGAIN) {
      snd_pcm_wait(pcm_, waitMs);
      return 0;
    }
    // An underrun (the machine was too busy) or a suspend: recover and go on.
    return snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0 ? -1 : 0;
  }

  bool Drained(int waitMs) override {
    if (!draining_) {
      draining_ = true;
      const int result = snd_pcm_drain(pcm_);  // non-blocking: starts draining
      if (result < 0 && result != -EAGAIN) return true;
    }
    if (snd_pcm_state(pcm_) != SND_PCM_STATE_DRAINING) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return snd_pcm_state(pcm_) != SND_PCM_STATE_DRAINING;
  }

  void Drop() override { snd_pcm_drop(pcm_); }

  long Delay() override {
    snd_pcm_sframes_t frames = 0;
    return snd_pcm_delay(pcm_, &frames) < 0 ? -1 : static_cast<long>(frames);
  }

 private:
  snd_pcm_t* pcm_;
  bool draining_ = false;
};

}  // namespace

AlsaPcmDevice::AlsaPcmDevice() { snd_lib_error_set_handler(QuietAlsaErrors); }

void AlsaPcmDevice::SayNoSound(int error) {
  // Every sound would fail the same way: one line is enough.
  if (saidNoSound_.exchange(true)) return;
  std::fprintf(stderr, "clipnote: no sound device (%s): the message plays without sound.\n",
               snd_strerror(error));
}

std::unique_ptr<PcmStream> AlsaPcmDevice::Open(const WaveSound& format) {
  snd_pcm_t* pcm = nullptr;
  if (const int error = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
      error < 0) {
    SayNoSound(error);
    return nullptr;
  }
  const snd_pcm_format_t sampleFormat =
      format.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
  if (const int error =
          snd_pcm_set_params(pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels,
                             format.samplesPerSecond, 1, kLatencyMicroseconds);
      error < 0) {
    snd_pcm_close(pcm);
    SayNoSound(error);
    return nullptr;
  }
  return std::make_unique<AlsaPcmStream>(pcm);
}

}  // namespace clipnote::gtk
