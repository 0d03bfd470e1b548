// The recorder's entry points: pictures (RGBA of any size, with their times) and sound (16-bit
// mono at the capture's rate) go in while recording; after Stop the authoring pipeline makes
// the message, the same one the make-message command runs, so the page and the command line
// decide alike (letterbox, schedule, 8 kHz speech, size budget). The page only feeds, reports
// the pipeline's progress and collects.
//
// The recording is kept letterboxed, so another size budget can make the message again from
// it. A message without pictures (a microphone only) is the speech encoder's and the writer's
// alone, since the pipeline makes messages with pictures.
//
// One recording lives here at a time. The encoders reconstruct through the decoders'
// process-wide state, so this module (the worker's) plays nothing while it makes a message.

#include <emscripten/em_js.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "audio/encoder/speech_encoder.h"
#include "authoring/letterbox.h"
#include "authoring/message_pipeline.h"
#include "authoring/speech_pcm.h"
#include "message/resource_writer.h"

#include "web/api/web_export.h"

// The pipeline's progress to the module's owner: Module.onMakeProgress(stage, fraction),
// stage the pipeline's Stage, fraction 0..1 within it.
EM_JS(void, ReportMakeProgress, (int stage, double fraction), {
  if (Module["onMakeProgress"]) Module["onMakeProgress"](stage, fraction);
});

namespace {

using namespace clipnote;

struct KeptPicture {
  double seconds;
  authoring::QcifPicture picture;
};

struct Recording {
  int soundRate = 0;
  std::vector<KeptPicture> pictures;
  std::vector<int16_t> sound;
  std::vector<uint8_t> rgba;
  std::vector<int16_t> soundBuffer;
  bool pastLimit = false;
  authoring::AuthoredMessage made;
};

Recording* recording = nullptr;
std::string reason;
int32_t geometry[4];

Recording& Current() {
  if (recording == nullptr) recording = new Recording;
  return *recording;
}

// RGBA rows top-down to 4:2:0 planes, studio range (the coded pictures' range); each chroma
// sample is the mean of its 2x2 block.
void RgbaToPlanes(const uint8_t* rgba, int width, int height, std::vector<uint8_t>& y, std::vector<uint8_t>& cb,
                  std::vector<uint8_t>& cr) {
  const int chromaWidth = (width + 1) / 2;
  const int chromaHeight = (height + 1) / 2;
  y.resize(size_t(width) * height);
  std::vector<int> sumB(size_t(chromaWidth) * chromaHeight), sumR(sumB.size()), count(sumB.size());
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = rgba + (size_t(row) * width + x) * 4;
      const int r = p[0], g = p[1], b = p[2];
      y[size_t(row) * width + x] = static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
      const size_t c = size_t(row / 2) * chromaWidth + x / 2;
      sumB[c] += -38 * r - 74 * g + 112 * b;
      sumR[c] += 112 * r - 94 * g - 18 * b;
      ++count[c];
    }
  }
  cb.resize(sumB.size());
  cr.resize(sumR.size());
  for (size_t c = 0; c < sumB.size(); ++c) {
    const int n = count[c] * 256;
    const auto mean = [n](int sum) { return (2 * sum + (sum >= 0 ? n : -n)) / (2 * n); };  // rounded
    cb[c] = static_cast<uint8_t>(std::clamp(128 + mean(sumB[c]), 0, 255));
    cr[c] = static_cast<uint8_t>(std::clamp(128 + mean(sumR[c]), 0, 255));
  }
}

authoring::SourcePicture QcifSource(const authoring::QcifPicture& p) {
  authoring::SourcePicture source;
  source.width = authoring::kQcifWidth;
  source.height = authoring::kQcifHeight;
  source.y = p.y;
  source.cb = p.cb;
  source.cr = p.cr;
  source.yStride = authoring::kQcifWidth;
  source.cbStride = source.crStride = authoring::kQcifWidth / 2;
  return source;
}

double RecordedSeconds(const Recording& r) {
  const double pictures = r.pictures.empty() ? 0 : r.pictures.back().seconds + 1.0 / authoring::kTicksPerSecond;
  const double sound = r.soundRate > 0 ? double(r.sound.size()) / r.soundRate : 0;
  return std::max(pictures, sound);
}

// A message of speech alone: the recording at 8 kHz, levelled, coded at 6.3 kbit/s (5.3 when
// that does not fit the budget) and written into the template.
bool MakeSpeechOnly(Recording& r, const std::vector<uint8_t>& playerTemplate, int64_t budget) {
  std::vector<int16_t> samples = authoring::ToSpeechRate(r.sound, 1, r.soundRate);
  authoring::NormalisePeak(samples);
  const std::vector<std::vector<int16_t>> frames = authoring::SpeechFrames(samples);
  int64_t smallest = 0;
  for (speech::Rate rate : {speech::Rate::Rate63, speech::Rate::Rate53}) {
    speech::SpeechEncoderOptions options;
    options.rate = rate;
    static speech::SpeechEncoder* encoder = new speech::SpeechEncoder;
    encoder->Reset(options);
    std::vector<uint8_t> coded;
    for (size_t f = 0; f < frames.size(); ++f) {
      uint8_t frame[speech::kMaxCodedFrameBytes];
      const int16_t* next = f + 1 < frames.size() ? frames[f + 1].data() : nullptr;
      coded.insert(coded.end(), frame, frame + encoder->EncodeFrame(frames[f].data(), next, frame));
      if (f % 200 == 199) ReportMakeProgress(int(authoring::Stage::kSpeech), double(f) / frames.size());
    }
    authoring::AuthoredMessage made;
    made.voice = authoring::VoiceClipOf(coded);
    made.rate = rate == speech::Rate::Rate63 ? authoring::SpeechRate::k63 : authoring::SpeechRate::k53;
    made.speechFrames = int(frames.size());
    made.activeFrames = int(encoder->Counts().active);
    made.seconds = double(frames.size()) * authoring::kSpeechFrameSamples / authoring::kSpeechRate;
    message::MessageResources resources{{}, made.voice, {}, {}};
    std::optional<std::vector<uint8_t>> exe =
        message::WriteMessage(message::Bytes(playerTemplate.data(), playerTemplate.size()), resources, reason);
    if (!exe) return false;
    if (budget > 0 && int64_t(exe->size()) > budget) {
      smallest = int64_t(exe->size());
      continue;
    }
    made.executable = std::move(*exe);
    r.made = std::move(made);
    return true;
  }
  reason = "The message does not fit: the smallest one takes " + std::to_string(smallest) + " bytes.";
  return false;
}

}  // namespace

extern "C" {

// Forgets the recording; the sound that follows comes at soundRate Hz (0: no sound).
CLIPNOTE_WEB_EXPORT void cn_rec_reset(int32_t soundRate) {
  delete recording;
  recording = new (std::nothrow) Recording;
  if (recording) recording->soundRate = std::max(soundRate, 0);
  reason.clear();
}

CLIPNOTE_WEB_EXPORT const char* cn_rec_reason() { return reason.c_str(); }

// Where a picture of width x height goes inside the message's picture: x, y, width, height.
CLIPNOTE_WEB_EXPORT const int32_t* cn_rec_letterbox(int32_t width, int32_t height) {
  const authoring::LetterboxGeometry g = authoring::LetterboxFor(width, height);
  geometry[0] = g.x;
  geometry[1] = g.y;
  geometry[2] = g.width;
  geometry[3] = g.height;
  return geometry;
}

// Room for one RGBA picture of width x height, rows top-down.
CLIPNOTE_WEB_EXPORT uint8_t* cn_rec_picture_buffer(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return nullptr;
  Recording& r = Current();
  r.rgba.resize(size_t(width) * height * 4);
  return r.rgba.data();
}

// Adds the picture in the buffer, shown from `seconds` after the start. Returns 0, 1 when the
// recording has reached the length limit (the picture is not kept), -1 for a bad picture.
CLIPNOTE_WEB_EXPORT int32_t cn_rec_add_picture(int32_t width, int32_t height, double seconds) {
  Recording& r = Current();
  if (width <= 0 || height <= 0 || r.rgba.size() != size_t(width) * height * 4 || !(seconds >= 0)) return -1;
  if (seconds >= authoring::kMaxMessageSeconds) {
    r.pastLimit = true;
    return 1;
  }
  std::vector<uint8_t> y, cb, cr;
  RgbaToPlanes(r.rgba.data(), width, height, y, cb, cr);
  authoring::SourcePicture source;
  source.width = width;
  source.height = height;
  source.y = y;
  source.cb = cb;
  source.cr = cr;
  source.yStride = width;
  source.cbStride = source.crStride = (width + 1) / 2;
  try {
    KeptPicture kept{seconds, {}};
    if (!authoring::Letterbox(source, kept.picture)) return -1;
    r.pictures.push_back(std::move(kept));
  } catch (const std::bad_alloc&) {
    r.pastLimit = true;  // out of memory: the recording ends here, as at the limit
    return 1;
  }
  return 0;
}

// Room for `count` samples of sound.
CLIPNOTE_WEB_EXPORT int16_t* cn_rec_sound_buffer(int32_t count) {
  if (count <= 0) return nullptr;
  Recording& r = Current();
  r.soundBuffer.resize(size_t(count));
  return r.soundBuffer.data();
}

// Adds `count` samples from the buffer. Returns 0, 1 when the sound has reached the length
// limit (what is past it is not kept), -1 for a recording without sound.
CLIPNOTE_WEB_EXPORT int32_t cn_rec_add_sound(int32_t count) {
  Recording& r = Current();
  if (r.soundRate <= 0 || count <= 0 || size_t(count) > r.soundBuffer.size()) return -1;
  const size_t limit = static_cast<size_t>(authoring::kMaxMessageSeconds * r.soundRate);
  const size_t room = limit > r.sound.size() ? limit - r.sound.size() : 0;
  const size_t taken = std::min(room, size_t(count));
  r.sound.insert(r.sound.end(), r.soundBuffer.begin(), r.soundBuffer.begin() + taken);
  if (taken < size_t(count)) {
    r.pastLimit = true;
    return 1;
  }
  return 0;
}

CLIPNOTE_WEB_EXPORT double cn_rec_seconds() { return RecordedSeconds(Current()); }
CLIPNOTE_WEB_EXPORT double cn_rec_longest_seconds() { return authoring::kMaxMessageSeconds; }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_past_limit() { return Current().pastLimit ? 1 : 0; }

// Makes the message of what was recorded: the executable on the player template given, at
// most `budget` bytes, or without a budget (0) at `quantiser` (2..31). Returns the executable's size, or -1 with the reason
// (nothing recorded, a budget nothing fits, ...). Progress goes to Module.onMakeProgress.
CLIPNOTE_WEB_EXPORT int32_t cn_rec_make(const uint8_t* playerTemplate, int32_t templateSize, double budget,
                                        int32_t quantiser) {
  Recording& r = Current();
  reason.clear();
  r.made = {};
  const int64_t maxBytes = budget > 0 ? static_cast<int64_t>(budget) : 0;
  std::vector<uint8_t> bytes(playerTemplate, playerTemplate + std::max(templateSize, 0));
  try {
    if (r.pictures.empty()) {
      if (r.sound.size() < size_t(r.soundRate) / 10 || r.soundRate <= 0) {
        reason = "Nothing was recorded.";
        return -1;
      }
      return MakeSpeechOnly(r, bytes, maxBytes) ? int32_t(r.made.executable.size()) : -1;
    }
    authoring::MessageSettings settings;
    settings.speech = r.soundRate > 0 && !r.sound.empty();
    settings.maxBytes = maxBytes;
    if (maxBytes == 0) settings.quantiser = quantiser;
    settings.playerTemplate = std::move(bytes);
    authoring::MessagePipeline pipeline(std::move(settings));
    pipeline.SetProgress([](authoring::Stage stage, double fraction) { ReportMakeProgress(int(stage), fraction); });
    const size_t count = r.pictures.size();
    for (size_t i = 0; i < count; ++i) {
      if (!pipeline.AddPicture(r.pictures[i].seconds, QcifSource(r.pictures[i].picture))) {
        reason = "A recorded picture could not be taken.";
        return -1;
      }
      if (i % 30 == 29) ReportMakeProgress(int(authoring::Stage::kReading), double(i) / count);
    }
    if (r.soundRate > 0 && !r.sound.empty() && !pipeline.AddSound(r.sound, 1, r.soundRate)) {
      reason = "The recorded sound could not be taken.";
      return -1;
    }
    if (!pipeline.Finish(r.made, reason)) return -1;
  } catch (const std::bad_alloc&) {
    reason = "There is not enough memory to make the message.";
    r.made = {};
    return -1;
  }
  return static_cast<int32_t>(r.made.executable.size());
}

// What was made.
CLIPNOTE_WEB_EXPORT const uint8_t* cn_rec_exe() { return Current().made.executable.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_exe_size() { return int32_t(Current().made.executable.size()); }
CLIPNOTE_WEB_EXPORT const uint8_t* cn_rec_video() { return Current().made.movie.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_video_size() { return int32_t(Current().made.movie.size()); }
CLIPNOTE_WEB_EXPORT const uint8_t* cn_rec_voice() { return Current().made.voice.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_voice_size() { return int32_t(Current().made.voice.size()); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_pictures() { return int32_t(Current().made.ticks.size()); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_quantiser() { return Current().made.quantiser; }
CLIPNOTE_WEB_EXPORT double cn_rec_message_seconds() { return Current().made.seconds; }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_speech_rate53() {
  return Current().made.rate == authoring::SpeechRate::k53 ? 1 : 0;
}
CLIPNOTE_WEB_EXPORT int32_t cn_rec_speech_frames() { return Current().made.speechFrames; }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_silent_frames() {
  return Current().made.speechFrames - Current().made.activeFrames;
}

}  // extern "C"
