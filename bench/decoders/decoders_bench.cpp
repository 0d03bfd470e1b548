// Whole-clip decoding by both decoders, timed exactly as `clipnote-decode bench` times
// it (the same subjects): pictures per second for H.263 clips, samples per second for
// G.723.1 streams. The committed clips and the default message always run; with
// --clips=DIR every .263 and .723 file in DIR runs too (bench/side_by_side/make_clips.sh
// makes a set with ffmpeg).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tools/clipnote-decode/bench_subject.h"

namespace {

enum class Kind { Video, Speech, Voice };

void DecodeClip(benchmark::State& state, Kind kind, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), {}};
  std::unique_ptr<BenchSubject> subject =
      kind == Kind::Video ? MakeVideoBenchSubject() : MakeAudioBenchSubject(kind == Kind::Voice);
  std::string error;
  if (input.empty() || !subject->Prepare(input, error)) {
    state.SkipWithError(("cannot decode " + path + " " + error).c_str());
    return;
  }
  uint64_t units = 0;
  for (auto _ : state) units = subject->RunOnce();
  state.counters[std::string(subject->UnitName()) + "/s"] = benchmark::Counter(
      static_cast<double>(units) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

void Register(Kind kind, const std::string& path) {
  const std::string name = std::string(kind == Kind::Video ? "VideoDecode/" : "SpeechDecode/") +
                           std::filesystem::path(path).filename().string();
  benchmark::RegisterBenchmark(name.c_str(), DecodeClip, kind, path)->Unit(benchmark::kMillisecond);
}

void RegisterDirectory(const std::string& directory) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    if (file.extension() == ".263") Register(Kind::Video, file.string());
    if (file.extension() == ".723") Register(Kind::Speech, file.string());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string source = CLIPNOTE_SOURCE_DIR;
  Register(Kind::Video, source + "/resources/message.263");
  Register(Kind::Video, source + "/tests/video_recon/data/small_qcif.263");
  Register(Kind::Video, source + "/tests/video_recon/data/small_cif.263");
  Register(Kind::Voice, source + "/resources/message.723");
  Register(Kind::Speech, source + "/tests/audio/data/hello_63.723");
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--clips=", 8) == 0) RegisterDirectory(argv[i] + 8);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
