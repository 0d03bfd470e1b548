#include "audio/correlation.h"

#include <gtest/gtest.h>

#include <vector>

namespace clipnote::speech {

namespace {

std::vector<float> NoiseSamples(int count, uint32_t seed) {
  std::vector<float> v(count);
  for (float& s : v) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<float>(static_cast<int32_t>(seed) >> 12) * 0.37f;
  }
  return v;
}

// The side-by-side sums must equal, bit for bit, plain sums in sample order.
TEST(Correlation, ShiftedSumsEqualPlainSumsInSampleOrder) {
  const std::vector<float> x = NoiseSamples(130, 7);
  const std::vector<float> y = NoiseSamples(140, 11);
  for (int length : {60, 120, 1}) {
    for (int count = 1; count <= kMaxShifts; ++count) {
      double sums[kMaxShifts];
      CorrelateShifts(x.data(), y.data(), length, count, sums);
      for (int k = 0; k < count; ++k) {
        EXPECT_EQ(sums[k], Dot(x.data(), y.data() + k, length)) << length << " " << count;
      }
    }
  }
}

TEST(Correlation, DotsSideBySideEqualSeparateDots) {
  const std::vector<float> a = NoiseSamples(60, 3);
  const std::vector<float> b = NoiseSamples(60, 5);
  const std::vector<float> c = NoiseSamples(60, 9);
  const float* const x[3] = {a.data(), b.data(), c.data()};
  const float* const y[3] = {c.data(), a.data(), b.data()};
  for (int count = 0; count <= 3; ++count) {
    double sums[3] = {-1.0, -1.0, -1.0};
    DotsSideBySide(x, y, count, 60, sums);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(sums[i], i < count ? Dot(x[i], y[i], 60) : -1.0) << count << " " << i;
    }
  }
}

}  // namespace

}  // namespace clipnote::speech
