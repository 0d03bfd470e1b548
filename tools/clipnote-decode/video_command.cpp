// clipnote-decode video IN.263|MESSAGE.exe OUT.y4m|OUT.yuv [--verbose] [--force]
//
// Decodes an H.263 clip (bare, or the one a message executable carries) exactly as the player does and writes every decoded
// picture, as YUV4MPEG2 4:2:0 (.y4m) or raw planar frames (.yuv). Exit codes:
// 0 clip decoded to its end; 1 decoding stopped part-way (what decoded is
// written, and the message says where it stopped), or OUT exists and --force is not given;
// 2 usage or file errors.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "message/message_file.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"
#include "tools/clipnote-decode/commands.h"
#include "tools/common/file_input.h"
#include "video/recon/decoder_buffers.h"
#include "video/recon/picture_decoder.h"

using namespace clipnote::h263;

namespace {

constexpr int kExitStopped = 1;
constexpr int kExitError = 2;

bool EndsWith(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Reads the clip: the whole file, or the video clip of a message executable. Anything
// else is taken as a clip, for the decoder to say whether it is one. On failure
// prints why and returns false.
bool ReadClip(const char* path, std::vector<uint8_t>& clip) {
  std::string error;
  if (!ReadWholeFile(path, clip, error)) {
    std::fprintf(stderr, "clipnote-decode: %s\n", error.c_str());
    return false;
  }
  if (clip.empty()) {
    std::fprintf(stderr, "clipnote-decode: %s is empty\n", path);
    return false;
  }
  if (!clipnote::message::HasMzSignature(clip)) return true;
  std::string reason;
  const std::optional<clipnote::message::MessageFile> message =
      clipnote::message::ReadMessage(clip, path, clipnote::message::SpeechForm::ByName, reason);
  if (!message) {
    std::fprintf(stderr, "clipnote-decode: %s: %s\n", path, reason.c_str());
    return false;
  }
  if (!message->video || message->video->size == 0) {
    std::fprintf(stderr, "clipnote-decode: %s: the message carries no video (%s)\n", path,
                 message->video ? "an empty MOVIE resource: audio only" : "no MOVIE resource");
    return false;
  }
  const clipnote::message::Bytes video = clipnote::message::Slice(clip, *message->video);
  clip = std::vector<uint8_t>(video.begin(), video.end());
  return true;
}

// True when nothing but zero bytes (padding) is left from `offset` on.
bool OnlyPaddingFrom(const std::vector<uint8_t>& clip, int64_t offset) {
  for (size_t i = offset < 0 ? 0 : static_cast<size_t>(offset); i < clip.size(); ++i) {
    if (clip[i] != 0) return false;
  }
  return true;
}

constexpr clipnote::tools::Option kOptions[] = {
    {"verbose", 'v', nullptr, "print a line for each picture"},
    clipnote::tools::kForceOption,
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode video", "IN.263|MESSAGE.exe OUT.y4m|OUT.yuv",
    "Decodes an H.263 clip (bare, or the one a message executable carries) exactly as the player\n"
    "does and writes every picture, as YUV4MPEG2 (.y4m) or raw planar 4:2:0 frames (.yuv).",
    kOptions, 2, 2,
    "Exit codes: 0 decoded to its end; 1 decoding stopped part-way (what decoded is written),\n"
    "or OUT exists and --force is not given; 2 usage, or a file that cannot be read or written."};

}  // namespace

int RunVideoCommand(int argc, char** argv) {
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const bool verbose = args.Has("verbose");
  const char* inPath = args.operands()[0].c_str();
  const std::string outPath = args.operands()[1];
  const bool y4m = EndsWith(outPath, ".y4m");
  if (!y4m && !EndsWith(outPath, ".yuv")) {
    std::fprintf(stderr, "clipnote-decode: %s: the output must end in .y4m or .yuv\n",
                 outPath.c_str());
    return kExitError;
  }

  std::string error;
  if (!clipnote::tools::MayWriteOutput(outPath, args.Has("force"), error)) {
    return clipnote::tools::Refuse(kCommand.program, error);
  }
  std::vector<uint8_t> clip;
  if (!ReadClip(inPath, clip)) return kExitError;

  VideoDecoderBuffers buffers;
  StartVideoClip(buffers, clip.data(), clip.size());
  const int32_t probe = ProbePictureFormat();
  if (probe != 0) {
    std::fprintf(stderr,
                 "clipnote-decode: %s: not a baseline H.263 QCIF or CIF clip "
                 "(first picture header: code %d)\n",
                 inPath, probe);
    return kExitError;
  }
  const int width = videoDecoder.width;
  const int height = videoDecoder.height;
  const size_t pictureBytes = static_cast<size_t>(width) * height * 3 / 2;

  clipnote::tools::OutputFile output;
  if (!output.Open(outPath, error)) {
    std::fprintf(stderr, "clipnote-decode: %s\n", error.c_str());
    return kExitError;
  }
  std::FILE* out = output.stream();
  if (y4m) std::fprintf(out, "YUV4MPEG2 W%d H%d F30000:1001 Ip A12:11 C420jpeg\n", width, height);

  // As in the player, decoding goes on until DecodePicture fails or the
  // sequence ends. After a macroblock syntax error the decoder decodes no
  // further macroblock, so any later picture repeats the last one; the first
  // such error is where decoding stopped.
  int pictures = 0;
  int exitCode = 0;
  int stoppedPicture = -1;
  int stoppedMacroblock = -1;
  for (;;) {
    const int64_t headerOffset = VideoReaderOffset();
    const int32_t result = DecodePicture();
    if (result == 0 && videoDecoder.endOfSequence != 0) break;
    if (result != 0) {
      // Running out of data (only padding left) is the normal end of a clip;
      // after a macroblock error the failure is only its consequence.
      if (stoppedPicture >= 0 || (result == 1 && OnlyPaddingFrom(clip, headerOffset))) break;
      std::fprintf(stderr,
                   "clipnote-decode: %s: stopped at picture %d: picture header code %d at "
                   "byte %lld; %d pictures written\n",
                   inPath, pictures, result, static_cast<long long>(headerOffset), pictures);
      exitCode = kExitStopped;
      break;
    }
    if (y4m) std::fputs("FRAME\n", out);
    std::fwrite(videoDecoder.currentPicture, 1, pictureBytes, out);
    const bool failedHere = videoDecoder.mbError != 0 && stoppedPicture < 0;
    if (verbose) {
      std::printf("picture %d tr %u %s result %d%s\n", pictures,
                  static_cast<unsigned>(videoDecoder.temporalReference),
                  videoDecoder.pictureCodingType == 0 ? "INTRA" : "INTER", result,
                  failedHere ? " (macroblock error)" : "");
    }
    if (failedHere) {
      stoppedPicture = pictures;
      stoppedMacroblock = videoDecoder.failedMbIndex;
    }
    ++pictures;
  }
  if (stoppedPicture >= 0) {
    std::fprintf(stderr,
                 "clipnote-decode: %s: stopped in picture %d at macroblock %d (macroblock "
                 "syntax error); %d pictures written, picture %d incomplete and any after it "
                 "repeating it\n",
                 inPath, stoppedPicture, stoppedMacroblock, pictures, stoppedPicture);
    exitCode = kExitStopped;
  }
  if (!output.Finish(error) || !clipnote::tools::CommitOutput(output, error)) {
    std::fprintf(stderr, "clipnote-decode: %s; nothing written\n", error.c_str());
    return kExitError;
  }
  if (verbose) std::printf("%d pictures, %dx%d\n", pictures, width, height);
  return exitCode;
}
