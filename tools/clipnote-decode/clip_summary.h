#pragma once

// What `info` reports about a message's two clips, found by decoding them as the
// player does (video) and by walking the coded frames (speech).

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "message/byte_view.h"

struct VideoSummary {
  int32_t probeCode = 0;  // nonzero: the first picture header is not one the player reads
  int width = 0;
  int height = 0;
  int pictures = 0;
  int intraPictures = 0;
  int32_t lastTick = 0;              // ticks from picture 0 to the last picture
  std::vector<int32_t> pictureTicks; // each decoded picture's ticks from picture 0
  std::map<int32_t, int> tickGaps;   // gap between consecutive pictures -> how often
  int quantiserMin = 0, quantiserMax = 0;  // picture and GOB quantisers
  int gobHeaders = 0;                // GOB start codes (group headers other than the first)
  int picturesWithGobHeaders = 0;    // pictures holding one or more of them
  bool endOfSequence = false;        // an end-of-sequence code ends the clip
  int stoppedPicture = -1;           // a macroblock error in this picture ended decoding
  int32_t headerFailure = 0;         // a picture header code that ended decoding early
  int64_t headerFailureOffset = -1;
};

struct SpeechSummary {
  bool hasPrefix = false;
  uint32_t pcmCapacity = 0;  // the prefix
  int frames63 = 0, frames53 = 0, framesSid = 0, framesUntransmitted = 0;
  uint32_t cutFrameBytes = 0;  // bytes of a last frame the clip cuts short
  int Frames() const { return frames63 + frames53 + framesSid + framesUntransmitted; }
};

inline constexpr double kMillisecondsPerTick = 1000.0 / 30.0;
inline constexpr double kMillisecondsPerFrame = 30.0;

VideoSummary SummariseVideo(clipnote::message::Bytes clip);
SpeechSummary SummariseSpeech(clipnote::message::Bytes clip, bool hasPrefix);

// What a person wants to know of a message, a line each, label and value: how long it lasts,
// its pictures (how many a second, what size), how many bytes it takes, and how much of its sound
// is speech rather than silence. Either clip may be missing (nullptr); `bytes` is the whole file's.
std::vector<std::pair<std::string, std::string>> PlainSummary(const VideoSummary* video, const SpeechSummary* speech,
                                                              uint64_t bytes);
