#pragma once

// The sound service: one sound at a time, as PlaySoundA plays them.
//
// A new sound supersedes the one playing; a stop ends any sound at once, also
// a synchronous one that another thread is waiting on, whose call then
// returns. Playback is written in short steps and the stop is looked at
// between them, so "at once" means within one step (about 10 ms).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/gtk/wave_image.h"

namespace clipnote::gtk {

// One open output stream.
class PcmStream {
 public:
  virtual ~PcmStream() = default;
  // Takes up to `frames` frames, waiting at most about waitMs for room.
  // Returns the frames taken (0 when there was no room yet), negative when
  // the stream failed.
  virtual long Write(const uint8_t* data, size_t frames, int waitMs) = 0;
  // Starts playing out what was written (the first call) and tells, after
  // waiting at most about waitMs, whether it has all been played.
  virtual bool Drained(int waitMs) = 0;
  // Stops at once, dropping what has not been played.
  virtual void Drop() = 0;
  // Frames between what is heard now and the next frame written: the output's
  // delay. Negative when the stream cannot tell.
  virtual long Delay() { return -1; }
};

// Where sound goes: opens a stream for a sound's format, or null when there is
// no usable output.
class PcmDevice {
 public:
  virtual ~PcmDevice() = default;
  virtual std::unique_ptr<PcmStream> Open(const WaveSound& format) = 0;
};

class SoundPlayer {
 public:
  explicit SoundPlayer(PcmDevice& device) : device_(device) {}
  ~SoundPlayer();
  SoundPlayer(const SoundPlayer&) = delete;
  SoundPlayer& operator=(const SoundPlayer&) = delete;

  // Plays sound after stopping whatever plays. Synchronous: returns when it
  // has played out (true) or was stopped, and false at once when it has no
  // frames or no output could be opened. Asynchronous: returns at once.
  bool Play(const WaveSound& sound, bool async);
  // Stops any sound and returns once it has stopped.
  void Stop();
  // Every Play and Stop is a request, numbered from 1 in the order made.
  // How many have been made so far.
  uint64_t RequestCount();
  // When the first synchronous sound asked for after request number `mark`
  // is heard (millisecond clock), once it has started and the device has said
  // how far behind its output is; `released` when no such sound starts within
  // timeoutMs, or it cannot start, or a stop after `mark` comes first. A stop
  // that cuts an asynchronous sound asked for just before it (the start-up
  // sound, requested and cut at once) is that sound's end, not such a stop.
  uint32_t HeardTime(uint64_t mark, uint32_t released, uint32_t timeoutMs);

 private:
  // Waits for the device after superseding whatever plays; false when a
  // later call has taken over meanwhile. Takes the device on true.
  bool Acquire(uint64_t& ticket);
  // A synchronous sound's request: its number and when it was made.
  struct Request {
    uint64_t number = 0;
    uint32_t askedAt = 0;
  };
  // Numbers a new request; `async` for a sound played asynchronously.
  Request NewRequest(bool async, bool* cutsAsync = nullptr);
  bool PlayOut(const WaveSound& sound, uint64_t ticket, bool synchronous, Request request);
  // Tells HeardTime's waiters about request number `request` (a synchronous
  // sound, or a stop): heard at heardAt, or (known false) not to be heard.
  void ReportStart(uint64_t request, bool known, uint32_t heardAt);
  // Reports the start (true) once the stream has played some of the written
  // frames and so can tell when its first frame was heard.
  bool ReportOnceHeard(PcmStream& stream, size_t written, uint32_t rate, Request request);
  bool Superseded(uint64_t ticket) const { return generation_.load() != ticket; }

  PcmDevice& device_;
  std::mutex mutex_;
  std::condition_variable released_;
  std::atomic<uint64_t> generation_{0};
  bool busy_ = false;
  std::mutex asyncMutex_;
  std::thread asyncThread_;
  // Requests made so far, and whether the latest was an asynchronous sound;
  // under mutex_.
  uint64_t requests_ = 0;
  bool latestAsync_ = false;
  // The latest report about a synchronous sound's start, under mutex_.
  struct Start {
    bool reported = false;
    uint64_t request = 0;
    bool known = false;
    uint32_t heardAt = 0;
  } start_;
  std::condition_variable started_;
};

}  // namespace clipnote::gtk
