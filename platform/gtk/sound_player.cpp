#include "platform/gtk/sound_player.h"

namespace clipnote::gtk {

namespace {

constexpr int kStepMs = 10;

}  // namespace

SoundPlayer::~SoundPlayer() {
  Stop();
  std::lock_guard lock(asyncMutex_);
  if (asyncThread_.joinable()) asyncThread_.join();
}

bool SoundPlayer::Acquire(uint64_t& ticket) {
  std::unique_lock lock(mutex_);
  ticket = ++generation_;
  released_.wait(lock, [&] { return !busy_ || Superseded(ticket); });
  if (Superseded(ticket)) return false;
  busy_ = true;
  return true;
}

void SoundPlayer::Stop() {
  uint64_t ticket;
  if (!Acquire(ticket)) return;
  std::lock_guard lock(mutex_);
  busy_ = false;
  released_.notify_all();
}

bool SoundPlayer::Play(const WaveSound& sound, bool async) {
  uint64_t ticket;
  if (!Acquire(ticket)) return false;
  if (!async) return PlayOut(sound, ticket);
  std::lock_guard lock(asyncMutex_);
  // The previous asynchronous sound has given the device up already; its
  // thread is at most returning.
  if (asyncThread_.joinable()) asyncThread_.join();
  asyncThread_ = std::thread([this, sound, ticket] { PlayOut(sound, ticket); });
  return true;
}

bool SoundPlayer::PlayOut(const WaveSound& sound, uint64_t ticket) {
  const size_t frameBytes = static_cast<size_t>(sound.channels) * sound.bitsPerSample / 8;
  const size_t frames = frameBytes == 0 ? 0 : sound.bytes / frameBytes;
  std::unique_ptr<PcmStream> stream = frames == 0 ? nullptr : device_.Open(sound);
  bool played = stream != nullptr;
  if (stream != nullptr) {
    size_t done = 0;
    while (done < frames && !Superseded(ticket)) {
      const long taken = stream->Write(sound.samples + done * frameBytes, frames - done, kStepMs);
      if (taken < 0) {
        played = false;
        break;
      }
      done += static_cast<size_t>(taken);
    }
    if (played) {
      while (!Superseded(ticket) && !stream->Drained(kStepMs)) {
      }
    }
    if (Superseded(ticket) || !played) stream->Drop();
    stream.reset();
  }
  std::lock_guard lock(mutex_);
  busy_ = false;
  released_.notify_all();
  return played;
}

}  // namespace clipnote::gtk
