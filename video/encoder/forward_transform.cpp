#include <algorithm>
#include <array>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/encoder/encoder_kernels.h"

namespace clipnote::h263 {

namespace {

// Basis of the orthonormal 8-point DCT in 12 fractional bits: row u holds
// c(u) cos((2x + 1) u pi / 16), c(0) = sqrt(1/8), c(u) = 1/2.
struct Basis {
  alignas(16) int16_t t[8][8];
};

Basis MakeBasis() {
  Basis b{};
  const double pi = 3.14159265358979323846;
  for (int u = 0; u < 8; ++u) {
    const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
    for (int x = 0; x < 8; ++x) {
      b.t[u][x] = static_cast<int16_t>(std::lround(4096.0 * scale * std::cos((2 * x + 1) * u * pi / 16.0)));
    }
  }
  return b;
}

const Basis& TheBasis() {
  static const Basis basis = MakeBasis();
  return basis;
}

// The row pass keeps three more fractional bits for the column pass.
constexpr int32_t kRowShift = 9;
constexpr int32_t kColumnShift = 15;

int16_t Saturate16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

// out[j][i] = sum over k of in[j][k] basis[i][k], rounded and shifted down by `shift`,
// in 16 bits: the transform of every row.
void TransformRowsPlain(int16_t out[64], const int16_t in[64], int32_t shift) {
  const Basis& b = TheBasis();
  for (int j = 0; j < 8; ++j) {
    for (int i = 0; i < 8; ++i) {
      int32_t sum = 0;
      for (int k = 0; k < 8; ++k) sum += int32_t{in[8 * j + k]} * b.t[i][k];
      out[8 * j + i] = Saturate16((sum + (1 << (shift - 1))) >> shift);
    }
  }
}

void Transpose(int16_t out[64], const int16_t in[64]) {
  for (int j = 0; j < 8; ++j) {
    for (int i = 0; i < 8; ++i) out[8 * i + j] = in[8 * j + i];
  }
}

}  // namespace

void ForwardTransformPlain(int16_t coefficients[64], const int16_t values[64]) {
  int16_t a[64];
  int16_t b[64];
  TransformRowsPlain(a, values, kRowShift);
  Transpose(b, a);
  TransformRowsPlain(a, b, kColumnShift);
  Transpose(coefficients, a);
}

#if defined(__SSE2__)

namespace {

// The four 32-bit lanes of each of four vectors summed: one total per vector.
inline __m128i SumLanes4(__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
  const __m128i t0 = _mm_add_epi32(_mm_unpacklo_epi32(m0, m1), _mm_unpackhi_epi32(m0, m1));
  const __m128i t1 = _mm_add_epi32(_mm_unpacklo_epi32(m2, m3), _mm_unpackhi_epi32(m2, m3));
  return _mm_add_epi32(_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1));
}

template <int32_t kShift>
void TransformRowsSse2(__m128i out[8], const __m128i in[8]) {
  const Basis& b = TheBasis();
  __m128i basis[8];
  for (int i = 0; i < 8; ++i) basis[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(b.t[i]));
  const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
  for (int j = 0; j < 8; ++j) {
    __m128i m[8];
    for (int i = 0; i < 8; ++i) m[i] = _mm_madd_epi16(in[j], basis[i]);
    const __m128i low = _mm_srai_epi32(_mm_add_epi32(SumLanes4(m[0], m[1], m[2], m[3]), round), kShift);
    const __m128i high = _mm_srai_epi32(_mm_add_epi32(SumLanes4(m[4], m[5], m[6], m[7]), round), kShift);
    out[j] = _mm_packs_epi32(low, high);
  }
}

void Transpose8x8(__m128i r[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

}  // namespace

void ForwardTransformSse2(int16_t coefficients[64], const int16_t values[64]) {
  __m128i rows[8];
  __m128i out[8];
  for (int j = 0; j < 8; ++j) rows[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8 * j));
  TransformRowsSse2<kRowShift>(out, rows);
  Transpose8x8(out);
  TransformRowsSse2<kColumnShift>(rows, out);
  Transpose8x8(rows);
  for (int j = 0; j < 8; ++j) _mm_storeu_si128(reinterpret_cast<__m128i*>(coefficients + 8 * j), rows[j]);
}

#endif

}  // namespace clipnote::h263
