// clipnote-encode video IN.y4m OUT.263 [--quantiser Q] [--bitrate BITS_PER_S | --max-size BYTES]
//                       [--gob-headers] [--speed thorough|fast] [--reconstruction RECON.y4m] [--force]
//
// Encodes every picture of a 4:2:0 YUV4MPEG2 file (QCIF or CIF) with our H.263 encoder, each
// at its time on the 29.97 Hz picture clock (the file's frame rate gives the times), and can
// hold a bitrate (the quantiser then only starts the clip), and can
// write the encoder's own reconstruction, which is what `clipnote-decode video OUT.263`
// writes, byte for byte. Exit codes, as clipnote-encode speech and clipnote-decode: 0 written;
// 1 refused (input that is no usable Y4M, a file that cannot be read or written, an output that
// exists without --force, no quantiser meeting --max-size), with the reason; 2 usage errors.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"
#include "tools/common/file_input.h"
#include "tools/clipnote-encode/commands.h"
#include "video/encoder/video_encoder.h"

using namespace clipnote::h263;

namespace {

using clipnote::tools::kExitRefused;
using clipnote::tools::kExitUsage;

struct Y4m {
  int width = 0;
  int height = 0;
  int64_t rateNumerator = 30000;
  int64_t rateDenominator = 1001;
  std::vector<const uint8_t*> pictures;
};

// The stream header's parameters and every frame's planes. On failure says why.
bool ParseY4m(const std::vector<uint8_t>& bytes, Y4m& y4m, std::string& error) {
  const auto lineEnd = [&](size_t from) {
    for (size_t i = from; i < bytes.size(); ++i) {
      if (bytes[i] == '\n') return i;
    }
    return bytes.size();
  };
  const size_t headerEnd = lineEnd(0);
  const std::string header(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(headerEnd));
  if (header.rfind("YUV4MPEG2 ", 0) != 0 || headerEnd == bytes.size()) {
    error = "not a YUV4MPEG2 file";
    return false;
  }
  size_t at = 10;
  while (at < header.size()) {
    size_t end = header.find(' ', at);
    if (end == std::string::npos) end = header.size();
    const std::string field = header.substr(at, end - at);
    at = end + 1;
    if (field.empty()) continue;
    const char tag = field[0];
    const std::string value = field.substr(1);
    if (tag == 'W') y4m.width = std::atoi(value.c_str());
    if (tag == 'H') y4m.height = std::atoi(value.c_str());
    if (tag == 'F') {
      long long n = 0, d = 0;
      if (std::sscanf(value.c_str(), "%lld:%lld", &n, &d) != 2 || n <= 0 || d <= 0 ||
          n > 1000000000 || d > 1000000000) {
        error = "frame rate " + value + " is not a rate";
        return false;
      }
      y4m.rateNumerator = n;
      y4m.rateDenominator = d;
    }
    if (tag == 'C' && value.rfind("420", 0) != 0) {
      error = "colour space C" + value + " is not 4:2:0";
      return false;
    }
  }
  if (!((y4m.width == 176 && y4m.height == 144) || (y4m.width == 352 && y4m.height == 288))) {
    error = "pictures of " + std::to_string(y4m.width) + "x" + std::to_string(y4m.height) +
            ": only QCIF (176x144) and CIF (352x288) are coded";
    return false;
  }
  const size_t pictureBytes = static_cast<size_t>(y4m.width) * y4m.height * 3 / 2;
  for (size_t pos = headerEnd + 1; pos < bytes.size();) {
    const size_t end = lineEnd(pos);
    if (end == bytes.size() || bytes.size() - pos < 5 || std::memcmp(&bytes[pos], "FRAME", 5) != 0) {
      error = "frame " + std::to_string(y4m.pictures.size()) + ": no FRAME header";
      return false;
    }
    if (bytes.size() - (end + 1) < pictureBytes) {
      error = "frame " + std::to_string(y4m.pictures.size()) + " is cut short";
      return false;
    }
    y4m.pictures.push_back(&bytes[end + 1]);
    pos = end + 1 + pictureBytes;
  }
  if (y4m.pictures.empty()) {
    error = "no frames";
    return false;
  }
  return true;
}

struct Reconstruction {
  std::FILE* out = nullptr;
  size_t bytes = 0;
};

void WriteReconstruction(void* context, int32_t, const uint8_t* picture) {
  auto* r = static_cast<Reconstruction*>(context);
  std::fputs("FRAME\n", r->out);
  std::fwrite(picture, 1, r->bytes, r->out);
}

constexpr clipnote::tools::Option kOptions[] = {
    {"quantiser", 0, "Q", "the quantiser, 1 to 31 (with --bitrate: the first picture's)"},
    {"bitrate", 0, "BITS_PER_S", "hold this many bits a second, 1000 to 100000000"},
    {"max-size", 0, "BYTES", "the finest quantiser whose clip fits BYTES (given alone)"},
    {"gob-headers", 0, nullptr, "a GOB header in front of every row of macroblocks but the first"},
    {"speed", 0, "thorough|fast", "how hard the encoder searches (default thorough)"},
    {"reconstruction", 0, "RECON.y4m", "also write the pictures as the decoder will show them"},
    clipnote::tools::kForceOption,
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-encode video", "IN.y4m OUT.263",
    "Encodes every picture of a 4:2:0 YUV4MPEG2 file (QCIF or CIF) into an H.263 clip, each at\n"
    "its time on the 29.97 Hz picture clock.",
    kOptions, 2, 2,
    "Exit codes: 0 written; 1 refused (with the reason); 2 usage."};

// The option's value as a whole number in [low, high]; a usage error says what it takes.
bool NumberOption(const clipnote::tools::Arguments& args, const char* name, int64_t low, int64_t high,
                  const char* takes, int64_t& value) {
  const auto text = args.Value(name);
  if (!text) return true;
  const auto number = clipnote::tools::ParseInteger(*text, low, high);
  if (!number) {
    clipnote::tools::UsageError(kCommand, std::string("--") + name + " takes " + takes + ", not " + *text);
    return false;
  }
  value = *number;
  return true;
}

}  // namespace

int RunVideoCommand(int argc, char** argv) {
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const char* inPath = args.operands()[0].c_str();
  const std::string outPath = args.operands()[1];
  VideoEncoderSettings settings;
  int64_t maxBytes = 0;
  int64_t quantiser64 = settings.quantiser;
  int64_t bitsPerSecond = 0;
  const bool quantiserGiven = args.Has("quantiser");
  const std::string reconstructionPath = args.Value("reconstruction").value_or("");
  settings.gobHeaders = args.Has("gob-headers");
  if (const auto speed = args.Value("speed")) {
    if (*speed == "thorough") {
      settings.speed = EncoderSpeed::kThorough;
    } else if (*speed == "fast") {
      settings.speed = EncoderSpeed::kFast;
    } else {
      return clipnote::tools::UsageError(kCommand, "--speed is thorough or fast, not " + *speed);
    }
  }
  if (!NumberOption(args, "quantiser", 1, 31, "1 to 31", quantiser64) ||
      !NumberOption(args, "max-size", 1, int64_t{1} << 40, "a number of bytes", maxBytes) ||
      !NumberOption(args, "bitrate", 1000, 100000000, "1000 to 100000000 bits a second", bitsPerSecond)) {
    return kExitUsage;
  }
  settings.quantiser = static_cast<int32_t>(quantiser64);
  settings.bitsPerSecond = static_cast<int32_t>(bitsPerSecond);
  if (maxBytes > 0 && (quantiserGiven || settings.bitsPerSecond > 0)) {
    return clipnote::tools::UsageError(kCommand, "--max-size chooses the quantiser: give it alone");
  }
  const bool force = args.Has("force");
  std::string error;
  for (const std::string& path : {outPath, reconstructionPath}) {
    if (!path.empty() && !clipnote::tools::MayWriteOutput(path, force, error)) {
      return clipnote::tools::Refuse("clipnote-encode video", error);
    }
  }

  std::vector<uint8_t> input;
  if (!ReadWholeFile(inPath, input, error)) {
    std::fprintf(stderr, "clipnote-encode: %s\n", error.c_str());
    return kExitRefused;
  }
  Y4m y4m;
  if (!ParseY4m(input, y4m, error)) {
    std::fprintf(stderr, "clipnote-encode: %s: %s\n", inPath, error.c_str());
    return kExitRefused;
  }
  settings.width = y4m.width;
  settings.height = y4m.height;
  const size_t pictureBytes = static_cast<size_t>(y4m.width) * y4m.height * 3 / 2;
  // Picture i is shown at i / rate seconds: the nearest tick of the 30000/1001 Hz clock.
  std::vector<int64_t> ticks;
  for (size_t i = 0; i < y4m.pictures.size(); ++i) {
    const __int128 scaled = static_cast<__int128>(i) * y4m.rateDenominator * 30000;
    const __int128 per = static_cast<__int128>(y4m.rateNumerator) * 1001;
    ticks.push_back(static_cast<int64_t>((2 * scaled + per) / (2 * per)));
  }

  clipnote::tools::OutputFile clipOutput;
  clipnote::tools::OutputFile reconstructionOutput;
  if (!clipOutput.Open(outPath, error) ||
      (!reconstructionPath.empty() && !reconstructionOutput.Open(reconstructionPath, error))) {
    std::fprintf(stderr, "clipnote-encode: %s\n", error.c_str());
    return kExitRefused;
  }
  Reconstruction reconstruction{reconstructionOutput.stream(), pictureBytes};
  if (reconstruction.out != nullptr) {
    std::fprintf(reconstruction.out, "YUV4MPEG2 W%d H%d F30000:1001 Ip A12:11 C420jpeg\n",
                 y4m.width, y4m.height);
  }
  static VideoEncoder encoder;
  std::vector<uint8_t> clip;
  size_t written = 0;
  int32_t quantiser = settings.quantiser;
  int32_t code = kEncoderOk;
  if (maxBytes > 0) {
    // The clip can be no larger than the budget: that is all the room the trials get.
    const uint64_t most = static_cast<uint64_t>(y4m.pictures.size()) * kMostVideoPictureBytes;
    clip.resize(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(maxBytes), most)));
    const VideoClipInput clipInput{y4m.pictures.data(), ticks.data(),
                                   static_cast<int32_t>(y4m.pictures.size()), pictureBytes};
    code = EncodeVideoClip(encoder, settings, clipInput, maxBytes, clip.data(), clip.size(),
                           &written, &quantiser,
                           reconstruction.out != nullptr ? WriteReconstruction : nullptr,
                           &reconstruction);
  } else {
    code = encoder.Start(settings);
    for (size_t i = 0; i < y4m.pictures.size() && code == kEncoderOk; ++i) {
      code = encoder.EncodePicture(y4m.pictures[i], pictureBytes, ticks[i]);
      if (code != kEncoderOk) break;
      clip.insert(clip.end(), encoder.PictureData(), encoder.PictureData() + encoder.PictureBytes());
      if (reconstruction.out != nullptr) {
        WriteReconstruction(&reconstruction, static_cast<int32_t>(i), encoder.Reconstruction());
      }
    }
    written = clip.size();
  }
  if (code == kEncoderTooLarge) {
    std::fprintf(stderr,
                 "clipnote-encode: %s: %zu pictures do not fit %lld bytes at any quantiser; "
                 "nothing written\n",
                 inPath, y4m.pictures.size(), static_cast<long long>(maxBytes));
    return kExitRefused;
  }
  if (code != kEncoderOk) {
    std::fprintf(stderr, "clipnote-encode: %s: encoding failed (code %d); nothing written\n",
                 inPath, code);
    return kExitRefused;
  }
  std::fwrite(clip.data(), 1, written, clipOutput.stream());
  clipnote::tools::OutputFile* outputs[] = {&clipOutput, &reconstructionOutput};
  const std::span<clipnote::tools::OutputFile* const> all(outputs, reconstructionPath.empty() ? 1 : 2);
  for (clipnote::tools::OutputFile* o : all) {
    if (!o->Finish(error)) {
      std::fprintf(stderr, "clipnote-encode: %s; nothing written\n", error.c_str());
      return kExitRefused;
    }
  }
  if (!clipnote::tools::CommitOutputs(all, error)) {
    std::fprintf(stderr, "clipnote-encode: %s; nothing written\n", error.c_str());
    return kExitRefused;
  }
  if (settings.bitsPerSecond > 0) {
    std::printf("%zu pictures, %dx%d, %d bits/s from quantiser %d, %zu bytes\n", y4m.pictures.size(),
                y4m.width, y4m.height, settings.bitsPerSecond, quantiser, written);
  } else {
    std::printf("%zu pictures, %dx%d, quantiser %d, %zu bytes\n", y4m.pictures.size(), y4m.width,
                y4m.height, quantiser, written);
  }
  return 0;
}
