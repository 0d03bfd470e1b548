// Every speech encoder kernel's plain and SSE2 versions, taken from the two tables, give the
// same bits on the same inputs: windows of each value pool as signals, responses and gain
// terms. The encoder's checksums run whole clips with either table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "audio/encoder/encoder_kernels.h"
#include "support/kernel_inputs.h"

namespace clipnote::speech {

namespace {

using support::Append;
constexpr int kN = kSubframeSamples;

// Each runner walks the pool in overlapping windows, calls one table's kernel on each and
// returns everything the kernel wrote.
using Runner = std::vector<uint8_t> (*)(const SpeechEncoderKernels&, const std::vector<float>&);

std::vector<uint8_t> RunConvolve(const SpeechEncoderKernels& k, const std::vector<float>& pool) {
  std::vector<uint8_t> out;
  for (size_t start = 0; start + 2 * kN <= pool.size(); start += 41) {
    // x from the window, h from the pool's other end, as the search's responses come.
    float result[kN];
    k.convolveSubframe(pool.data() + start, pool.data() + pool.size() - kN - start / 2, result);
    for (float v : result) Append(out, v);
  }
  return out;
}

std::vector<uint8_t> RunTapCorrelations(const SpeechEncoderKernels& k, const std::vector<float>& pool) {
  std::vector<uint8_t> out;
  for (size_t start = 0; start + (kAdaptiveTaps + 1) * kN <= pool.size(); start += 97) {
    float filtered[kAdaptiveTaps][kN];
    for (int t = 0; t < kAdaptiveTaps; ++t) {
      std::copy_n(pool.data() + start + (t + 1) * kN, kN, filtered[t]);
    }
    float c[kTapCorrelations];
    k.tapCorrelations(pool.data() + start, filtered, c);
    for (float v : c) Append(out, v);
  }
  return out;
}

std::vector<uint8_t> RunScoreGains(const SpeechEncoderKernels& k, const std::vector<float>& pool) {
  // Both table sizes, and odd counts that leave one entry past the last pair.
  constexpr int kEntries[] = {170, 85, 1, 2, 3};
  constexpr size_t kSpan = 170 * kTapCorrelations + kTapCorrelations;
  std::vector<uint8_t> out;
  int call = 0;
  for (size_t start = 0; start + kSpan <= pool.size(); start += 1531, ++call) {
    const int entries = kEntries[call % 5];
    const auto* terms = reinterpret_cast<const float(*)[kTapCorrelations]>(pool.data() + start);
    double gains[170];
    k.scoreGains(terms, entries, pool.data() + start + 170 * kTapCorrelations, gains);
    for (int e = 0; e < entries; ++e) Append(out, gains[e]);
  }
  return out;
}

std::vector<uint8_t> RunCorrelateLags(const SpeechEncoderKernels& k, const std::vector<float>& pool) {
  // The open-loop pitch search's shape, and counts around the steps of eight and of two.
  constexpr int kShapes[][2] = {{120, 124}, {120, 125}, {60, 8}, {1, 1}, {7, 3}, {33, 2}, {120, 9}};
  constexpr int kShapeCount = sizeof kShapes / sizeof kShapes[0];
  std::vector<uint8_t> out;
  int call = 0;
  for (size_t start = 0; start + 2 * 245 <= pool.size(); start += 113, ++call) {
    const int length = kShapes[call % kShapeCount][0], count = kShapes[call % kShapeCount][1];
    double sums[125];
    k.correlateLags(pool.data() + start + 245, pool.data() + start, length, count, sums);
    for (int s = 0; s < count; ++s) Append(out, sums[s]);
  }
  return out;
}

std::vector<uint8_t> RunPulseCorrelations(const SpeechEncoderKernels& k, const std::vector<float>& pool) {
  std::vector<uint8_t> out;
  PulseCorrelations c;
  for (size_t start = 0; start + 2 * kN <= pool.size(); start += 173) {
    k.pulseCorrelations(pool.data() + start, pool.data() + pool.size() - kN - start / 2, c);
    for (float v : c.d) Append(out, v);
    for (const auto& row : c.phi) {
      for (float v : row) Append(out, v);
    }
  }
  return out;
}

std::vector<uint8_t> RunScoreLastPulse(const SpeechEncoderKernels& k, const std::vector<float>& pool) {
  // Energies of either sign (a position whose energy is not positive scores nothing).
  constexpr size_t kSpan = 2 + 5 * kTrackPositions;
  std::vector<uint8_t> out;
  for (size_t start = 0; start + kSpan <= pool.size(); start += 29) {
    double v[kSpan];
    for (size_t i = 0; i < kSpan; ++i) v[i] = pool[start + i];
    const double* arrays = v + 2;
    double scores[kTrackPositions];
    k.scoreLastPulse(v[0], v[1], arrays, arrays + 8, arrays + 16, arrays + 24, arrays + 32, scores);
    for (double s : scores) Append(out, s);
  }
  return out;
}

struct Kernel {
  const char* name;
  Runner run;
};

void PrintTo(const Kernel& kernel, std::ostream* out) { *out << kernel.name; }

const Kernel kKernels[] = {
    {"ConvolveSubframe", RunConvolve},
    {"TapCorrelations", RunTapCorrelations},
    {"ScoreGains", RunScoreGains},
    {"CorrelateLags", RunCorrelateLags},
    {"PulseCorrelations", RunPulseCorrelations},
    {"ScoreLastPulse", RunScoreLastPulse},
};

class SpeechEncoderKernelVersions : public ::testing::TestWithParam<Kernel> {};

TEST_P(SpeechEncoderKernelVersions, PlainAndSse2GiveTheSameBits) {
#if !defined(__SSE2__)
  GTEST_SKIP() << "this target has no SSE2 versions";
#else
  for (const auto& pool : support::FloatPools()) {
    const std::vector<uint8_t> plain = GetParam().run(kPlainSpeechEncoderKernels, pool.values);
    const std::vector<uint8_t> sse2 = GetParam().run(kSse2SpeechEncoderKernels, pool.values);
    ASSERT_FALSE(plain.empty()) << pool.name;
    ASSERT_EQ(plain.size(), sse2.size()) << pool.name;
    const auto mismatch = std::mismatch(plain.begin(), plain.end(), sse2.begin());
    EXPECT_TRUE(mismatch.first == plain.end())
        << pool.name << ": first difference at output byte " << (mismatch.first - plain.begin());
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(SpeechEncoder, SpeechEncoderKernelVersions, ::testing::ValuesIn(kKernels),
                         [](const ::testing::TestParamInfo<Kernel>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

}  // namespace clipnote::speech
