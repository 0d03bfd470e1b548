// Any file FFmpeg's libraries read, as pictures with their times (4:2:0 at the source's own
// size) and sound (16-bit, one channel, at the source's own rate), optionally only a part of
// it (--start, --duration).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "authoring/letterbox.h"

namespace makemessage {

struct MediaStreams {
  bool video = false;  // moving or still pictures (a cover picture attached to sound is none)
  bool audio = false;
  double seconds = 0;  // the container's length; 0 when it does not say
};

struct ReadWindow {
  double start = 0;      // seconds into the file
  double duration = -1;  // below 0: to the end
};

using PictureFn = std::function<bool(double seconds, const clipnote::authoring::SourcePicture&)>;
using SoundFn = std::function<bool(std::span<const int16_t> samples, int rate)>;
// Seconds read so far, for progress.
using ReadProgressFn = std::function<void(double seconds)>;

class MediaReader {
 public:
  MediaReader();
  ~MediaReader();
  MediaReader(const MediaReader&) = delete;
  MediaReader& operator=(const MediaReader&) = delete;

  // False, with a sentence naming the file, when it cannot be opened or is no media file.
  bool Open(const std::string& path, std::string& error);
  const MediaStreams& Streams() const { return streams_; }

  // Decodes the window of the first video stream (when picture is set) and of the first audio
  // stream (when sound is set), times counted from the window's start. Stops early, returning
  // true, when a callback returns false; false with the reason on a decoding failure or cancel.
  bool Read(const ReadWindow& window, const PictureFn& picture, const SoundFn& sound,
            const ReadProgressFn& progress, const std::atomic<bool>* cancel, std::string& error);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  MediaStreams streams_;
  std::string path_;
};

}  // namespace makemessage
