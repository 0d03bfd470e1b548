// What the library hands the encoders: the video encoder one QCIF picture per scheduled
// tick (with the tick, which becomes the picture's temporal reference), the speech
// encoder one 240-sample frame at a time. The encoders implement these interfaces; the
// library decides what and when.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "authoring/letterbox.h"

namespace clipnote::authoring {

class PictureSink {
 public:
  virtual ~PictureSink() = default;
  // One picture to code, shown from `tick` until the next one's tick. `first` is true for
  // tick 0 (an intra picture). Returns false to stop (the encoder failed).
  virtual bool Picture(int tick, const QcifPicture& picture, bool first) = 0;
};

class SpeechSink {
 public:
  virtual ~SpeechSink() = default;
  // One 30 ms frame of 8 kHz samples, in order. Returns false to stop.
  virtual bool Frame(std::span<const int16_t, 240> samples) = 0;
};

// Hands `sink` the pictures at the scheduled ticks; a tick past the last frame holds
// the last one. False when the sink stops, frames is empty, or ticks is empty.
bool FeedPictures(const std::vector<QcifPicture>& frames, std::span<const int> ticks, PictureSink& sink);

// Hands `sink` every frame of the samples, the last one padded with silence.
bool FeedSpeech(std::span<const int16_t> samples, SpeechSink& sink);

}  // namespace clipnote::authoring
