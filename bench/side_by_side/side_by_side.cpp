// clipnote-side-by-side [--repeat N] [--rounds R] KIND FILE [KIND FILE ...]
//   KIND: video (H.263), audio (raw G.723.1 frames) or voice (VOICE clip with prefix)
//
// Times our decoder and libavcodec's on the same file, in this process, input in
// memory, both single-threaded. Each round takes the best of N runs of each decoder
// (alternating, so both see the same machine load); the line per file gives the
// medians over the rounds and their ratio:
//   file=F units=U ours_per_second=A libavcodec_per_second=B ratio=A/B

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/side_by_side/libav_subjects.h"
#include "tools/clipnote-decode/bench_subject.h"

namespace {

struct Options {
  int repeat = 5;
  int rounds = 5;
  std::vector<std::pair<std::string, std::string>> files;  // kind, path
};

void PrintUsage() {
  std::fprintf(stderr,
               "usage: clipnote-side-by-side [--repeat N] [--rounds R] video|audio|voice FILE ...\n");
}

bool ParseCount(const char* text, int& count) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 100000) return false;
  count = static_cast<int>(value);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    if (arg == "--repeat") {
      if (!ParseCount(argv[++i], options.repeat)) return false;
    } else if (arg == "--rounds") {
      if (!ParseCount(argv[++i], options.rounds)) return false;
    } else if (arg == "video" || arg == "audio" || arg == "voice") {
      options.files.emplace_back(arg, argv[++i]);
    } else {
      return false;
    }
  }
  return !options.files.empty();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Compares the two decoders on one file; false (with a message) when either cannot
// decode it.
bool Compare(const std::string& kind, const std::string& path, const Options& options) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "clipnote-side-by-side: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), {});
  std::unique_ptr<BenchSubject> ours =
      kind == "video" ? MakeVideoBenchSubject() : MakeAudioBenchSubject(kind == "voice");
  std::unique_ptr<BenchSubject> theirs =
      kind == "video" ? MakeLibavVideoSubject() : MakeLibavAudioSubject(kind == "voice");
  std::string error;
  if (!ours->Prepare(input, error) || !theirs->Prepare(input, error)) {
    std::fprintf(stderr, "clipnote-side-by-side: %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  std::vector<double> oursRates;
  std::vector<double> theirRates;
  uint64_t oursUnits = 0;
  uint64_t theirUnits = 0;
  for (int round = 0; round < options.rounds; ++round) {
    const double oursSeconds = BestSecondsOf(*ours, options.repeat, oursUnits);
    const double theirSeconds = BestSecondsOf(*theirs, options.repeat, theirUnits);
    oursRates.push_back(oursSeconds > 0 ? static_cast<double>(oursUnits) / oursSeconds : 0);
    theirRates.push_back(theirSeconds > 0 ? static_cast<double>(theirUnits) / theirSeconds : 0);
  }
  const double oursRate = Median(oursRates);
  const double theirRate = Median(theirRates);
  std::printf("file=%s units=%" PRIu64 " ours_per_second=%.1f libavcodec_per_second=%.1f ratio=%.3f",
              path.c_str(), oursUnits, oursRate, theirRate, theirRate > 0 ? oursRate / theirRate : 0);
  // Different unit counts mean the two did not decode the same thing: say so.
  if (oursUnits != theirUnits) std::printf(" libavcodec_units=%" PRIu64, theirUnits);
  std::printf("\n");
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage();
    return 2;
  }
  bool allCompared = true;
  for (const auto& [kind, path] : options.files) allCompared &= Compare(kind, path, options);
  return allCompared ? 0 : 1;
}
