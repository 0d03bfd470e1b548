// The page's entry points into the decoders and the message reader. One message
// reader result, one video decoder and one speech result live here at a time; the
// page owns the order of calls. Every buffer is reserved before decoding starts,
// so the decoders themselves never allocate.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/voice_clip.h"
#include "message/message_file.h"
#include "message/resource_writer.h"
#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"
#include "video/recon/decoder_buffers.h"
#include "video/recon/picture_decoder.h"

#include "web/api/web_export.h"

namespace {

using namespace clipnote;

// The picture as the player shows it: always converted at 176 x 144.
constexpr int kColumns = 176;
constexpr int kRows = 144;

// More PCM than a page should hold (about 35 minutes of speech).
constexpr uint64_t kLargestPcmBytes = uint64_t{256} << 20;

std::string reason;
std::optional<message::MessageFile> readMessage;

struct VideoState {
  h263::VideoDecoderBuffers buffers;
  std::vector<uint8_t> clip;
  std::vector<uint8_t> bgr = std::vector<uint8_t>(kColumns * kRows * 3);
  std::vector<uint8_t> bgrDoubled = std::vector<uint8_t>(kColumns * kRows * 12);
  std::vector<uint8_t> rgba = std::vector<uint8_t>(kColumns * kRows * 16);
};
VideoState* video = nullptr;

std::vector<uint8_t> pcm;
std::vector<uint8_t> written;  // the last message executable cn_write_message wrote

double RangeOffset(const std::optional<message::ByteRange>& range) {
  return range ? static_cast<double>(range->offset) : -1;
}
double RangeSize(const std::optional<message::ByteRange>& range) {
  return range ? static_cast<double>(range->size) : -1;
}

// BGR rows bottom-up (the display's format) to RGBA rows top-down (the canvas's).
void BgrToRgba(const uint8_t* bgr, int columns, int rows, uint8_t* rgba) {
  for (int y = 0; y < rows; ++y) {
    const uint8_t* row = bgr + static_cast<size_t>(rows - 1 - y) * columns * 3;
    uint8_t* out = rgba + static_cast<size_t>(y) * columns * 4;
    for (int x = 0; x < columns; ++x) {
      out[4 * x] = row[3 * x + 2];
      out[4 * x + 1] = row[3 * x + 1];
      out[4 * x + 2] = row[3 * x];
      out[4 * x + 3] = 255;
    }
  }
}

}  // namespace

extern "C" {

CLIPNOTE_WEB_EXPORT uint8_t* cn_alloc(int size) { return new (std::nothrow) uint8_t[size > 0 ? size : 1]; }
CLIPNOTE_WEB_EXPORT void cn_free(uint8_t* block) { delete[] block; }
CLIPNOTE_WEB_EXPORT const char* cn_reason() { return reason.c_str(); }

// What the file holds: the MessageKind, or -1 with the reader's reason.
CLIPNOTE_WEB_EXPORT int cn_read_message(const uint8_t* bytes, int size, const char* name) {
  reason.clear();
  readMessage = message::ReadMessage(message::Bytes(bytes, static_cast<size_t>(std::max(size, 0))), name,
                                     message::SpeechForm::ByName, reason);
  return readMessage ? static_cast<int>(readMessage->kind) : -1;
}
CLIPNOTE_WEB_EXPORT double cn_video_offset() { return readMessage ? RangeOffset(readMessage->video) : -1; }
CLIPNOTE_WEB_EXPORT double cn_video_size() { return readMessage ? RangeSize(readMessage->video) : -1; }
CLIPNOTE_WEB_EXPORT double cn_speech_offset() { return readMessage ? RangeOffset(readMessage->speech) : -1; }
CLIPNOTE_WEB_EXPORT double cn_speech_size() { return readMessage ? RangeSize(readMessage->speech) : -1; }
CLIPNOTE_WEB_EXPORT int cn_speech_has_prefix() { return readMessage && readMessage->speechHasPrefix ? 1 : 0; }

// Restarts the video decoder on a copy of the clip, as every playback does; returns the
// first picture header's code (0 for a clip the player can show).
CLIPNOTE_WEB_EXPORT int cn_video_open(const uint8_t* clip, int size) {
  static bool tablesBuilt = false;
  if (!tablesBuilt) {
    h263::BuildColourTables();
    tablesBuilt = true;
  }
  if (video == nullptr) video = new VideoState;
  video->clip.assign(clip, clip + std::max(size, 0));
  h263::StartVideoClip(video->buffers, video->clip.data(), video->clip.size());
  return h263::ProbePictureFormat();
}
CLIPNOTE_WEB_EXPORT int cn_video_decode() { return video ? h263::DecodePicture() : 1; }
CLIPNOTE_WEB_EXPORT int cn_video_temporal_reference() { return h263::videoDecoder.temporalReference; }
CLIPNOTE_WEB_EXPORT int cn_video_end_of_sequence() { return h263::videoDecoder.endOfSequence != 0 ? 1 : 0; }

// The current picture as decoded: Y, U and V planes of width x height (4:2:0).
CLIPNOTE_WEB_EXPORT const uint8_t* cn_video_planes() { return video ? video->buffers.currentPicture.data() : nullptr; }
CLIPNOTE_WEB_EXPORT int cn_video_width() { return h263::videoDecoder.width; }
CLIPNOTE_WEB_EXPORT int cn_video_height() { return h263::videoDecoder.height; }

// The current picture converted as the player converts it (doubled when asked), as RGBA
// rows top-down: 176 x 144, or 352 x 288 doubled.
CLIPNOTE_WEB_EXPORT const uint8_t* cn_video_rgba(int doubled) {
  if (video == nullptr) return nullptr;
  h263::ConvertToBgr24(video->buffers.currentPicture.data(), video->bgr.data(), kRows, kColumns);
  if (doubled) {
    h263::DoubleBgr24(video->bgr.data(), video->bgrDoubled.data(), kColumns, kRows);
    BgrToRgba(video->bgrDoubled.data(), kColumns * 2, kRows * 2, video->rgba.data());
  } else {
    BgrToRgba(video->bgr.data(), kColumns, kRows, video->rgba.data());
  }
  return video->rgba.data();
}

// Decodes a whole speech clip (a VOICE clip when hasPrefix, else a raw frame stream) as
// the player prepares it. Returns the number of 16-bit samples at cn_speech_pcm(), or -1
// with the reason.
CLIPNOTE_WEB_EXPORT int cn_speech_decode(const uint8_t* bytes, int size, int hasPrefix) {
  reason.clear();
  pcm.clear();
  const size_t length = static_cast<size_t>(std::max(size, 0));
  speech::VoiceClip clip;
  if (hasPrefix) {
    const speech::VoiceClipError error = speech::ParseVoiceClip(bytes, length, clip);
    if (error != speech::VoiceClipError::None) {
      reason = speech::VoiceClipErrorText(error);
      return -1;
    }
  } else {
    clip.coded = bytes;
    clip.codedByteCount = static_cast<uint32_t>(length);
    clip.pcmCapacity = 0xFFFFFFFFu - speech::kWavImageOverhead;
  }
  // Every frame takes at least one coded byte, so an area of 480 bytes per coded byte
  // decodes exactly what the reserved capacity would; only that much is reserved here.
  const uint64_t area = std::min<uint64_t>(uint64_t{clip.pcmCapacity} + 480, uint64_t{clip.codedByteCount} * 480);
  if (area > kLargestPcmBytes) {
    reason = "The speech is too long to be played here.";
    return -1;
  }
  speech::AudioDecoder decoder;
  try {
    pcm.assign(static_cast<size_t>(area), 0);
  } catch (const std::bad_alloc&) {
    reason = "There is not enough memory for the speech.";
    return -1;
  }
  if (!decoder.Create()) {
    reason = "There is not enough memory for the speech decoder.";
    return -1;
  }
  decoder.Reset(speech::Rate::Rate53);
  uint32_t inputOffset = 0;
  const speech::VoiceDecodeResult result = speech::DecodeVoiceClip(
      decoder, clip.codedByteCount, clip.coded, pcm.data(), static_cast<uint32_t>(area), inputOffset);
  decoder.Release();
  return static_cast<int>(result.pcmBytes / 2);
}
CLIPNOTE_WEB_EXPORT const uint8_t* cn_speech_pcm() { return pcm.data(); }

// Writes a message executable: the player template (clipnote_template.exe beside the
// page) with the clips as its message, and the logo (a .bmp file) and start-up sound (a
// WAVE file) where their size is not negative (else the template's own). Returns the
// executable's size, its bytes at cn_written(), or -1 with the reason.
CLIPNOTE_WEB_EXPORT int cn_write_message(const uint8_t* playerTemplate, int templateSize, const uint8_t* movie,
                                         int movieSize, const uint8_t* voice, int voiceSize, const uint8_t* logo,
                                         int logoSize, const uint8_t* sound, int soundSize) {
  reason.clear();
  written.clear();
  auto bytes = [](const uint8_t* data, int size) { return std::vector<uint8_t>(data, data + std::max(size, 0)); };
  message::MessageResources resources{bytes(movie, movieSize), bytes(voice, voiceSize), {}, {}};
  if (soundSize >= 0) resources.startupSound = bytes(sound, soundSize);
  if (logoSize >= 0) {
    constexpr int kFileHeaderBytes = 14;
    if (logoSize < kFileHeaderBytes || logo[0] != 'B' || logo[1] != 'M') {
      reason = "the logo is not a .bmp file (no BM header)";
      return -1;
    }
    resources.logo = bytes(logo + kFileHeaderBytes, logoSize - kFileHeaderBytes);
  }
  try {
    std::optional<std::vector<uint8_t>> exe = message::WriteMessage(
        message::Bytes(playerTemplate, static_cast<size_t>(std::max(templateSize, 0))), resources, reason);
    if (!exe) return -1;
    written = std::move(*exe);
  } catch (const std::bad_alloc&) {
    reason = "There is not enough memory for the message executable.";
    return -1;
  }
  return static_cast<int>(written.size());
}
CLIPNOTE_WEB_EXPORT const uint8_t* cn_written() { return written.data(); }

}  // extern "C"
