// clipnote-encode speech: 8000 Hz 16-bit mono WAV to a G.723.1 VOICE clip or frame stream.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/encoder/speech_encoder.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"
#include "tools/common/file_input.h"
#include "tools/clipnote-encode/commands.h"
#include "tools/clipnote-encode/wav_input.h"

using namespace clipnote::speech;

namespace {

constexpr uint32_t kPcmBytesPerFrame = 480;

constexpr clipnote::tools::Option kOptions[] = {
    {"rate", 0, "6.3|5.3", "the bit rate in kbit/s (default 6.3)"},
    {"no-silence", 0, nullptr, "code every frame as speech: no silence compression"},
    {"raw", 0, nullptr, "write the bare frame stream, without the 4-byte PCM-capacity prefix"},
    clipnote::tools::kForceOption,
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-encode speech", "IN.wav OUT.723",
    "Encodes speech into a G.723.1 VOICE clip (a 4-byte PCM-capacity prefix, then the frames)\n"
    "or, with --raw, the bare frame stream. IN.wav must be 16-bit PCM, mono, 8000 Hz.",
    kOptions, 2, 2,
    "Exit codes: 0 written; 1 refused (with the reason); 2 usage."};

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int RunSpeechCommand(int argc, char** argv) {
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const char* input = args.operands()[0].c_str();
  const char* output = args.operands()[1].c_str();
  SpeechEncoderOptions options;
  const bool raw = args.Has("raw");
  options.silenceCompression = !args.Has("no-silence");
  if (const auto rate = args.Value("rate")) {
    if (*rate == "6.3") {
      options.rate = Rate::Rate63;
    } else if (*rate == "5.3") {
      options.rate = Rate::Rate53;
    } else {
      return clipnote::tools::UsageError(kCommand, "--rate is 6.3 or 5.3, not " + *rate);
    }
  }
  std::string error;
  if (!clipnote::tools::MayWriteOutput(output, args.Has("force"), error)) {
    return clipnote::tools::Refuse(kCommand.program, error);
  }

  std::vector<uint8_t> file;
  if (!ReadWholeFile(input, file, error)) {
    std::fprintf(stderr, "clipnote-encode speech: %s\n", error.c_str());
    return 1;
  }
  std::vector<int16_t> samples;
  if (!ReadSpeechWav(file, samples, error)) {
    std::fprintf(stderr, "clipnote-encode speech: %s: %s\n", input, error.c_str());
    return 1;
  }

  // A last partial frame is completed with silence; an empty input gives one silent frame.
  size_t frames = (samples.size() + kFrameSamples - 1) / kFrameSamples;
  if (frames == 0) frames = 1;
  samples.resize(frames * kFrameSamples, 0);
  std::vector<uint8_t> coded;
  coded.reserve(frames * kMaxCodedFrameBytes);
  static SpeechEncoder encoder;
  encoder.Reset(options);
  for (size_t f = 0; f < frames; ++f) {
    uint8_t frame[kMaxCodedFrameBytes];
    const int16_t* next = f + 1 < frames ? &samples[(f + 1) * kFrameSamples] : nullptr;
    const int length = encoder.EncodeFrame(&samples[f * kFrameSamples], next, frame);
    coded.insert(coded.end(), frame, frame + length);
  }

  std::vector<uint8_t> bytes;
  if (!raw) {
    // As make-message writes it: every coded byte could become a 480-byte frame.
    const uint64_t capacity = uint64_t{kPcmBytesPerFrame} * (coded.size() + 1);
    if (capacity > 0xFFFFFFFFu) {
      std::fprintf(stderr, "clipnote-encode speech: %s is too long for a VOICE clip\n", input);
      return 1;
    }
    PutLe32(bytes, static_cast<uint32_t>(capacity));
  }
  bytes.insert(bytes.end(), coded.begin(), coded.end());

  clipnote::tools::OutputFile out;
  if (!out.Open(output, error)) {
    std::fprintf(stderr, "clipnote-encode speech: %s\n", error.c_str());
    return 1;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), out.stream());
  if (!out.Finish(error) || !clipnote::tools::CommitOutput(out, error)) {
    std::fprintf(stderr, "clipnote-encode speech: %s\n", error.c_str());
    return 1;
  }

  const EncodedFrameCounts& counts = encoder.Counts();
  std::printf("%s: %zu frames at %s kbit/s, %u speech, %u SID, %u untransmitted, %zu bytes\n",
              output, frames, options.rate == Rate::Rate63 ? "6.3" : "5.3", counts.active,
              counts.sid, counts.untransmitted, bytes.size());
  if (options.silenceCompression && counts.active * 20 < frames && frames >= 20) {
    std::printf("note: almost nothing in %s was loud enough to send as speech (%u of %zu frames);"
                " --no-silence codes it all\n",
                input, counts.active, frames);
  }
  return 0;
}
