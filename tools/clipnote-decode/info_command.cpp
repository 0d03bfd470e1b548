// clipnote-decode info FILE [--json] [--voice|--raw]
//
// What a person wants to know about a message or a clip: the kind of file, the
// pictures (size, count, duration, spacing in ticks, quantisers, GOB headers), the
// speech (frames by kind, duration, the PCM-capacity prefix) and whether the two
// tracks last about as long. --json prints the same as one JSON object. Exit codes:
// 0 reported; 1 the file is no message; 2 usage.

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/clipnote-decode/clip_summary.h"
#include "tools/clipnote-decode/commands.h"
#include "tools/clipnote-decode/message_input.h"

namespace {

using clipnote::message::MessageKind;

// Tracks this close count as agreeing: well under what a viewer notices at the end.
constexpr double kAgreeingMilliseconds = 500.0;

constexpr clipnote::tools::Option kOptions[] = {
    {"json", 0, nullptr, "print the same as one JSON object"},
    kVoiceOption,
    kRawOption,
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode info", "FILE",
    "Says what a message or a clip holds: its pictures, its speech, and whether they last as long.",
    kOptions, 1, 1,
    "Exit codes: 0 reported; 1 the file is no message; 2 usage."};

double VideoMilliseconds(const VideoSummary& video) { return video.lastTick * kMillisecondsPerTick; }
double SpeechMilliseconds(const SpeechSummary& speech) { return speech.Frames() * kMillisecondsPerFrame; }

std::string GapList(const VideoSummary& video, bool json) {
  std::string text;
  for (const auto& [gap, count] : video.tickGaps) {
    if (!text.empty()) text += ", ";
    text += json ? "\"" + std::to_string(gap) + "\": " + std::to_string(count)
                 : std::to_string(gap) + " ticks x" + std::to_string(count);
  }
  return json ? "{" + text + "}" : text;
}

std::string VideoStop(const VideoSummary& video) {
  if (video.stoppedPicture >= 0) return "a macroblock error in picture " + std::to_string(video.stoppedPicture);
  if (video.headerFailure != 0) {
    return "picture header code " + std::to_string(video.headerFailure) + " at byte " +
           std::to_string(video.headerFailureOffset);
  }
  return "";
}

void PrintText(const char* path, const MessageInput& input, const VideoSummary* video,
               const SpeechSummary* speech) {
  const clipnote::message::MessageFile& message = input.message;
  std::printf("%s: %s, %zu bytes\n", path, MessageKindName(message.kind), input.bytes.size());
  for (const auto& [label, value] : PlainSummary(video, speech, input.bytes.size())) {
    std::printf("  %-15s %s\n", (label + ":").c_str(), value.c_str());
  }
  if (message.kind == MessageKind::Executable) {
    std::printf("  start-up sound: %s\n", message.startupSound ? "yes" : "no");
    std::printf("  logo bitmap:    %s\n", message.logo ? "yes" : "no");
  }
  if (video != nullptr) {
    std::printf("video: %llu bytes\n", static_cast<unsigned long long>(message.video->size));
    if (message.video->size == 0) {
      std::printf("  none (audio only)\n");
    } else if (video->probeCode != 0) {
      std::printf("  not a baseline H.263 QCIF or CIF clip (first picture header: code %d)\n", video->probeCode);
    } else {
      std::printf("  pictures:       %d (%d intra), %dx%d\n", video->pictures, video->intraPictures, video->width,
                  video->height);
      std::printf("  duration:       %.3f s (%d ticks of 33.333 ms from picture 0 to the last)\n",
                  VideoMilliseconds(*video) / 1000, video->lastTick);
      std::printf("  spacing:        %s\n", GapList(*video, false).c_str());
      std::printf("  quantiser:      %d to %d\n", video->quantiserMin, video->quantiserMax);
      std::printf("  GOB headers:    %d (in %d of %d pictures)\n", video->gobHeaders, video->picturesWithGobHeaders,
                  video->pictures);
      std::printf("  ends with:      %s\n", video->endOfSequence ? "an end-of-sequence code" : "the end of the data");
      const std::string stop = VideoStop(*video);
      if (!stop.empty()) std::printf("  decoding stops: %s\n", stop.c_str());
    }
  }
  if (speech != nullptr) {
    std::printf("speech: %llu bytes\n", static_cast<unsigned long long>(message.speech->size));
    std::printf("  frames:         %d (6.3 kbit/s %d, 5.3 kbit/s %d, SID %d, untransmitted %d)\n", speech->Frames(),
                speech->frames63, speech->frames53, speech->framesSid, speech->framesUntransmitted);
    std::printf("  duration:       %.3f s\n", SpeechMilliseconds(*speech) / 1000);
    if (speech->hasPrefix) {
      const bool holds = uint64_t{speech->pcmCapacity} + 480 >= uint64_t(speech->Frames()) * 480;
      std::printf("  PCM capacity:   %u bytes (%.3f s; %s)\n", speech->pcmCapacity, speech->pcmCapacity / 16000.0,
                  holds ? "holds every frame" : "too small: the player stops the speech early");
    }
    if (speech->cutFrameBytes != 0) std::printf("  cut short:      a last frame of only %u bytes\n", speech->cutFrameBytes);
  }
  if (video != nullptr && speech != nullptr && message.video->size > 0 && speech->Frames() > 0) {
    const double difference = SpeechMilliseconds(*speech) - VideoMilliseconds(*video);
    std::printf("tracks: %s (speech %+.3f s against the video)\n",
                difference < kAgreeingMilliseconds && difference > -kAgreeingMilliseconds ? "agree" : "differ",
                difference / 1000);
  }
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void PrintJson(const char* path, const MessageInput& input, const VideoSummary* video,
               const SpeechSummary* speech) {
  const clipnote::message::MessageFile& message = input.message;
  std::printf("{\"file\": %s, \"kind\": %s, \"bytes\": %zu", JsonString(path).c_str(),
              JsonString(MessageKindName(message.kind)).c_str(), input.bytes.size());
  if (message.kind == MessageKind::Executable) {
    std::printf(", \"startup_sound\": %s, \"logo\": %s", message.startupSound ? "true" : "false",
                message.logo ? "true" : "false");
  }
  if (video != nullptr) {
    std::printf(",\n \"video\": {\"bytes\": %llu, \"decodable\": %s", static_cast<unsigned long long>(message.video->size),
                message.video->size > 0 && video->probeCode == 0 ? "true" : "false");
    if (message.video->size > 0 && video->probeCode == 0) {
      std::printf(", \"width\": %d, \"height\": %d, \"pictures\": %d, \"intra_pictures\": %d, \"ticks\": %d, "
                  "\"duration_ms\": %.3f, \"tick_gaps\": %s, \"quantiser_min\": %d, \"quantiser_max\": %d, "
                  "\"gob_headers\": %d, \"pictures_with_gob_headers\": %d, \"end_of_sequence\": %s, \"stops_early\": %s",
                  video->width, video->height, video->pictures, video->intraPictures, video->lastTick,
                  VideoMilliseconds(*video), GapList(*video, true).c_str(), video->quantiserMin, video->quantiserMax,
                  video->gobHeaders, video->picturesWithGobHeaders, video->endOfSequence ? "true" : "false",
                  JsonString(VideoStop(*video)).c_str());
    }
    std::printf("}");
  }
  if (speech != nullptr) {
    std::printf(",\n \"speech\": {\"bytes\": %llu, \"frames\": %d, \"frames_6_3\": %d, \"frames_5_3\": %d, "
                "\"frames_sid\": %d, \"frames_untransmitted\": %d, \"duration_ms\": %.3f, \"cut_frame_bytes\": %u",
                static_cast<unsigned long long>(message.speech->size), speech->Frames(), speech->frames63,
                speech->frames53, speech->framesSid, speech->framesUntransmitted, SpeechMilliseconds(*speech),
                speech->cutFrameBytes);
    if (speech->hasPrefix) std::printf(", \"pcm_capacity\": %u", speech->pcmCapacity);
    std::printf("}");
  }
  if (video != nullptr && speech != nullptr && message.video->size > 0 && speech->Frames() > 0) {
    const double difference = SpeechMilliseconds(*speech) - VideoMilliseconds(*video);
    std::printf(",\n \"tracks_agree\": %s, \"speech_minus_video_ms\": %.3f",
                difference < kAgreeingMilliseconds && difference > -kAgreeingMilliseconds ? "true" : "false",
                difference);
  }
  std::printf("}\n");
}

}  // namespace

int RunInfoCommand(int argc, char** argv) {
  using clipnote::message::SpeechForm;
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const char* path = args.operands()[0].c_str();
  const bool json = args.Has("json");
  const SpeechForm form = SpeechFormOf(args);
  MessageInput input;
  std::string error;
  if (!ReadMessageInput(path, form, input, error)) {
    std::fprintf(stderr, "clipnote-decode info: %s\n", error.c_str());
    return 1;
  }
  VideoSummary video;
  SpeechSummary speech;
  if (input.message.video) video = SummariseVideo(input.Clip(*input.message.video));
  if (input.message.speech) speech = SummariseSpeech(input.Clip(*input.message.speech), input.message.speechHasPrefix);
  const VideoSummary* videoShown = input.message.video ? &video : nullptr;
  const SpeechSummary* speechShown = input.message.speech ? &speech : nullptr;
  if (json) {
    PrintJson(path, input, videoShown, speechShown);
  } else {
    PrintText(path, input, videoShown, speechShown);
  }
  return 0;
}
