#include "authoring/encoder_feed.h"

#include <algorithm>

#include "authoring/speech_pcm.h"

namespace clipnote::authoring {

bool FeedPictures(const std::vector<QcifPicture>& frames, std::span<const int> ticks, PictureSink& sink) {
  if (frames.empty() || ticks.empty()) return false;
  for (size_t i = 0; i < ticks.size(); ++i) {
    const size_t at = std::min(static_cast<size_t>(std::max(ticks[i], 0)), frames.size() - 1);
    if (!sink.Picture(ticks[i], frames[at], i == 0)) return false;
  }
  return true;
}

bool FeedSpeech(std::span<const int16_t> samples, SpeechSink& sink) {
  for (const std::vector<int16_t>& frame : SpeechFrames(samples)) {
    if (!sink.Frame(std::span<const int16_t, 240>(frame.data(), 240))) return false;
  }
  return true;
}

}  // namespace clipnote::authoring
