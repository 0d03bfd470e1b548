// clipnote-decode bench video|audio FILE [--repeat N] [--voice]
//
// Decodes FILE N times in-process (input read into memory first) and prints one line:
//   units=<pictures or samples> seconds=<best of N> per_second=<units/seconds>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/clipnote-decode/bench_subject.h"
#include "tools/clipnote-decode/commands.h"
#include "tools/common/command_line.h"
#include "tools/common/file_input.h"

namespace {

constexpr clipnote::tools::Option kOptions[] = {
    {"repeat", 0, "N", "decode N times (1 to 1000000) and keep the best time"},
    {"voice", 0, nullptr, "the audio FILE is a VOICE clip (4-byte PCM-capacity prefix, then frames)"},
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode bench", "video|audio FILE",
    "Decodes FILE N times in-process (read into memory first) and prints one line:\n"
    "  units=<pictures or samples> seconds=<best of N> per_second=<units/seconds>",
    kOptions, 2, 2};

}  // namespace

int RunBenchCommand(int argc, char** argv) {
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const std::string kind = args.operands()[0];
  const char* path = args.operands()[1].c_str();
  const bool voice = args.Has("voice");
  int repeat = 1;
  if (const auto text = args.Value("repeat")) {
    const auto count = clipnote::tools::ParseInteger(*text, 1, 1000000);
    if (!count) return clipnote::tools::UsageError(kCommand, "--repeat needs a count from 1 to 1000000");
    repeat = static_cast<int>(*count);
  }
  if (voice && kind != "audio") return clipnote::tools::UsageError(kCommand, "--voice is for the audio benchmark");

  std::unique_ptr<BenchSubject> subject;
  if (kind == "audio") {
    subject = MakeAudioBenchSubject(voice);
  } else if (kind == "video") {
    subject = MakeVideoBenchSubject();
    if (!subject) {
      std::fprintf(stderr, "clipnote-decode bench: the video benchmark is not built yet\n");
      return 2;
    }
  } else {
    return clipnote::tools::UsageError(kCommand, "benchmarks video or audio, not " + kind);
  }

  std::vector<uint8_t> input;
  std::string error;
  if (!ReadWholeFile(path, input, error)) {
    std::fprintf(stderr, "clipnote-decode bench: %s\n", error.c_str());
    return 1;
  }
  if (!subject->Prepare(input, error)) {
    std::fprintf(stderr, "clipnote-decode bench: %s: %s\n", path, error.c_str());
    return 1;
  }

  uint64_t units = 0;
  const double best = BestSecondsOf(*subject, repeat, units);
  const double perSecond = best > 0 ? static_cast<double>(units) / best : 0.0;
  std::printf("units=%" PRIu64 " seconds=%.9f per_second=%.1f\n", units, best, perSecond);
  return 0;
}
