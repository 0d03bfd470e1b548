// The encoder's kernels: plain and SSE2 versions agree bit for bit, and the forward
// transform is the inverse of the decoder's.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "video/encoder/encoder_kernels.h"
#include "video/recon/inverse_transform.h"

namespace clipnote::h263 {
namespace {

uint32_t Next(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// Values of a test block: random in [low, high], or one of the extremes.
struct ValueCase {
  const char* name;
  int32_t low;
  int32_t high;
};

constexpr ValueCase kValueCases[] = {
    {"samples", 0, 255},
    {"residuals", -255, 255},
    {"small residuals", -4, 4},
    {"full 16-bit range", -32768, 32767},
    {"all highest", 32767, 32767},
    {"all lowest", -32768, -32768},
};

#if defined(__SSE2__)
TEST(EncoderKernels, PlainAndSse2Agree) {
  for (const ValueCase& c : kValueCases) {
    uint32_t state = 12345;
    for (int trial = 0; trial < 200; ++trial) {
      int16_t values[64];
      for (int16_t& v : values) {
        v = static_cast<int16_t>(c.low + static_cast<int32_t>(Next(state) % (c.high - c.low + 1)));
      }
      int16_t plain[64];
      int16_t wide[64];
      ForwardTransformPlain(plain, values);
      ForwardTransformSse2(wide, values);
      for (int i = 0; i < 64; ++i) ASSERT_EQ(plain[i], wide[i]) << c.name << " " << i;
    }
  }
  uint32_t state = 99;
  std::vector<uint8_t> a(48 * 40), b(48 * 40);
  for (int trial = 0; trial < 100; ++trial) {
    for (auto& x : a) x = static_cast<uint8_t>(Next(state));
    for (auto& x : b) x = static_cast<uint8_t>(trial % 2 ? Next(state) : 255 - (Next(state) & 1));
    const int off = trial % 7;
    EXPECT_EQ(Sad16x16Plain(a.data() + off, 48, b.data() + 3, 40),
              Sad16x16Sse2(a.data() + off, 48, b.data() + 3, 40));
  }
}
#endif

TEST(EncoderKernels, ForwardTransformInvertsTheDecodersTransform) {
  int32_t weights[6];
  ComputeIdctWeightsInto(weights);
  for (const ValueCase& c : kValueCases) {
    if (c.low < -255 || c.high > 255) continue;
    uint32_t state = 7;
    int worst = 0;
    for (int trial = 0; trial < 200; ++trial) {
      int16_t values[64];
      for (int16_t& v : values) {
        v = static_cast<int16_t>(c.low + static_cast<int32_t>(Next(state) % (c.high - c.low + 1)));
      }
      int16_t coefficients[64];
      EncoderKernelTable().forwardTransform(coefficients, values);
      IdctToResidualWith(weights, coefficients);
      for (int i = 0; i < 64; ++i) worst = std::max(worst, std::abs(coefficients[i] - values[i]));
    }
    EXPECT_LE(worst, 1) << c.name;
  }
  int16_t flat[64];
  for (int16_t& v : flat) v = 100;
  int16_t coefficients[64];
  EncoderKernelTable().forwardTransform(coefficients, flat);
  EXPECT_EQ(coefficients[0], 800);
  for (int i = 1; i < 64; ++i) EXPECT_EQ(coefficients[i], 0);
}

}  // namespace
}  // namespace clipnote::h263
