#include "tools/clipnote-decode/clip_summary.h"

#include <algorithm>

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
  for (uint64_t at = 0; at < bits; ++at) {
    if (bit(at) == 0) {
      ++zeros;
      continue;
    }
    const bool startCode = zeros >= 16;
    zeros = 0;
    if (!startCode || at + 1 + 5 + 2 + 5 > bits) continue;
    const int group = field(at + 1, 5);
    if (group == 0 || group == 31) continue;
    ++summary.gobHeaders;
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
