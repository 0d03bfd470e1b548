#include "platform/gtk/sound_player.h"

#include <chrono>

#include "platform/gtk/millisecond_clock.h"

namespace clipnote::gtk {

namespace {

constexpr int kStepMs = 10;

int32_t Since(uint32_t now, uint32_t then) { return static_cast<int32_t>(now - then); }

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

uint64_t SoundPlayer::RequestCount() {
  std::lock_guard lock(mutex_);
  return requests_;
}

SoundPlayer::Request SoundPlayer::NewRequest(bool async, bool* cutsAsync) {
  std::lock_guard lock(mutex_);
  if (cutsAsync != nullptr) *cutsAsync = latestAsync_;
  latestAsync_ = async;
  return {++requests_, MillisecondClock()};
}

void SoundPlayer::Stop() {
  // Whoever waits for a sound to start learns that none is coming; but the
  // cut of an asynchronous sound just asked for only ends that sound.
  bool cutsAsync = false;
  const Request request = NewRequest(false, &cutsAsync);
  if (!cutsAsync) ReportStart(request.number, false, 0);
  uint64_t ticket;
  if (!Acquire(ticket)) return;
  std::lock_guard lock(mutex_);
  busy_ = false;
  released_.notify_all();
}

void SoundPlayer::ReportStart(uint64_t request, bool known, uint32_t heardAt) {
  std::lock_guard lock(mutex_);
  start_ = {true, request, known, heardAt};
  started_.notify_all();
}

bool SoundPlayer::ReportOnceHeard(PcmStream& stream, size_t written, uint32_t rate,
                                  Request request) {
  const uint32_t askedAt = request.askedAt;
  // Until the output has played something, what it says of its delay is what
  // it was given, not when it will be heard; once it has, the first frame was
  // heard as long ago as the frames played since take.
  const long delay = stream.Delay();
  if (delay < 0) {
    ReportStart(request.number, false, 0);  // it cannot tell: nobody waits for it
    return true;
  }
  if (static_cast<size_t>(delay) >= written) return false;
  const uint64_t playedMs = (written - static_cast<size_t>(delay)) * uint64_t{1000} / rate;
  // A device that takes sound faster than it plays (a null or file device)
  // would place the start before the sound was even asked for.
  const uint32_t now = MillisecondClock();
  const uint32_t heardAt = playedMs >= static_cast<uint32_t>(Since(now, askedAt))
                               ? askedAt
                               : now - static_cast<uint32_t>(playedMs);
  ReportStart(request.number, true, heardAt);
  return true;
}

uint32_t SoundPlayer::HeardTime(uint64_t mark, uint32_t released, uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  const bool reported = started_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return start_.reported && start_.request > mark;
  });
  return reported && start_.known ? start_.heardAt : released;
}

bool SoundPlayer::Play(const WaveSound& sound, bool async) {
  const Request request = NewRequest(async);
  uint64_t ticket;
  if (!Acquire(ticket)) {
    if (!async) ReportStart(request.number, false, 0);
    return false;
  }
  if (!async) return PlayOut(sound, ticket, true, request);
  std::lock_guard lock(asyncMutex_);
  // The previous asynchronous sound has given the device up already; its
  // thread is at most returning.
  if (asyncThread_.joinable()) asyncThread_.join();
  asyncThread_ = std::thread([this, sound, ticket] { PlayOut(sound, ticket, false, {}); });
  return true;
}

bool SoundPlayer::PlayOut(const WaveSound& sound, uint64_t ticket, bool synchronous,
                          Request request) {
  const size_t frameBytes = static_cast<size_t>(sound.channels) * sound.bitsPerSample / 8;
  const size_t frames = frameBytes == 0 ? 0 : sound.bytes / frameBytes;
  std::unique_ptr<PcmStream> stream = frames == 0 ? nullptr : device_.Open(sound);
  bool played = stream != nullptr;
  bool reported = !synchronous;
  if (stream != nullptr) {
    size_t done = 0;
    while (done < frames && !Superseded(ticket)) {
      const long taken = stream->Write(sound.samples + done * frameBytes, frames - done, kStepMs);
      if (taken < 0) {
        played = false;
        break;
      }
      done += static_cast<size_t>(taken);
      if (!reported) reported = ReportOnceHeard(*stream, done, sound.samplesPerSecond, request);
    }
    if (played) {
      while (!Superseded(ticket) && !stream->Drained(kStepMs)) {
        if (!reported) reported = ReportOnceHeard(*stream, done, sound.samplesPerSecond, request);
      }
    }
    if (Superseded(ticket) || !played) stream->Drop();
    stream.reset();
  }
  if (!reported) ReportStart(request.number, false, 0);
  std::lock_guard lock(mutex_);
  busy_ = false;
  released_.notify_all();
  return played;
}

}  // namespace clipnote::gtk
