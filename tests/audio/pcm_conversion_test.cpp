#include "audio/pcm_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The batch store must convert every value exactly as the one-sample conversion does.
void ExpectBatchMatchesSingle(const std::vector<float>& values) {
  std::vector<uint8_t> out(2 * values.size() + 2, 0xA5);
  StorePcmSamples(values.data(), static_cast<int>(values.size()), out.data());
  for (size_t i = 0; i < values.size(); ++i) {
    const int16_t stored = static_cast<int16_t>(out[2 * i] | out[2 * i + 1] << 8);
    uint32_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
    ASSERT_EQ(stored, ToPcmSample(values[i])) << "value " << values[i] << " bits " << bits;
  }
  EXPECT_EQ(out[2 * values.size()], 0xA5) << "nothing written past the samples";
}

TEST(PcmConversion, BatchEqualsSingleAcrossTheFloatRange) {
  std::vector<float> values;
  for (uint64_t bits = 0; bits < (1ull << 32); bits += 4093) {
    const uint32_t pattern = static_cast<uint32_t>(bits);
    float v;
    std::memcpy(&v, &pattern, sizeof v);
    values.push_back(v);
  }
  ExpectBatchMatchesSingle(values);
}

TEST(PcmConversion, BatchEqualsSingleAtRoundingAndClippingEdges) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> values = {inf, -inf, std::numeric_limits<float>::quiet_NaN(), -0.0f, 0.0f,
                               std::numeric_limits<float>::denorm_min(), -32768.0f, 32767.0f};
  // Each half-way point and its neighbours, over the whole 16-bit range and beyond.
  for (int k = -32800; k <= 32800; ++k) {
    const float half = static_cast<float>(k) + 0.5f;
    values.push_back(half);
    values.push_back(std::nextafter(half, -inf));
    values.push_back(std::nextafter(half, inf));
  }
  values.push_back(1.0f);  // an odd count: the last samples take the one-at-a-time path
  ExpectBatchMatchesSingle(values);
}

TEST(PcmConversion, RoundsHalfAwayFromZeroClipsAndZeroesNan) {
  EXPECT_EQ(ToPcmSample(2.5f), 3);
  EXPECT_EQ(ToPcmSample(-2.5f), -3);
  EXPECT_EQ(ToPcmSample(0.49999997f), 0);
  EXPECT_EQ(ToPcmSample(32766.5f), 32767);
  EXPECT_EQ(ToPcmSample(1e9f), 32767);
  EXPECT_EQ(ToPcmSample(-32767.5f), -32768);
  EXPECT_EQ(ToPcmSample(-1e9f), -32768);
  EXPECT_EQ(ToPcmSample(std::numeric_limits<float>::quiet_NaN()), 0);
}

}  // namespace
