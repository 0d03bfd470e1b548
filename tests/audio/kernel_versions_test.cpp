// Every speech kernel's plain and SSE2 versions, taken from the two tables, give the same
// bits on the same inputs. Targets without SSE2 run the plain table, and the speech must not
// depend on which.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "audio/correlation.h"
#include "audio/excitation.h"
#include "audio/excitation_tables.h"
#include "audio/pcm_conversion.h"
#include "audio/speech_kernels.h"
#include "support/kernel_inputs.h"

namespace clipnote::speech {

namespace {

enum class Version { Plain, Sse2 };

using support::Append;

// Each runner walks the pool in overlapping windows, calls one version of its kernel on
// each and returns everything the kernel wrote.
using Runner = std::vector<uint8_t> (*)(Version, const std::vector<float>&);

std::vector<uint8_t> RunCorrelation(Version version, const std::vector<float>& pool) {
  constexpr int kLengths[] = {kMaxCorrelationLength, 60, 1, 59, 119};
  constexpr size_t kSpan = kMaxCorrelationLength + kMaxShifts - 1;
  std::vector<uint8_t> out;
  int call = 0;
  for (size_t start = 0; start + kSpan <= pool.size(); start += 37, ++call) {
    const int length = kLengths[call % 5];
    double sums[kMaxShifts];
    const float* x = pool.data() + start;
    const float* y = pool.data() + pool.size() - kSpan - start;  // a different window
#if defined(__SSE2__)
    if (version == Version::Sse2) {
      kSse2SpeechKernels.correlateAllShifts(x, y, length, sums);
    } else
#endif
      kPlainSpeechKernels.correlateAllShifts(x, y, length, sums);
    for (double s : sums) Append(out, s);
  }
  return out;
}

std::vector<uint8_t> RunAdaptiveTaps(Version version, const std::vector<float>& pool) {
  constexpr size_t kLagged = kSubframeSamples + 4;
  std::vector<uint8_t> out;
  int call = 0;
  for (size_t start = 0; start + kLagged + kAdaptiveTaps <= pool.size(); start += 23, ++call) {
    double lagged[kLagged];
    for (size_t i = 0; i < kLagged; ++i) lagged[i] = pool[start + i];
    // The decoder's own taps, or taps from the pool.
    const float* taps =
        call % 2 == 0 ? AdaptiveGainTable170[call / 2 % 170] : &pool[start + kLagged];
    float filtered[kSubframeSamples];
#if defined(__SSE2__)
    if (version == Version::Sse2) {
      kSse2SpeechKernels.filterAdaptiveTaps(lagged, taps, filtered);
    } else
#endif
      kPlainSpeechKernels.filterAdaptiveTaps(lagged, taps, filtered);
    for (float v : filtered) Append(out, v);
  }
  return out;
}

std::vector<uint8_t> RunPcmStore(Version version, const std::vector<float>& pool) {
  // Counts around the eight-sample step of the packed loop, a frame, and the whole pool.
  constexpr int kCounts[] = {0, 1, 7, 8, 9, 15, 17, 240, 1001};
  constexpr uint8_t kGuard = 0xA5;
  std::vector<uint8_t> out;
  auto store = [&](const float* samples, int count) {
    std::vector<uint8_t> bytes(2 * static_cast<size_t>(count) + 2, kGuard);
#if defined(__SSE2__)
    if (version == Version::Sse2) {
      kSse2SpeechKernels.storePcmSamples(samples, count, bytes.data());
    } else
#endif
      kPlainSpeechKernels.storePcmSamples(samples, count, bytes.data());
    out.insert(out.end(), bytes.begin(), bytes.end());  // the guard bytes too
  };
  size_t start = 0;
  for (int call = 0; start + static_cast<size_t>(kCounts[call % 9]) <= pool.size(); ++call) {
    store(pool.data() + start, kCounts[call % 9]);
    start += kCounts[call % 9] + 1;
  }
  store(pool.data(), static_cast<int>(pool.size()));
  return out;
}

struct Kernel {
  const char* name;
  Runner run;
};

// Names the kernel in test output instead of dumping its bytes.
void PrintTo(const Kernel& kernel, std::ostream* out) { *out << kernel.name; }

const Kernel kKernels[] = {
    {"CorrelateAllShifts", RunCorrelation},
    {"FilterAdaptiveTaps", RunAdaptiveTaps},
    {"StorePcmSamples", RunPcmStore},
};

class SpeechKernelVersions : public ::testing::TestWithParam<Kernel> {};

TEST_P(SpeechKernelVersions, PlainAndSse2GiveTheSameBits) {
#if !defined(__SSE2__)
  GTEST_SKIP() << "this target has no SSE2 versions";
#endif
  for (const auto& pool : support::FloatPools()) {
    const std::vector<uint8_t> plain = GetParam().run(Version::Plain, pool.values);
    const std::vector<uint8_t> sse2 = GetParam().run(Version::Sse2, pool.values);
    ASSERT_FALSE(plain.empty()) << pool.name;
    ASSERT_EQ(plain.size(), sse2.size()) << pool.name;
    const auto mismatch = std::mismatch(plain.begin(), plain.end(), sse2.begin());
    EXPECT_TRUE(mismatch.first == plain.end())
        << pool.name << ": first difference at output byte " << (mismatch.first - plain.begin());
  }
}

INSTANTIATE_TEST_SUITE_P(Audio, SpeechKernelVersions, ::testing::ValuesIn(kKernels),
                         [](const ::testing::TestParamInfo<Kernel>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

}  // namespace clipnote::speech
