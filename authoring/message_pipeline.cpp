#include "authoring/message_pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>

#include "audio/audio_decoder.h"
#include "audio/encoder/speech_encoder.h"
#include "audio/frame_unpacker.h"
#include "audio/voice_clip.h"
#include "authoring/picture_schedule.h"
#include "authoring/speech_pcm.h"
#include "message/resource_writer.h"
#include "video/encoder/video_encoder.h"
#include "video/parser/video_decoder.h"
#include "video/recon/decoder_buffers.h"
#include "video/recon/picture_decoder.h"

namespace clipnote::authoring {

namespace {

constexpr size_t kPictureBytes = size_t{kQcifWidth} * kQcifHeight * 3 / 2;
constexpr uint32_t kPcmBytesPerFrame = 480;
// A GOB header once a picture has grown past this many bytes since the last one, so a
// damaged byte costs part of a picture rather than the rest of it.
constexpr int kGobPayloadBytes = 600;
// Under a budget, a spacing is worth its pictures while the quantiser stays this fine.
constexpr int kGoodQuantiser = 12;
constexpr int kFinestQuantiser = 2;
constexpr int kCoarsestQuantiser = 31;

using Picture = std::shared_ptr<const QcifPicture>;

std::vector<uint8_t> Planar(const QcifPicture& p) {
  std::vector<uint8_t> out;
  out.reserve(kPictureBytes);
  out.insert(out.end(), p.y.begin(), p.y.end());
  out.insert(out.end(), p.cb.begin(), p.cb.end());
  out.insert(out.end(), p.cr.begin(), p.cr.end());
  return out;
}

h263::VideoEncoderSettings EncoderSettings(int quantiser) {
  h263::VideoEncoderSettings s;
  s.quantiser = quantiser;
  s.gobPayloadBytes = kGobPayloadBytes;
  return s;
}

std::string EncoderFailure(int32_t code) {
  switch (code) {
    case h263::kEncoderBadSettings: return "the video encoder refused its settings";
    case h263::kEncoderSelfCheck: return "the video encoder wrote a picture our decoder refuses";
    default: return "the video encoder failed (code " + std::to_string(code) + ")";
  }
}

}  // namespace

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::kReading: return "reading";
    case Stage::kSpeech: return "coding the speech";
    case Stage::kVideo: return "coding the pictures";
    case Stage::kFitting: return "fitting the size";
    case Stage::kChecking: return "checking";
    case Stage::kWriting: return "writing";
  }
  return "";
}

struct MessagePipeline::State {
  MessageSettings settings;

  // Pictures: the newest tick's picture is pending (a later one on the same tick replaces
  // it); completed ticks have their speed and, until the schedule passes them, their picture.
  Picture pending;
  int pendingTick = -1;
  int completeTick = -1;
  Picture lastComplete;
  std::vector<uint8_t> lastAnalysis;
  std::vector<double> speeds;               // per completed tick
  std::deque<std::pair<int, Picture>> window;  // completed ticks after the last scheduled one

  std::vector<int> ticks;                   // scheduled so far
  // Without a budget the scheduled pictures are coded as they are decided.
  std::unique_ptr<h263::VideoEncoder> encoder;
  std::vector<uint8_t> movie;
  int32_t encoderError = h263::kEncoderOk;
  // With a budget they are kept for the trial encodes.
  std::vector<Picture> scheduled;

  // Sound at its own rate, one channel.
  std::vector<int16_t> mono;
  int channels = 0;
  int rate = 0;

  bool Streaming() const { return settings.maxBytes <= 0; }

  void Send(int tick, const Picture& picture) {
    ticks.push_back(tick);
    if (!Streaming()) {
      scheduled.push_back(picture);
      return;
    }
    if (encoderError != h263::kEncoderOk) return;
    if (!encoder) {
      encoder = std::make_unique<h263::VideoEncoder>();
      encoderError = encoder->Start(EncoderSettings(settings.quantiser));
      if (encoderError != h263::kEncoderOk) return;
    }
    const std::vector<uint8_t> planar = Planar(*picture);
    encoderError = encoder->EncodePicture(planar.data(), planar.size(), tick);
    if (encoderError == h263::kEncoderOk) {
      movie.insert(movie.end(), encoder->PictureData(), encoder->PictureData() + encoder->PictureBytes());
    }
  }

  // The picture shown at `tick`: from the window, else the last one held.
  Picture At(int tick) const {
    for (const auto& [t, p] : window) {
      if (t == tick) return p;
    }
    return lastComplete;
  }

  void Decide(int lastTick) {
    const int tick = ticks.back();
    const int next = tick + NextGap(speeds, tick, lastTick);
    Send(next, At(next));
    while (!window.empty() && window.front().first <= next) window.pop_front();
  }

  // `decide`: schedule what can be decided now. The newest picture's tick is completed only
  // by Finish, which knows where the message ends and decides the rest itself.
  void Complete(int tick, const Picture& picture, bool decide = true) {
    if (tick == 0) {
      lastAnalysis = AnalysisFrame(picture->y);
      speeds.push_back(0.0);
    } else if (picture == lastComplete) {
      speeds.push_back(0.0);
    } else {
      std::vector<uint8_t> analysis = AnalysisFrame(picture->y);
      speeds.push_back(FrameSpeed(lastAnalysis, analysis));
      lastAnalysis = std::move(analysis);
    }
    completeTick = tick;
    lastComplete = picture;
    if (tick == 0) {
      Send(0, picture);
    } else {
      window.emplace_back(tick, picture);
    }
    // The message ends no earlier than a tick after the newest (pending) picture, two after
    // the last completed one, so a gap decided 8 ticks behind it never comes within 9 ticks
    // of the end: it is the one the whole schedule would choose.
    while (decide && ticks.back() + 8 <= completeTick) Decide(std::numeric_limits<int>::max() / 2);
  }
};

MessagePipeline::MessagePipeline(MessageSettings settings) : state_(std::make_unique<State>()) {
  state_->settings = std::move(settings);
}

MessagePipeline::~MessagePipeline() = default;

bool MessagePipeline::AddPicture(double seconds, const SourcePicture& source) {
  auto picture = std::make_shared<QcifPicture>();
  if (!Letterbox(source, *picture)) return false;
  State& s = *state_;
  const int tick = std::max(TickOf(seconds), s.pendingTick);
  if (tick > s.pendingTick && s.pending) {
    s.Complete(s.pendingTick, s.pending);
    // Ticks without a picture of their own hold the one before.
    for (int t = s.pendingTick + 1; t < tick; ++t) s.Complete(t, s.pending);
  } else if (s.pendingTick < 0) {
    // The first picture also stands for the ticks before it.
    for (int t = 0; t < tick; ++t) s.Complete(t, picture);
  }
  s.pending = std::move(picture);
  s.pendingTick = tick;
  return true;
}

bool MessagePipeline::AddSound(std::span<const int16_t> interleaved, int channels, int rate) {
  State& s = *state_;
  if (channels <= 0 || rate <= 0) return false;
  if (s.channels == 0) {
    s.channels = channels;
    s.rate = rate;
  } else if (channels != s.channels || rate != s.rate) {
    return false;
  }
  for (size_t at = 0; at + size_t(channels) <= interleaved.size(); at += size_t(channels)) {
    int sum = 0;
    for (int c = 0; c < channels; ++c) sum += interleaved[at + size_t(c)];
    s.mono.push_back(static_cast<int16_t>(sum / channels));
  }
  return true;
}

double MessagePipeline::PictureSeconds() const {
  return state_->pendingTick < 0 ? 0.0 : double(state_->pendingTick + 1) / kTicksPerSecond;
}

double MessagePipeline::SoundSeconds() const {
  return state_->rate == 0 ? 0.0 : double(state_->mono.size()) / state_->rate;
}

namespace {

struct SpeechClip {
  std::vector<uint8_t> voice;
  int active = 0;
};

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

bool EncodeSpeech(const std::vector<int16_t>& samples, int frames, SpeechRate rate,
                  const std::function<void(Stage, double)>& progress, const std::atomic<bool>* cancel,
                  SpeechClip& out) {
  speech::SpeechEncoderOptions options;
  options.rate = rate == SpeechRate::k63 ? speech::Rate::Rate63 : speech::Rate::Rate53;
  auto encoder = std::make_unique<speech::SpeechEncoder>(options);
  std::vector<int16_t> padded(samples.begin(), samples.begin() + std::min(samples.size(), size_t(frames) * 240));
  padded.resize(size_t(frames) * 240, 0);
  std::vector<uint8_t> coded;
  for (int f = 0; f < frames; ++f) {
    if (f % 256 == 0) {
      if (Cancelled(cancel)) return false;
      if (progress) progress(Stage::kSpeech, double(f) / frames);
    }
    uint8_t frame[speech::kMaxCodedFrameBytes];
    const int16_t* next = f + 1 < frames ? &padded[size_t(f + 1) * 240] : nullptr;
    const int length = encoder->EncodeFrame(&padded[size_t(f) * 240], next, frame);
    coded.insert(coded.end(), frame, frame + length);
  }
  out.voice = VoiceClipOf(coded);
  out.active = static_cast<int>(encoder->Counts().active);
  return true;
}

// One trial encode of the pictures at a quantiser; the clip's bytes, or nothing.
std::optional<std::vector<uint8_t>> EncodeClip(h263::VideoEncoder& encoder, const std::vector<Picture>& pictures,
                                               const std::vector<int>& ticks, int quantiser, int32_t& error) {
  error = encoder.Start(EncoderSettings(quantiser));
  if (error != h263::kEncoderOk) return std::nullopt;
  std::vector<uint8_t> clip;
  for (size_t i = 0; i < pictures.size(); ++i) {
    const std::vector<uint8_t> planar = Planar(*pictures[i]);
    error = encoder.EncodePicture(planar.data(), planar.size(), ticks[i]);
    if (error != h263::kEncoderOk) return std::nullopt;
    clip.insert(clip.end(), encoder.PictureData(), encoder.PictureData() + encoder.PictureBytes());
  }
  return clip;
}

}  // namespace

std::vector<uint8_t> VoiceClipOf(std::span<const uint8_t> frames) {
  const uint64_t capacity = uint64_t{kPcmBytesPerFrame} * (frames.size() + 1);
  const uint32_t prefix = static_cast<uint32_t>(std::min<uint64_t>(capacity, 0xFFFFFFFFu));
  std::vector<uint8_t> clip(4 + frames.size());
  for (int i = 0; i < 4; ++i) clip[size_t(i)] = static_cast<uint8_t>(prefix >> (8 * i));
  std::copy(frames.begin(), frames.end(), clip.begin() + 4);
  return clip;
}

std::vector<int> CoarserSchedule(std::span<const int> ticks, int minGap) {
  std::vector<int> out;
  if (ticks.empty()) return out;
  out.push_back(ticks[0]);
  size_t i = 0;
  while (i + 1 < ticks.size()) {
    // The nearest later picture at least minGap ticks on with an allowed gap; failing one,
    // the furthest allowed within 8 ticks (the next picture always is one).
    size_t furthest = i + 1;
    size_t chosen = 0;
    for (size_t j = i + 1; j < ticks.size() && ticks[j] - ticks[i] <= kPictureGaps[0]; ++j) {
      const int gap = ticks[j] - ticks[i];
      if (std::find(kPictureGaps.begin(), kPictureGaps.end(), gap) == kPictureGaps.end()) continue;
      furthest = j;
      if (gap >= minGap) {
        chosen = j;
        break;
      }
    }
    i = chosen != 0 ? chosen : furthest;
    out.push_back(ticks[i]);
  }
  return out;
}

namespace {

bool CheckMovie(std::span<const uint8_t> movie, std::span<const int> ticks, std::string& reason) {
  if (!movie.empty()) {
    h263::VideoDecoderBuffers buffers;
    h263::StartVideoClip(buffers, movie.data(), movie.size());
    if (h263::ProbePictureFormat() != 0) {
      reason = "our decoder does not read the video clip's first picture header";
      return false;
    }
    for (size_t i = 0; i < ticks.size(); ++i) {
      const int32_t result = h263::DecodePicture();
      if (result != 0 || h263::videoDecoder.mbError != 0) {
        reason = "picture " + std::to_string(i) + " of the video clip does not decode";
        return false;
      }
      if (h263::videoDecoder.temporalReference != (ticks[i] & 255) ||
          (i == 0 && h263::videoDecoder.pictureCodingType != 0)) {
        reason = "picture " + std::to_string(i) + " decodes at another time than planned";
        return false;
      }
    }
  }
  return true;
}

bool CheckVoice(std::span<const uint8_t> voice, std::string& reason) {
  speech::VoiceClip clip;
  if (speech::ParseVoiceClip(voice.data(), voice.size(), clip) != speech::VoiceClipError::None) {
    reason = "the VOICE clip cannot be read";
    return false;
  }
  uint32_t frames = 0;
  for (uint32_t at = 0; at < clip.codedByteCount; ++frames) {
    at += static_cast<uint32_t>(speech::CodedFrameLength(clip.coded[at]));
    if (at > clip.codedByteCount) {
      reason = "the VOICE clip ends inside a frame";
      return false;
    }
  }
  if (clip.codedByteCount == 0) return true;
  speech::AudioDecoder decoder;
  if (!decoder.Create()) {
    reason = "not enough memory for the speech decoder";
    return false;
  }
  decoder.Reset(speech::Rate::Rate53);  // as the player does
  std::vector<uint8_t> pcm(kPcmBytesPerFrame * 256);
  uint32_t offset = 0;
  uint64_t decoded = 0;
  while (offset < clip.codedByteCount) {
    const speech::VoiceDecodeResult r = speech::DecodeVoiceClip(decoder, clip.codedByteCount, clip.coded, pcm.data(),
                                                                static_cast<uint32_t>(pcm.size()), offset);
    if (r.pcmBytes == 0) break;
    decoded += r.pcmBytes;
  }
  decoder.Release();
  if (decoded != uint64_t{frames} * kPcmBytesPerFrame || decoded > clip.pcmCapacity) {
    reason = "the speech clip decodes to " + std::to_string(decoded / kPcmBytesPerFrame) + " of its " +
             std::to_string(frames) + " frames";
    return false;
  }
  return true;
}

}  // namespace

bool CheckClips(std::span<const uint8_t> movie, std::span<const int> ticks, std::span<const uint8_t> voice,
                std::string& reason) {
  return CheckMovie(movie, ticks, reason) && CheckVoice(voice, reason);
}

bool MessagePipeline::Finish(AuthoredMessage& out, std::string& reason) {
  State& s = *state_;
  const MessageSettings& settings = s.settings;
  if (!s.pending) {
    reason = "no pictures";
    return false;
  }
  if (settings.maxBytes > 0 && settings.playerTemplate.empty()) {
    reason = "a size budget needs the player template";
    return false;
  }
  s.Complete(s.pendingTick, s.pending, false);
  s.pending.reset();
  const int frameCount = s.completeTick + 1;

  if (settings.speech && s.mono.empty()) {
    reason = "no sound";
    return false;
  }
  const int64_t sampleCount = settings.speech ? SpeechSampleCount(int64_t(s.mono.size()), s.rate) : 0;
  const double seconds = std::max(double(frameCount) / kTicksPerSecond, double(sampleCount) / kSpeechRate);
  if (seconds > kMaxMessageSeconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    reason = std::string("the message would last ") + text + " s; the player takes messages of up to 300 s";
    return false;
  }
  int lastTick = 0;
  int speechFrames = 0;
  if (settings.speech) {
    speechFrames = std::max(1, static_cast<int>(std::ceil(seconds / 0.03 - 1e-6)));
    // The playback ends at the last picture: put it where the speech ends.
    lastTick = std::max(2, (speechFrames * 9 + 9) / 10);
  } else {
    lastTick = std::max(2, static_cast<int>(std::ceil(seconds * kTicksPerSecond - 1e-6)));
  }
  while (s.ticks.back() < lastTick) s.Decide(lastTick);  // gaps are chosen never to leave 1 tick
  s.window.clear();
  if (Cancelled(cancel_)) {
    reason = "interrupted";
    return false;
  }

  SpeechClip speech;
  SpeechRate rate = settings.rate;
  std::vector<int16_t> samples;
  // The speech clip at `rate`; false only when cancelled.
  const auto makeSpeech = [&](const std::function<void(Stage, double)>& progress) {
    if (!settings.speech) {
      speech.voice = message::kNoSpeechVoiceClip;
      return true;
    }
    if (samples.empty()) {
      samples = ToSpeechRate(s.mono, 1, s.rate);
      if (settings.levelSpeech) NormalisePeak(samples);
    }
    return EncodeSpeech(samples, speechFrames, rate, progress, cancel_, speech);
  };

  int quantiser = settings.quantiser;
  std::vector<int> ticks = s.ticks;
  if (s.Streaming()) {
    // The video clip is already coded: check it while the speech clip is made and checked.
    if (s.encoderError != h263::kEncoderOk) {
      reason = EncoderFailure(s.encoderError);
      return false;
    }
    bool speechMade = false;
    bool voiceOk = false;
    std::string voiceReason;
    const std::function<void()> speechWork = [&] {
      speechMade = makeSpeech(settings.runBeside ? nullptr : progress_);
      if (speechMade) voiceOk = CheckVoice(speech.voice, voiceReason);
    };
    if (progress_) progress_(Stage::kSpeech, 0.0);
    bool movieOk = false;
    if (settings.runBeside) {
      // Waits for the task however this scope is left: it works on this frame's locals.
      struct Joined {
        std::function<void()> wait;
        ~Joined() {
          if (wait) wait();
        }
      } beside{settings.runBeside(speechWork)};
      movieOk = CheckMovie(s.movie, ticks, reason);
    } else {
      speechWork();
      if (progress_) progress_(Stage::kChecking, 0.0);
      movieOk = CheckMovie(s.movie, ticks, reason);
    }
    if (!movieOk) return false;
    if (!speechMade) {
      reason = "interrupted";
      return false;
    }
    if (!voiceOk) {
      reason = voiceReason;
      return false;
    }
    if (progress_) progress_(Stage::kChecking, 1.0);
  } else {
    if (!makeSpeech(progress_)) {
      reason = "interrupted";
      return false;
    }
    // The executable's size for clips of these sizes (the writer aligns what it adds).
    std::string why;
    const auto executableBytes = [&](size_t movieBytes, size_t voiceBytes) -> int64_t {
      message::MessageResources sized{std::vector<uint8_t>(movieBytes), std::vector<uint8_t>(voiceBytes),
                                      std::nullopt, std::nullopt};
      const auto exe = message::WriteMessage(settings.playerTemplate, sized, why);
      return exe ? static_cast<int64_t>(exe->size()) : -1;
    };
    if (executableBytes(0, 4) < 0) {
      reason = "the player template cannot be written: " + why;
      return false;
    }
    h263::VideoEncoder encoder;
    struct Choice {
      std::vector<int> ticks;
      std::vector<Picture> pictures;
      int quantiser = 0;
      int64_t coarsest = 0;  // bytes of the clip at the coarsest quantiser
    };
    // The spacings tried: the motion's own, then fewer pictures.
    std::vector<Choice> spacings;
    for (int minGap : {2, 4, 8}) {
      Choice c;
      c.ticks = minGap == 2 ? s.ticks : CoarserSchedule(s.ticks, minGap);
      if (!spacings.empty() && c.ticks == spacings.back().ticks) continue;
      for (int t : c.ticks) {
        const size_t at = size_t(std::lower_bound(s.ticks.begin(), s.ticks.end(), t) - s.ticks.begin());
        c.pictures.push_back(s.scheduled[at]);
      }
      spacings.push_back(std::move(c));
    }
    int trials = 0;
    const int most = int(spacings.size()) * 2 * 6;
    auto report = [&] {
      if (progress_) progress_(Stage::kFitting, std::min(1.0, double(++trials) / most));
    };
    int32_t error = h263::kEncoderOk;
    // The finest quantiser of a spacing whose executable fits, 0 for none, -1 on a failure.
    auto finest = [&](Choice& c, size_t voiceBytes) -> int {
      const auto fits = [&](size_t movieBytes) {
        const int64_t bytes = executableBytes(movieBytes, voiceBytes);
        return bytes >= 0 && bytes <= settings.maxBytes;
      };
      if (c.coarsest == 0) {
        const auto clip = EncodeClip(encoder, c.pictures, c.ticks, kCoarsestQuantiser, error);
        report();
        if (!clip) return -1;
        c.coarsest = static_cast<int64_t>(clip->size());
      }
      if (!fits(size_t(c.coarsest))) return 0;
      int lo = kFinestQuantiser, hi = kCoarsestQuantiser;
      while (lo < hi) {
        if (Cancelled(cancel_)) return -1;
        const int mid = (lo + hi) / 2;
        const auto clip = EncodeClip(encoder, c.pictures, c.ticks, mid, error);
        report();
        if (!clip) return -1;
        if (fits(clip->size())) {
          hi = mid;
        } else {
          lo = mid + 1;
        }
      }
      return hi;
    };
    const Choice* chosen = nullptr;
    for (SpeechRate tryRate : {settings.rate, SpeechRate::k53}) {
      if (tryRate != rate) {
        if (!settings.speech) break;
        rate = tryRate;
        if (!makeSpeech(progress_)) {
          reason = "interrupted";
          return false;
        }
      }
      int bestQuantiser = 0;
      for (Choice& c : spacings) {
        const int q = finest(c, speech.voice.size());
        if (q < 0) {
          reason = Cancelled(cancel_) ? "interrupted" : EncoderFailure(error);
          return false;
        }
        if (q == 0) continue;
        c.quantiser = q;
        if (bestQuantiser == 0 || q < bestQuantiser) {
          bestQuantiser = q;
          chosen = &c;
        }
        if (q <= kGoodQuantiser) break;
      }
      if (chosen != nullptr || tryRate == SpeechRate::k53) break;
    }
    if (chosen == nullptr) {
      // The smallest message: the coarsest quantiser at the spacing that gives the fewest bytes.
      int64_t smallest = spacings.front().coarsest;
      for (const Choice& c : spacings) smallest = std::min(smallest, c.coarsest);
      const int64_t need = executableBytes(size_t(smallest), speech.voice.size());
      reason = "the message does not fit in " + std::to_string(settings.maxBytes) + " bytes: it needs at least " +
               std::to_string(need) + " (the coarsest pictures and 5.3 kbit/s speech)";
      return false;
    }
    const auto clip = EncodeClip(encoder, chosen->pictures, chosen->ticks, chosen->quantiser, error);
    if (!clip) {
      reason = EncoderFailure(error);
      return false;
    }
    s.movie = *clip;
    ticks = chosen->ticks;
    quantiser = chosen->quantiser;
    s.scheduled.clear();
    if (progress_) progress_(Stage::kVideo, 1.0);
    if (progress_) progress_(Stage::kChecking, 0.0);
    if (!CheckClips(s.movie, ticks, speech.voice, reason)) return false;
  }

  out = AuthoredMessage{};
  if (!settings.playerTemplate.empty()) {
    if (progress_) progress_(Stage::kWriting, 0.0);
    message::MessageResources resources{s.movie, speech.voice, std::nullopt, std::nullopt};
    std::string why;
    auto exe = message::WriteMessage(settings.playerTemplate, resources, why);
    if (!exe) {
      reason = "the message executable cannot be written: " + why;
      return false;
    }
    if (settings.maxBytes > 0 && static_cast<int64_t>(exe->size()) > settings.maxBytes) {
      reason = "the message takes " + std::to_string(exe->size()) + " bytes, more than the " +
               std::to_string(settings.maxBytes) + " asked for";
      return false;
    }
    out.executable = std::move(*exe);
  }
  out.movie = std::move(s.movie);
  out.voice = std::move(speech.voice);
  out.ticks = std::move(ticks);
  out.quantiser = quantiser;
  out.rate = rate;
  out.speechFrames = speechFrames;
  out.activeFrames = speech.active;
  out.seconds = out.ticks.back() / double(kTicksPerSecond);
  return true;
}

}  // namespace clipnote::authoring
