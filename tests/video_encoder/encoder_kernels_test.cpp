// The encoder's kernels: the plain and the SSE2 table agree bit for bit, and the forward
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
// Both quantisers on the same coefficients: the same levels, the same count, and levels the
// kernel must not write (an intra block's DC code) left alone.
void ExpectSameLevels(const int16_t coefficients[64], int32_t quant, bool intra, const char* name) {
  int8_t plain[64], wide[64];
  for (int i = 0; i < 64; ++i) plain[i] = wide[i] = static_cast<int8_t>(0x5A ^ i);
  const int32_t plainCount = kPlainEncoderKernels.quantiseLevels(plain, coefficients, quant, intra);
  const int32_t wideCount = kSse2EncoderKernels.quantiseLevels(wide, coefficients, quant, intra);
  ASSERT_EQ(plainCount, wideCount) << name << " quant " << quant << (intra ? " intra" : " inter");
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(plain[i], wide[i]) << name << " quant " << quant << (intra ? " intra" : " inter")
                                 << " level " << i << " of coefficients from " << coefficients[0];
  }
}

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
      kPlainEncoderKernels.forwardTransform(plain, values);
      kSse2EncoderKernels.forwardTransform(wide, values);
      for (int i = 0; i < 64; ++i) ASSERT_EQ(plain[i], wide[i]) << c.name << " " << i;
      // The values as coefficients, at every quantiser, intra and inter.
      for (int32_t quant = 1; quant <= 31; ++quant) {
        ExpectSameLevels(values, quant, trial % 2 == 0, c.name);
      }
    }
  }
  // Every coefficient value at every quantiser: the SSE2 division by 2 quant is a
  // multiplication that must be exact for each of them.
  for (int32_t quant = 1; quant <= 31; ++quant) {
    for (int32_t start = -32768; start < 32768; start += 64) {
      int16_t values[64];
      for (int i = 0; i < 64; ++i) values[i] = static_cast<int16_t>(start + i);
      ExpectSameLevels(values, quant, true, "every value");
      ExpectSameLevels(values, quant, false, "every value");
    }
  }
  uint32_t state = 99;
  std::vector<uint8_t> a(48 * 40), b(48 * 40);
  for (int trial = 0; trial < 100; ++trial) {
    for (auto& x : a) x = static_cast<uint8_t>(Next(state));
    for (auto& x : b) x = static_cast<uint8_t>(trial % 2 ? Next(state) : 255 - (Next(state) & 1));
    const int off = trial % 7;
    EXPECT_EQ(kPlainEncoderKernels.sad16x16(a.data() + off, 48, b.data() + 3, 40),
              kSse2EncoderKernels.sad16x16(a.data() + off, 48, b.data() + 3, 40));
    // The 8 x 8 residual at the same strides: the values, their squares and their SAD.
    int16_t plainValues[64], wideValues[64];
    int32_t plainSad = -1, wideSad = -2;
    const int32_t plainSquares = kPlainEncoderKernels.blockResidual(
        plainValues, a.data() + off, 48, b.data() + 3, 40, &plainSad);
    const int32_t wideSquares = kSse2EncoderKernels.blockResidual(
        wideValues, a.data() + off, 48, b.data() + 3, 40, &wideSad);
    EXPECT_EQ(plainSquares, wideSquares);
    EXPECT_EQ(plainSad, wideSad);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(plainValues[i], wideValues[i]) << i;
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
