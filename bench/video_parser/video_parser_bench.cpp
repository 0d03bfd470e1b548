// Throughput of the bitstream parser alone (no reconstruction): raw bit reading, and whole
// clips parsed picture by picture as the driver does. Pass a clip with --clip=PATH, otherwise
// the committed QCIF test clip is used.

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "video/parser/bit_reader.h"
#include "video/parser/bitstream_init.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/motion_vectors.h"
#include "video/parser/picture_headers.h"

using namespace clipnote::h263;

namespace {

std::string clipPath =
    std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_parser/clips/qcif_intra_inter.263";

std::vector<uint8_t> bitBuffer(16384);

void Attach(const std::vector<uint8_t>& clip) {
  InitBitstream(3, bitBuffer.data(), nullptr, nullptr);
  SetBitSource(kMemorySource, 8192, clip.data(), static_cast<int64_t>(clip.size()),
               bitBuffer.data());
}

// Parses every picture of the attached clip; returns the number of pictures.
int ParseAllPictures() {
  VideoDecoder& d = videoDecoder;
  std::array<int8_t, 384> levels;
  int pictures = 0;
  while (ParsePictureHeader() == kParseOk && !d.endOfSequence) {
    ++pictures;
    d.mbsPerGob = d.sourceFormat == 2 ? 11 : 22;
    d.gobsPerPicture = d.sourceFormat == 2 ? 9 : 18;
    ClearMvStore();
    BeginPictureSyntax();
    bool failed = false;
    for (; d.gobIndex < d.gobsPerPicture; ++d.gobIndex) {
      d.gobHeaderPresent = 0;
      if (d.gobIndex > 0) ParseGobHeader();
      d.mvPredictionMode = d.gobHeaderPresent || d.gobIndex == 0 ? 1 : 3;
      ResetMacroblockState();
      for (int mb = 0; mb < d.mbsPerGob && !failed; ++mb) {
        d.mbIndex = static_cast<uint16_t>(d.gobIndex * d.mbsPerGob + mb);
        failed = DecodeMacroblockSyntax(&levels[0], &levels[256], &levels[320]) != 0;
      }
    }
    AlignToByte();
  }
  return pictures;
}

void BM_ReadBits(benchmark::State& state) {
  std::vector<uint8_t> clip(1 << 20);
  std::mt19937 rng(1);
  for (auto& b : clip) b = static_cast<uint8_t>(rng());
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Attach(clip);
    uint32_t sum = 0;
    for (int64_t bits = 0; bits < int64_t{8} * (1 << 20); bits += n) sum += ReadBits(n);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_ReadBits)->Arg(1)->Arg(5)->Arg(8);

void BM_ParseClip(benchmark::State& state) {
  std::ifstream in(clipPath, std::ios::binary);
  const std::vector<uint8_t> clip{std::istreambuf_iterator<char>(in), {}};
  if (clip.empty()) {
    state.SkipWithError(("cannot read " + clipPath).c_str());
    return;
  }
  int pictures = 0;
  for (auto _ : state) {
    Attach(clip);
    pictures = ParseAllPictures();
  }
  state.counters["pictures/s"] =
      benchmark::Counter(static_cast<double>(pictures) * state.iterations(), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(clip.size()));
}
BENCHMARK(BM_ParseClip);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--clip=", 7) == 0) clipPath = argv[i] + 7;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
