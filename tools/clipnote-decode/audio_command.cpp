// clipnote-decode audio IN OUT.wav [--voice|--raw] [--force]
//
// Decodes a G.723.1 clip into exactly the WAV image the player builds: a 44-byte header and
// the decoded samples. IN is a raw frame stream (what `ffmpeg -f g723_1` writes) or, with
// --voice, the player's VOICE clip (a 4-byte PCM-capacity prefix, then the frames). For a
// VOICE clip the output area is limited to the prefix plus one frame, as in the player, and a
// prefix the player could not reserve is refused.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/voice_clip.h"
#include "audio/wav_image.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"
#include "tools/clipnote-decode/commands.h"
#include "tools/clipnote-decode/message_input.h"

using namespace clipnote::speech;

namespace {

constexpr clipnote::tools::Option kOptions[] = {
    kVoiceOption,
    kRawOption,
    clipnote::tools::kForceOption,
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode audio", "IN.723|IN.tco|MESSAGE.exe OUT.wav",
    "Decodes the speech of a clip or a message into exactly the WAV image the player builds.",
    kOptions, 2, 2,
    "Exit codes: 0 written; 1 refused (with the reason); 2 usage."};

}  // namespace

int RunAudioCommand(int argc, char** argv) {
  using clipnote::message::SpeechForm;
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const char* inputPath = args.operands()[0].c_str();
  const char* outputPath = args.operands()[1].c_str();
  const SpeechForm form = SpeechFormOf(args);
  std::string error;
  if (!clipnote::tools::MayWriteOutput(outputPath, args.Has("force"), error)) {
    return clipnote::tools::Refuse(kCommand.program, error);
  }
  MessageInput message;
  if (!ReadMessageInput(inputPath, form, message, error)) {
    std::fprintf(stderr, "clipnote-decode audio: %s\n", error.c_str());
    return 1;
  }
  if (!message.message.speech) {
    std::fprintf(stderr, "clipnote-decode audio: %s: %s\n", inputPath,
                 message.message.kind == clipnote::message::MessageKind::VideoClip
                     ? "an H.263 clip, not speech (--voice or --raw take it as speech)"
                     : "the message carries no speech (no VOICE resource)");
    return 1;
  }
  const clipnote::message::Bytes input = message.Clip(*message.message.speech);

  VoiceClip clip;
  if (message.message.speechHasPrefix) {
    const VoiceClipError error = ParseVoiceClip(input.data(), input.size(), clip);
    if (error != VoiceClipError::None) {
      std::fprintf(stderr, "clipnote-decode audio: %s: %s\n", inputPath, VoiceClipErrorText(error));
      return 1;
    }
    // Refused before anything is reserved: the player could not get the image either.
    if (uint64_t{clip.pcmCapacity} + kWavImageOverhead > kLargestReservableImage) {
      std::fprintf(stderr,
                   "clipnote-decode audio: %s: the length prefix reserves %u bytes of speech; the "
                   "player cannot reserve 2 GiB or more and refuses it\n",
                   inputPath, clip.pcmCapacity);
      return 1;
    }
  } else {
    // A raw stream gets room for the most PCM its bytes could give: one frame per byte.
    constexpr uint64_t kBytesPerFrame = 480;
    const uint64_t capacity = static_cast<uint64_t>(input.size()) * kBytesPerFrame;
    if (capacity > std::numeric_limits<uint32_t>::max() - kWavImageOverhead) {
      std::fprintf(stderr, "clipnote-decode audio: %s: the stream is too large\n", inputPath);
      return 1;
    }
    clip.pcmCapacity = static_cast<uint32_t>(capacity);
    clip.coded = input.data();
    clip.codedByteCount = static_cast<uint32_t>(input.size());
  }

  std::vector<uint8_t> image;
  try {
    image.assign(static_cast<size_t>(clip.pcmCapacity) + kWavImageOverhead, 0);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "clipnote-decode audio: not enough memory for a WAV image of %llu bytes\n",
                 static_cast<unsigned long long>(clip.pcmCapacity) + kWavImageOverhead);
    return 1;
  }
  AudioDecoder decoder;
  if (!decoder.Create()) {
    std::fprintf(stderr, "clipnote-decode audio: not enough memory for the decoder\n");
    return 1;
  }
  decoder.Reset(Rate::Rate53);  // as the player does
  uint32_t inputOffset = 0;
  const VoiceDecodeResult result =
      DecodeVoiceClip(decoder, clip.codedByteCount, clip.coded, image.data() + kWavHeaderBytes,
                      clip.pcmCapacity + 480, inputOffset);
  decoder.Release();
  WriteWavHeader(image.data(), result.pcmBytes);
  if (inputOffset < clip.codedByteCount) {
    std::fprintf(stderr,
                 "clipnote-decode audio: warning: the clip decodes to more than its %u reserved "
                 "bytes; stopped after %u of %u coded bytes\n",
                 clip.pcmCapacity, inputOffset, clip.codedByteCount);
  }

  clipnote::tools::OutputFile output;
  bool written = output.Open(outputPath, error);
  if (written) {
    std::fwrite(image.data(), 1, kWavHeaderBytes + result.pcmBytes, output.stream());
    written = output.Finish(error) && clipnote::tools::CommitOutput(output, error);
  }
  if (!written) {
    std::fprintf(stderr, "clipnote-decode audio: %s; nothing written\n", error.c_str());
    return 1;
  }
  return 0;
}
