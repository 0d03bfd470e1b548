#include "tools/clipnote-decode/clip_summary.h"

#include <algorithm>
#include <cstdio>

#include "audio/frame_unpacker.h"
#include "video/recon/decoder_buffers.h"
#include "video/recon/picture_decoder.h"

using namespace clipnote::h263;

using namespace clipnote::speech;

namespace {

// Start codes are never imitated inside the coded data, so a plain bit search finds
// every one: 16 zeros and a one, then the group number (0 picture, 31 end of sequence).
// A GOB header then holds its frame id (2 bits) and quantiser (5 bits).
void CountGobHeaders(clipnote::message::Bytes clip, VideoSummary& summary) {
  const uint64_t bits = uint64_t{clip.size()} * 8;
  auto bit = [&](uint64_t at) { return (clip[at / 8] >> (7 - at % 8)) & 1; };
  auto field = [&](uint64_t at, int width) {
    int value = 0;
    for (int i = 0; i < width; ++i) value = value << 1 | bit(at + i);
    return value;
  };
  uint32_t zeros = 0;
  bool pictureHasOne = false;  // the picture begun last holds a GOB header already
  for (uint64_t at = 0; at < bits; ++at) {
    if (bit(at) == 0) {
      ++zeros;
      continue;
    }
    const bool startCode = zeros >= 16;
    zeros = 0;
    if (!startCode || at + 1 + 5 + 2 + 5 > bits) continue;
    const int group = field(at + 1, 5);
    if (group == 0) pictureHasOne = false;
    if (group == 0 || group == 31) continue;
    ++summary.gobHeaders;
    if (!pictureHasOne) ++summary.picturesWithGobHeaders;
    pictureHasOne = true;
    const int quantiser = field(at + 1 + 5 + 2, 5);
    summary.quantiserMin = std::min(summary.quantiserMin, quantiser);
    summary.quantiserMax = std::max(summary.quantiserMax, quantiser);
  }
}

}  // namespace

VideoSummary SummariseVideo(clipnote::message::Bytes clip) {
  VideoSummary summary;
  if (clip.empty()) return summary;
  VideoDecoderBuffers buffers;
  StartVideoClip(buffers, clip.data(), clip.size());
  summary.probeCode = ProbePictureFormat();
  if (summary.probeCode != 0) return summary;
  summary.width = videoDecoder.width;
  summary.height = videoDecoder.height;
  summary.quantiserMin = 31;
  uint8_t previous = 0;
  for (;;) {
    const int64_t headerOffset = VideoReaderOffset();
    const int32_t result = DecodePicture();
    if (result == 0 && videoDecoder.endOfSequence != 0) {
      summary.endOfSequence = true;
      break;
    }
    if (result != 0) {
      // Only padding left is the normal end of a clip without an end code.
      const bool padding = std::all_of(clip.begin() + std::min<int64_t>(headerOffset, clip.size()), clip.end(),
                                       [](uint8_t b) { return b == 0; });
      if (summary.stoppedPicture < 0 && !(result == 1 && padding)) {
        summary.headerFailure = result;
        summary.headerFailureOffset = headerOffset;
      }
      break;
    }
    const uint8_t reference = videoDecoder.temporalReference;
    if (summary.pictures > 0) {
      // As the player counts them: the 8-bit references wrap at 256.
      const int32_t gap = reference >= previous ? reference - previous : reference - previous + 256;
      summary.lastTick += gap;
      ++summary.tickGaps[gap];
    }
    previous = reference;
    summary.pictureTicks.push_back(summary.lastTick);
    if (videoDecoder.pictureCodingType == 0) ++summary.intraPictures;
    summary.quantiserMin = std::min<int>(summary.quantiserMin, videoDecoder.pquant);
    summary.quantiserMax = std::max<int>(summary.quantiserMax, videoDecoder.pquant);
    if (videoDecoder.mbError != 0 && summary.stoppedPicture < 0) summary.stoppedPicture = summary.pictures;
    ++summary.pictures;
  }
  if (summary.pictures == 0) summary.quantiserMin = 0;
  CountGobHeaders(clip, summary);
  return summary;
}

SpeechSummary SummariseSpeech(clipnote::message::Bytes clip, bool hasPrefix) {
  SpeechSummary summary;
  summary.hasPrefix = hasPrefix;
  size_t at = 0;
  if (hasPrefix) {
    if (clip.size() < 4) return summary;
    summary.pcmCapacity = clipnote::message::U32At(clip, 0);
    at = 4;
  }
  while (at < clip.size()) {
    const int length = CodedFrameLength(clip[at]);
    if (clip.size() - at < static_cast<size_t>(length)) {
      summary.cutFrameBytes = static_cast<uint32_t>(clip.size() - at);
      break;
    }
    switch (clip[at] & 3) {
      case 0: ++summary.frames63; break;
      case 1: ++summary.frames53; break;
      case 2: ++summary.framesSid; break;
      default: ++summary.framesUntransmitted; break;
    }
    at += static_cast<size_t>(length);
  }
  return summary;
}

namespace {

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

std::string Seconds(double seconds) { return Format(seconds < 10 ? "%.1f s" : "%.0f s", seconds); }

std::string Bytes(uint64_t bytes) {
  if (bytes < 10000) return std::to_string(bytes) + " bytes";
  return Format(bytes < 10000000 ? "%.0f KB (%.0f bytes)" : "%.1f MB (%.0f bytes)",
                bytes < 10000000 ? bytes / 1000.0 : bytes / 1e6, static_cast<double>(bytes));
}

}  // namespace

std::vector<std::pair<std::string, std::string>> PlainSummary(const VideoSummary* video, const SpeechSummary* speech,
                                                              uint64_t bytes) {
  std::vector<std::pair<std::string, std::string>> lines;
  const bool pictures = video != nullptr && video->probeCode == 0 && video->pictures > 0;
  const bool sound = speech != nullptr && speech->Frames() > 0;
  // The last picture stays up for as long as the one before it did, as the player shows it.
  const double videoSeconds =
      pictures ? (video->lastTick + (video->pictures > 1 ? static_cast<double>(video->lastTick) / (video->pictures - 1) : 1)) /
                     30.0
               : 0;
  const double speechSeconds = sound ? speech->Frames() * kMillisecondsPerFrame / 1000 : 0;
  lines.push_back({"length", pictures || sound ? Seconds(std::max(videoSeconds, speechSeconds)) : "nothing to play"});
  if (pictures) {
    lines.push_back({"pictures", std::to_string(video->pictures) + ", " + Format("%.1f a second", video->pictures / videoSeconds) +
                                     ", " + std::to_string(video->width) + "x" + std::to_string(video->height)});
  } else {
    lines.push_back({"pictures", "none"});
  }
  lines.push_back({"size", Bytes(bytes)});
  if (sound) {
    const int spoken = speech->frames63 + speech->frames53;
    lines.push_back({"speech", Seconds(spoken * kMillisecondsPerFrame / 1000) + " of " + Seconds(speechSeconds) + " (" +
                                   Format("%.0f%%", 100.0 * spoken / speech->Frames()) + "); the rest is silence"});
  } else {
    lines.push_back({"speech", "none"});
  }
  return lines;
}
