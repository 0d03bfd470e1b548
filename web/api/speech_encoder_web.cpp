// The page's entry points into our G.723.1 encoder, for a recorder: start a clip, hand it
// 16-bit 8000 Hz PCM in pieces of any length as the microphone delivers them, finish it and
// take the VOICE clip, its 4-byte prefix first as make-message writes it. The result is the
// same clip `clipnote-encode speech` writes from the same samples.
//
// One encoder lives here. The samples are gathered into 240-sample frames inside; a frame
// is coded once the frame after it is complete, since the silence decision looks one frame
// ahead. The encoder borrows the decoder's process-wide records for the length of each call
// and gives them back unchanged, so the page may play speech between calls, not during one.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/encoder/speech_encoder.h"

#include "web/api/web_export.h"

namespace {

using namespace clipnote::speech;

constexpr uint32_t kPcmBytesPerFrame = 480;  // what one coded byte may become in the player
constexpr int32_t kFeedSamples = 8000;       // room in the page's sample buffer: one second

struct WebSpeechEncoder {
  SpeechEncoder encoder;
  std::vector<int16_t> feed = std::vector<int16_t>(kFeedSamples);
  int16_t current[kFrameSamples] = {};
  int16_t next[kFrameSamples] = {};
  bool haveCurrent = false;
  int nextFill = 0;
  bool started = false;
  bool finished = false;
  std::vector<uint8_t> clip;  // prefix, then the coded frames

  void Code(const int16_t* following) {
    uint8_t frame[kMaxCodedFrameBytes];
    const int length = encoder.EncodeFrame(current, following, frame);
    clip.insert(clip.end(), frame, frame + length);
  }

  // The frame in `next` is complete: the one before it can be coded now.
  void Advance() {
    if (haveCurrent) Code(next);
    std::memcpy(current, next, sizeof current);
    haveCurrent = true;
    nextFill = 0;
  }
};

WebSpeechEncoder& Encoder() {
  static WebSpeechEncoder* e = new WebSpeechEncoder;
  return *e;
}

}  // namespace

extern "C" {

// Where the page writes the samples of the next cn_encode_speech_feed (room for
// cn_encode_speech_buffer_samples() of them).
CLIPNOTE_WEB_EXPORT int16_t* cn_encode_speech_buffer() { return Encoder().feed.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_encode_speech_buffer_samples() { return kFeedSamples; }

// Starts a clip: rate 63 (6.3 kbit/s) or 53 (5.3 kbit/s), silence compression (SID and
// untransmitted frames in the quiet stretches) when silence is not 0. Returns 0, or 1 for
// a rate the encoder does not have.
CLIPNOTE_WEB_EXPORT int32_t cn_encode_speech_start(int32_t rate, int32_t silence) {
  if (rate != 63 && rate != 53) return 1;
  WebSpeechEncoder& e = Encoder();
  SpeechEncoderOptions options;
  options.rate = rate == 63 ? Rate::Rate63 : Rate::Rate53;
  options.silenceCompression = silence != 0;
  e.encoder.Reset(options);
  e.haveCurrent = false;
  e.nextFill = 0;
  e.started = true;
  e.finished = false;
  e.clip.reserve(4 + 24 * 250 * 60);  // a minute at 6.3 kbit/s before it grows
  e.clip.assign(4, 0);
  return 0;
}

// Codes the first `count` samples of the buffer (0..cn_encode_speech_buffer_samples()).
// Returns 0, or 1 when no clip is started, it is finished, or count is out of range.
CLIPNOTE_WEB_EXPORT int32_t cn_encode_speech_feed(int32_t count) {
  WebSpeechEncoder& e = Encoder();
  if (!e.started || e.finished || count < 0 || count > kFeedSamples) return 1;
  for (int32_t taken = 0; taken < count;) {
    const int32_t n = std::min<int32_t>(count - taken, kFrameSamples - e.nextFill);
    std::memcpy(e.next + e.nextFill, e.feed.data() + taken, n * sizeof(int16_t));
    e.nextFill += n;
    taken += n;
    if (e.nextFill == kFrameSamples) e.Advance();
  }
  return 0;
}

// Ends the clip: a last partial frame is completed with silence (no samples at all give
// one silent frame), the remaining frames are coded and the prefix written. Returns the
// clip's size in bytes, or -1 when no clip is started or the clip is too long for a VOICE
// clip's prefix.
CLIPNOTE_WEB_EXPORT int32_t cn_encode_speech_finish() {
  WebSpeechEncoder& e = Encoder();
  if (!e.started) return -1;
  if (!e.finished) {
    if (e.nextFill > 0 || !e.haveCurrent) {
      std::memset(e.next + e.nextFill, 0, (kFrameSamples - e.nextFill) * sizeof(int16_t));
      e.Advance();
    }
    e.Code(nullptr);
    e.haveCurrent = false;
    e.finished = true;
  }
  // As make-message writes it: every coded byte could become a 480-byte frame.
  const uint64_t capacity = uint64_t{kPcmBytesPerFrame} * (e.clip.size() - 4 + 1);
  if (capacity > 0xFFFFFFFFu) return -1;
  for (int i = 0; i < 4; ++i) e.clip[i] = static_cast<uint8_t>(capacity >> (8 * i));
  return static_cast<int32_t>(e.clip.size());
}

// The finished clip (cn_encode_speech_finish's size of it), valid until the next start.
CLIPNOTE_WEB_EXPORT const uint8_t* cn_encode_speech_output() { return Encoder().clip.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_encode_speech_output_bytes() {
  const WebSpeechEncoder& e = Encoder();
  return e.finished ? static_cast<int32_t>(e.clip.size()) : 0;
}

// Frames of each kind coded so far: 0 speech, 1 SID, 2 untransmitted.
CLIPNOTE_WEB_EXPORT int32_t cn_encode_speech_frames(int32_t kind) {
  const EncodedFrameCounts& counts = Encoder().encoder.Counts();
  return static_cast<int32_t>(kind == 0 ? counts.active : kind == 1 ? counts.sid : counts.untransmitted);
}

}  // extern "C"
