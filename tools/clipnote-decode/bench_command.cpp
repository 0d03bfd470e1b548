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
#include "tools/common/file_input.h"

namespace {

void PrintBenchUsage() {
  std::fprintf(stderr, "usage: clipnote-decode bench video|audio FILE [--repeat N] [--voice]\n");
}

bool ParseRepeat(const char* text, int& repeat) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 1000000) return false;
  repeat = static_cast<int>(value);
  return true;
}

}  // namespace

int RunBenchCommand(int argc, char** argv) {
  if (argc < 3) {
    PrintBenchUsage();
    return 2;
  }
  const std::string kind = argv[1];
  const char* path = argv[2];
  int repeat = 1;
  bool voice = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      if (!ParseRepeat(argv[++i], repeat)) {
        std::fprintf(stderr, "clipnote-decode bench: --repeat needs a count from 1 to 1000000\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--voice") == 0 && kind == "audio") {
      voice = true;
    } else {
      PrintBenchUsage();
      return 2;
    }
  }

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
    PrintBenchUsage();
    return 2;
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
