// One message from a recording: pictures of any size with their times and sound of any
// rate and channel count in; the two clips (and, given a player template, the message
// executable) out.
//
//   MessagePipeline pipeline(settings);
//   for each picture: pipeline.AddPicture(seconds, picture);
//   for each block of sound: pipeline.AddSound(samples, channels, rate);
//   AuthoredMessage message;
//   if (!pipeline.Finish(message, reason)) refuse(reason);
//
// Pictures are streamed: each is letterboxed to QCIF as it arrives, its motion measured on
// a small grey copy, and the picture schedule (gaps of 2, 3, 4 or 8 ticks) decided a few
// ticks behind the newest picture; only the pictures not yet decided on are held, and the
// scheduled ones go straight into the video encoder. Under a size budget the scheduled
// pictures are kept instead, since the quantiser and the spacing are then chosen by trial
// encodes. Sound is kept as one channel at its own rate until Finish brings it to 8 kHz,
// sets its level and encodes it.
//
// Finish decides the message's length (the longer of pictures and speech, the last picture
// where the speech ends), completes the schedule with the last picture held, encodes, then
// decodes both clips with the player's own decoders: a clip that does not decode whole is
// refused, never handed out.
//
// The video and speech encoders borrow the process-wide decoder records: one pipeline runs
// Finish at a time, and nothing else in the process decodes meanwhile. No platform calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "authoring/letterbox.h"

namespace clipnote::authoring {

// Longest message the player takes: it reserves 480 bytes of sound per coded byte, and past
// a few minutes that reservation grows beyond what a 32-bit player can be sure to get.
inline constexpr double kMaxMessageSeconds = 300.0;
inline constexpr int kDefaultQuantiser = 8;

enum class SpeechRate { k63, k53 };

struct MessageSettings {
  int quantiser = kDefaultQuantiser;   // 2..31 (ignored with maxBytes)
  SpeechRate rate = SpeechRate::k63;   // with maxBytes: the rate tried first
  bool levelSpeech = true;             // bring the speech peak to -3 dBFS
  bool speech = true;                  // false: a message without sound ("Video only")
  // Above 0: the whole message executable (needs playerTemplate) must be at most this many
  // bytes; quantiser, spacing and, when 6.3 kbit/s cannot fit, the 5.3 kbit/s rate are chosen.
  int64_t maxBytes = 0;
  // The player executable the message goes into; empty: clips only.
  std::vector<uint8_t> playerTemplate;
  // Runs a task beside Finish's own work and returns the wait for its end. Without a budget,
  // Finish makes the speech clip (resampling, levelling, encoding, its check) that way while
  // it checks the video clip. Empty: everything in turn on the caller's thread (as in the
  // browser, which has no threads). The task reports no progress.
  std::function<std::function<void()>(std::function<void()>)> runBeside;
};

// Where Finish is; fraction runs 0..1 within each stage.
enum class Stage { kReading, kSpeech, kVideo, kFitting, kChecking, kWriting };
const char* StageName(Stage stage);

struct AuthoredMessage {
  std::vector<uint8_t> movie;       // the H.263 clip (MOVIE)
  std::vector<uint8_t> voice;       // the VOICE clip: PCM-capacity prefix, then the frames
  std::vector<uint8_t> executable;  // with a player template: the whole message
  std::vector<int> ticks;           // each picture's tick
  int quantiser = 0;                // the video's quantiser
  SpeechRate rate = SpeechRate::k63;
  int speechFrames = 0;             // 30 ms frames in the VOICE clip
  int activeFrames = 0;             // of those, sent as speech (the rest is silence)
  double seconds = 0;               // the message's length
};

class MessagePipeline {
 public:
  explicit MessagePipeline(MessageSettings settings);
  ~MessagePipeline();
  MessagePipeline(const MessagePipeline&) = delete;
  MessagePipeline& operator=(const MessagePipeline&) = delete;

  // One picture shown from `seconds` on (4:2:0 of any size). False, with nothing taken, for
  // a picture whose planes are too small for its size. Pictures come in time order; one at
  // or before the latest tick replaces that tick's picture.
  bool AddPicture(double seconds, const SourcePicture& picture);
  // Interleaved 16-bit samples; every call gives the same channel count and rate. False for
  // a call whose channels or rate differ from the first call's, or are not positive.
  bool AddSound(std::span<const int16_t> interleaved, int channels, int rate);

  // Seconds of pictures and of sound taken so far (for limits and progress).
  double PictureSeconds() const;
  double SoundSeconds() const;

  // Called now and then from Finish; the pipeline checks `cancel` between steps.
  void SetProgress(std::function<void(Stage, double)> progress) { progress_ = std::move(progress); }
  void SetCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  // Makes the message. False, with the reason, for no pictures, a message longer than
  // kMaxMessageSeconds, a budget nothing fits (the reason says how many bytes the smallest
  // message would take), an encoder failure, a clip our decoders refuse, or a cancel.
  bool Finish(AuthoredMessage& out, std::string& reason);

  struct State;

 private:
  std::unique_ptr<State> state_;
  std::function<void(Stage, double)> progress_;
  const std::atomic<bool>* cancel_ = nullptr;
};

// What the player makes of a pair of clips, by decoding them as it does: true when every
// picture decodes with the ticks given and the speech decodes to all its frames.
bool CheckClips(std::span<const uint8_t> movie, std::span<const int> ticks, std::span<const uint8_t> voice,
                std::string& reason);

// The VOICE clip around coded frames: a PCM-capacity prefix of 480 bytes per coded byte plus
// one frame (every byte could become a frame), then the frames.
std::vector<uint8_t> VoiceClipOf(std::span<const uint8_t> frames);

// The ticks of a coarser spacing made from `ticks` by leaving pictures out: each gap at
// least minGap where the allowed gaps (2, 3, 4, 8) make that possible. Same first and last.
std::vector<int> CoarserSchedule(std::span<const int> ticks, int minGap);

}  // namespace clipnote::authoring
