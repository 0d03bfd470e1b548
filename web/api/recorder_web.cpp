// The recorder's entry points: pictures (RGBA of any size, with their times) and sound (16-bit
// mono at the capture's rate) go in while recording; after Stop the message is made in short
// steps, so the worker that calls them can report progress between steps. The decisions
// (letterbox, tick grid, picture schedule, 8 kHz speech, the size budget) are the authoring
// library's and the encoders'; the page only feeds and collects.
//
// One recording lives here at a time. The encoders reconstruct through the decoders'
// process-wide state, so this module (the worker's) plays nothing while it makes a message.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "audio/encoder/speech_encoder.h"
#include "authoring/letterbox.h"
#include "authoring/picture_schedule.h"
#include "authoring/speech_pcm.h"
#include "message/resource_writer.h"
#include "video/encoder/video_encoder.h"

#include "web/api/web_export.h"

namespace {

using namespace clipnote;

// The longest message the authoring tools make, in seconds.
constexpr double kLongestSeconds = 300;
// The quantiser of a message without a size budget (the authoring default).
constexpr int kBestQuantiser = 8;
// Budget passes before the recorder gives up and says how much the message needs.
constexpr int kMostPasses = 5;
// Work done per step: about 50 ms on a slow machine.
constexpr int kPicturesPerStep = 8;
constexpr int kSpeechFramesPerStep = 60;

enum class Stage { Idle, Speech, Video, Done, Failed };

struct Recording {
  authoring::TickGrid grid;
  std::vector<std::vector<uint8_t>> analysis;  // the grid's analysis copies, for the schedule
  std::vector<int16_t> sound;
  int soundRate = 0;
  std::vector<uint8_t> rgba;
  std::vector<int16_t> soundBuffer;
  bool pastLimit = false;

  // Making the message.
  int64_t budget = 0;  // bytes the executable may take, 0 for none
  std::vector<uint8_t> playerTemplate;
  std::vector<int> ticks;
  std::vector<std::vector<int16_t>> frames;  // speech frames at 8 kHz
  Stage stage = Stage::Idle;
  int pass = 0;
  size_t next = 0;
  speech::Rate rate = speech::Rate::Rate63;
  int32_t bitsPerSecond = 0;
  std::vector<uint8_t> coded;  // speech frames of this pass
  std::vector<uint8_t> video;
  std::vector<uint8_t> voice;
  std::vector<uint8_t> exe;
  int64_t needed = 0;  // the smallest executable a pass made
  uint32_t sidFrames = 0, untransmittedFrames = 0;
  std::vector<uint8_t> planar = std::vector<uint8_t>(authoring::kQcifWidth * authoring::kQcifHeight * 3 / 2);
};

Recording* recording = nullptr;
std::string reason;
int32_t geometry[4];

Recording& Current() {
  if (recording == nullptr) recording = new Recording;
  return *recording;
}

speech::SpeechEncoder& SpeechCoder() {
  static speech::SpeechEncoder* encoder = new speech::SpeechEncoder;
  return *encoder;
}
h263::VideoEncoder& VideoCoder() {
  static h263::VideoEncoder* encoder = new h263::VideoEncoder;
  return *encoder;
}

// RGBA rows top-down to 4:2:0 planes, studio range (the coded pictures' range).
void RgbaToPlanes(const uint8_t* rgba, int width, int height, std::vector<uint8_t>& y, std::vector<uint8_t>& cb,
                  std::vector<uint8_t>& cr) {
  const int chromaWidth = (width + 1) / 2;
  const int chromaHeight = (height + 1) / 2;
  y.resize(size_t(width) * height);
  cb.assign(size_t(chromaWidth) * chromaHeight, 0);
  cr.assign(size_t(chromaWidth) * chromaHeight, 0);
  std::vector<int> sumB(cb.size()), sumR(cr.size()), count(cb.size());
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = rgba + (size_t(row) * width + x) * 4;
      const int r = p[0], g = p[1], b = p[2];
      y[size_t(row) * width + x] = static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
      const size_t c = size_t(row / 2) * chromaWidth + x / 2;
      sumB[c] += (-38 * r - 74 * g + 112 * b);
      sumR[c] += (112 * r - 94 * g - 18 * b);
      ++count[c];
    }
  }
  for (size_t c = 0; c < cb.size(); ++c) {
    const int n = count[c] * 256;
    cb[c] = static_cast<uint8_t>(std::clamp(128 + static_cast<int>(std::lround(double(sumB[c]) / n)), 0, 255));
    cr[c] = static_cast<uint8_t>(std::clamp(128 + static_cast<int>(std::lround(double(sumR[c]) / n)), 0, 255));
  }
}

double RecordedSeconds(const Recording& r) {
  const double pictures = r.grid.Frames().empty() ? 0 : double(r.grid.Frames().size()) / authoring::kTicksPerSecond;
  const double sound = r.soundRate > 0 ? double(r.sound.size()) / r.soundRate : 0;
  return std::max(pictures, sound);
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool Fail(Recording& r, std::string why) {
  reason = std::move(why);
  r.stage = Stage::Failed;
  return false;
}

// The executable of this pass's clips; false (with the reason) when the writer refuses.
bool WriteExecutable(Recording& r, const std::vector<uint8_t>& video, const std::vector<uint8_t>& voice,
                     std::vector<uint8_t>& out) {
  message::MessageResources resources{video, voice.empty() ? message::kNoSpeechVoiceClip : voice, {}, {}};
  std::string why;
  std::optional<std::vector<uint8_t>> exe = message::WriteMessage(
      message::Bytes(r.playerTemplate.data(), r.playerTemplate.size()), resources, why);
  if (!exe) return Fail(r, "The message could not be written: " + why);
  out = std::move(*exe);
  return true;
}

void StartSpeechPass(Recording& r) {
  r.stage = Stage::Speech;
  r.next = 0;
  r.coded.clear();
  speech::SpeechEncoderOptions options;
  options.rate = r.rate;
  SpeechCoder().Reset(options);
}

bool StartVideoPass(Recording& r) {
  r.stage = Stage::Video;
  r.next = 0;
  r.video.clear();
  h263::VideoEncoderSettings settings;
  settings.quantiser = kBestQuantiser;
  settings.bitsPerSecond = r.bitsPerSecond;
  if (VideoCoder().Start(settings) != h263::kEncoderOk) return Fail(r, "The video encoder refused its settings.");
  return true;
}

// The bits a second the pictures may take so that the executable fits the budget, from the
// size of the executable without pictures.
bool PlanVideoBits(Recording& r) {
  std::vector<uint8_t> withoutPictures;
  if (!WriteExecutable(r, {}, r.voice, withoutPictures)) return false;
  const double seconds = std::max(1.0, double(r.grid.Frames().size()) / authoring::kTicksPerSecond);
  const double room = double(r.budget) - double(withoutPictures.size());
  // Below about 8 kbit/s the pictures are no longer worth looking at: try the slower speech.
  if (room * 8 / seconds < 8000 && r.rate == speech::Rate::Rate63 && !r.voice.empty()) {
    r.rate = speech::Rate::Rate53;
    StartSpeechPass(r);
    return true;
  }
  if (room <= 0) {
    r.needed = std::max<int64_t>(r.needed, int64_t(withoutPictures.size()));
    return Fail(r, "The sound alone needs " + std::to_string(withoutPictures.size()) + " bytes.");
  }
  // The encoder's rate control overshoots a little at the start: aim under the room.
  r.bitsPerSecond = static_cast<int32_t>(std::max(2000.0, room * 8 / seconds * 0.92));
  return StartVideoPass(r);
}

bool CheckBudget(Recording& r);

bool FinishSpeech(Recording& r) {
  r.voice.clear();
  if (!r.frames.empty()) {
    const uint64_t capacity = uint64_t{480} * (r.coded.size() + 1);
    PutLe32(r.voice, static_cast<uint32_t>(capacity));
    r.voice.insert(r.voice.end(), r.coded.begin(), r.coded.end());
    r.sidFrames = SpeechCoder().Counts().sid;
    r.untransmittedFrames = SpeechCoder().Counts().untransmitted;
  }
  if (r.ticks.empty()) {
    // Speech only: the executable is done.
    if (!WriteExecutable(r, {}, r.voice, r.exe)) return false;
    r.video.clear();
    return CheckBudget(r);
  }
  if (r.budget > 0) return PlanVideoBits(r);
  r.bitsPerSecond = 0;
  return StartVideoPass(r);
}

bool FinishVideo(Recording& r) {
  if (!WriteExecutable(r, r.video, r.voice, r.exe)) return false;
  return CheckBudget(r);
}

bool CheckBudget(Recording& r) {
  const int64_t size = int64_t(r.exe.size());
  if (r.budget <= 0 || size <= r.budget) {
    r.stage = Stage::Done;
    return true;
  }
  r.needed = r.needed == 0 ? size : std::min(r.needed, size);
  if (++r.pass >= kMostPasses || r.ticks.empty()) {
    return Fail(r, "The message does not fit: it needs about " + std::to_string(r.needed) + " bytes. Choose a " +
                       "larger size, or record a shorter message.");
  }
  // Shrink the picture bits by what the last pass overshot.
  const double over = double(size) / double(r.budget);
  r.bitsPerSecond = static_cast<int32_t>(r.bitsPerSecond / over * 0.9);
  if (r.bitsPerSecond < 6000 && r.rate == speech::Rate::Rate63 && !r.voice.empty()) {
    r.rate = speech::Rate::Rate53;
    StartSpeechPass(r);
    return true;
  }
  return StartVideoPass(r);
}

}  // namespace

extern "C" {

// Forgets the recording; the sound that follows comes at soundRate Hz (0: no sound).
CLIPNOTE_WEB_EXPORT void cn_rec_reset(int32_t soundRate) {
  delete recording;
  recording = new (std::nothrow) Recording;
  if (recording) recording->soundRate = soundRate;
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
  if (seconds >= kLongestSeconds) {
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
  authoring::QcifPicture picture;
  if (!authoring::Letterbox(source, picture)) return -1;
  r.grid.Add(seconds, std::move(picture));
  return 0;
}

// Room for `count` samples of sound.
CLIPNOTE_WEB_EXPORT int16_t* cn_rec_sound_buffer(int32_t count) {
  if (count <= 0) return nullptr;
  Recording& r = Current();
  r.soundBuffer.resize(size_t(count));
  return r.soundBuffer.data();
}

// Adds `count` samples from the buffer. Returns 0, or 1 when the sound has reached the
// length limit (what is past it is not kept).
CLIPNOTE_WEB_EXPORT int32_t cn_rec_add_sound(int32_t count) {
  Recording& r = Current();
  if (r.soundRate <= 0 || count <= 0 || size_t(count) > r.soundBuffer.size()) return -1;
  const size_t limit = static_cast<size_t>(kLongestSeconds * r.soundRate);
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
CLIPNOTE_WEB_EXPORT double cn_rec_longest_seconds() { return kLongestSeconds; }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_past_limit() { return Current().pastLimit ? 1 : 0; }

// Starts making the message from what was recorded: the executable at most `budget` bytes
// (0: no budget) on the player template given. Returns the work's size in steps' units, or -1
// with the reason (nothing recorded, too short).
CLIPNOTE_WEB_EXPORT int32_t cn_rec_make(const uint8_t* playerTemplate, int32_t templateSize, double budget) {
  Recording& r = Current();
  reason.clear();
  r.playerTemplate.assign(playerTemplate, playerTemplate + std::max(templateSize, 0));
  r.budget = budget > 0 ? static_cast<int64_t>(budget) : 0;
  r.pass = 0;
  r.needed = 0;
  r.rate = speech::Rate::Rate63;
  r.exe.clear();
  r.ticks.clear();
  r.frames.clear();
  const std::vector<authoring::QcifPicture>& pictures = r.grid.Frames();
  if (!pictures.empty()) {
    // A held last picture: the grid's last tick is the message's last.
    std::vector<std::vector<uint8_t>> analysis;
    analysis.reserve(pictures.size());
    for (const authoring::QcifPicture& p : pictures) analysis.push_back(authoring::AnalysisFrame(p.y));
    const std::vector<double> speeds = authoring::FrameSpeeds(analysis);
    const int lastTick = std::max(int(pictures.size()) - 1,
                                  r.soundRate > 0 ? authoring::TickOf(double(r.sound.size()) / r.soundRate) : 0);
    r.ticks = authoring::Schedule(speeds, lastTick);
    if (r.ticks.empty()) {
      r.stage = Stage::Failed;
      reason = "The recording is too short: a message needs at least a tenth of a second.";
      return -1;
    }
  }
  if (r.soundRate > 0 && !r.sound.empty()) {
    std::vector<int16_t> speech = authoring::ToSpeechRate(r.sound, 1, r.soundRate);
    authoring::NormalisePeak(speech);
    r.frames = authoring::SpeechFrames(speech);
  }
  if (r.ticks.empty() && r.frames.size() < 4) {
    r.stage = Stage::Failed;
    reason = "Nothing was recorded.";
    return -1;
  }
  if (r.frames.empty()) {
    r.voice.clear();
    if (r.budget > 0) {
      if (!PlanVideoBits(r)) return -1;
    } else if (!StartVideoPass(r)) {
      return -1;
    }
  } else {
    StartSpeechPass(r);
  }
  return static_cast<int32_t>(r.frames.size() / kSpeechFramesPerStep + r.ticks.size() / kPicturesPerStep + 2);
}

// Does one step of the work. Returns 1 while there is more, 0 when the message is made, -1
// with the reason when it cannot be.
CLIPNOTE_WEB_EXPORT int32_t cn_rec_step() {
  Recording& r = Current();
  try {
    if (r.stage == Stage::Speech) {
      const size_t end = std::min(r.frames.size(), r.next + kSpeechFramesPerStep);
      for (; r.next < end; ++r.next) {
        uint8_t frame[speech::kMaxCodedFrameBytes];
        const int16_t* next = r.next + 1 < r.frames.size() ? r.frames[r.next + 1].data() : nullptr;
        const int length = SpeechCoder().EncodeFrame(r.frames[r.next].data(), next, frame);
        r.coded.insert(r.coded.end(), frame, frame + length);
      }
      if (r.next == r.frames.size() && !FinishSpeech(r)) return -1;
    } else if (r.stage == Stage::Video) {
      const std::vector<authoring::QcifPicture>& pictures = r.grid.Frames();
      const size_t end = std::min(r.ticks.size(), r.next + kPicturesPerStep);
      for (; r.next < end; ++r.next) {
        const int tick = r.ticks[r.next];
        const authoring::QcifPicture& p = pictures[std::min<size_t>(size_t(tick), pictures.size() - 1)];
        std::copy(p.y.begin(), p.y.end(), r.planar.begin());
        std::copy(p.cb.begin(), p.cb.end(), r.planar.begin() + p.y.size());
        std::copy(p.cr.begin(), p.cr.end(), r.planar.begin() + p.y.size() + p.cb.size());
        const int32_t code = VideoCoder().EncodePicture(r.planar.data(), r.planar.size(), tick);
        if (code != h263::kEncoderOk) {
          Fail(r, "The video encoder failed (code " + std::to_string(code) + ").");
          return -1;
        }
        const uint8_t* bytes = VideoCoder().PictureData();
        r.video.insert(r.video.end(), bytes, bytes + VideoCoder().PictureBytes());
      }
      if (r.next == r.ticks.size() && !FinishVideo(r)) return -1;
    }
  } catch (const std::bad_alloc&) {
    Fail(r, "There is not enough memory to make the message.");
    return -1;
  }
  if (r.stage == Stage::Failed) return -1;
  return r.stage == Stage::Done ? 0 : 1;
}

// Which pass the work is in (0 first; each further pass re-encodes to fit the budget).
CLIPNOTE_WEB_EXPORT int32_t cn_rec_pass() { return Current().pass; }
// Steps' units done in this pass.
CLIPNOTE_WEB_EXPORT int32_t cn_rec_done() {
  const Recording& r = Current();
  if (r.stage == Stage::Speech) return int32_t(r.next / kSpeechFramesPerStep);
  if (r.stage == Stage::Video) return int32_t(r.frames.size() / kSpeechFramesPerStep + r.next / kPicturesPerStep);
  return int32_t(r.frames.size() / kSpeechFramesPerStep + r.ticks.size() / kPicturesPerStep + 2);
}

// What was made.
CLIPNOTE_WEB_EXPORT const uint8_t* cn_rec_exe() { return Current().exe.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_exe_size() { return int32_t(Current().exe.size()); }
CLIPNOTE_WEB_EXPORT const uint8_t* cn_rec_video() { return Current().video.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_video_size() { return int32_t(Current().video.size()); }
CLIPNOTE_WEB_EXPORT const uint8_t* cn_rec_voice() { return Current().voice.data(); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_voice_size() { return int32_t(Current().voice.size()); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_pictures() { return int32_t(Current().ticks.size()); }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_speech_rate53() { return Current().rate == speech::Rate::Rate53 ? 1 : 0; }
CLIPNOTE_WEB_EXPORT int32_t cn_rec_silent_frames() {
  return int32_t(Current().sidFrames + Current().untransmittedFrames);
}
CLIPNOTE_WEB_EXPORT int32_t cn_rec_speech_frames() { return int32_t(Current().frames.size()); }

}  // extern "C"
