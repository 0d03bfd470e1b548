#include "video/recon/inverse_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/parser/video_decoder.h"
#include "video/recon/recon_kernels.h"

namespace clipnote::h263 {

namespace {

// All transform arithmetic runs in uint32_t, which wraps exactly like 32-bit
// two's complement for +, - and x; Sar reinterprets as signed for the
// arithmetic right shift.
using u32 = uint32_t;

inline u32 Sar(u32 v, int k) { return static_cast<u32>(static_cast<int32_t>(v) >> k); }
inline int16_t Low16(u32 v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
inline u32 In(int16_t v) { return static_cast<u32>(static_cast<int32_t>(v)); }

}  // namespace

void ComputeIdctWeightsInto(int32_t weights[6]) {
  const double pi = 3.14159265358979323846;
  const int k[6] = {1, 2, 3, 5, 6, 7};
  for (int i = 0; i < 6; ++i) {
    weights[i] = static_cast<int32_t>(2048.0 * std::sqrt(2.0) * std::cos(k[i] * pi / 16.0));
  }
}

namespace {

inline void RowPass(const int32_t weights[6], int16_t* b) {
  const u32 w1 = static_cast<u32>(weights[kW1]), w2 = static_cast<u32>(weights[kW2]),
            w3 = static_cast<u32>(weights[kW3]), w5 = static_cast<u32>(weights[kW5]),
            w6 = static_cast<u32>(weights[kW6]), w7 = static_cast<u32>(weights[kW7]);
  u32 x1 = In(b[4]) << 11, x2 = In(b[6]), x3 = In(b[2]), x4 = In(b[1]), x5 = In(b[7]),
      x6 = In(b[5]), x7 = In(b[3]);
  if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
    const int16_t dc = Low16(In(b[0]) << 3);
    for (int i = 0; i < 8; ++i) b[i] = dc;
    return;
  }
  u32 x0 = (In(b[0]) << 11) + 128;

  u32 x8 = w7 * (x4 + x5);
  x4 = x8 + (w1 - w7) * x4;
  x5 = x8 - (w1 + w7) * x5;
  x8 = w3 * (x6 + x7);
  x6 = x8 - (w3 - w5) * x6;
  x7 = x8 - (w3 + w5) * x7;

  x8 = x0 + x1;
  x0 -= x1;
  x1 = w6 * (x3 + x2);
  x2 = x1 - (w2 + w6) * x2;
  x3 = x1 + (w2 - w6) * x3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;

  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = Sar(181u * (x4 + x5) + 128, 8);
  x4 = Sar(181u * (x4 - x5) + 128, 8);

  b[0] = Low16(Sar(x7 + x1, 8));
  b[1] = Low16(Sar(x3 + x2, 8));
  b[2] = Low16(Sar(x0 + x4, 8));
  b[3] = Low16(Sar(x8 + x6, 8));
  b[4] = Low16(Sar(x8 - x6, 8));
  b[5] = Low16(Sar(x0 - x4, 8));
  b[6] = Low16(Sar(x3 - x2, 8));
  b[7] = Low16(Sar(x7 - x1, 8));
}

// kLowerRowsZero: rows 4 to 7 are known to be zero, so their terms are the constant 0
// and the compiler drops the arithmetic on them (the results are those of the full pass).
template <bool kLowerRowsZero = false>
inline void ColumnPass(const int32_t weights[6], int16_t* b) {
  const u32 w1 = static_cast<u32>(weights[kW1]), w2 = static_cast<u32>(weights[kW2]),
            w3 = static_cast<u32>(weights[kW3]), w5 = static_cast<u32>(weights[kW5]),
            w6 = static_cast<u32>(weights[kW6]), w7 = static_cast<u32>(weights[kW7]);
  const auto lower = [&](int row) { return kLowerRowsZero ? u32{0} : In(b[8 * row]); };
  u32 x1 = lower(4) << 8, x2 = lower(6), x3 = In(b[8 * 2]), x4 = In(b[8 * 1]), x5 = lower(7),
      x6 = lower(5), x7 = In(b[8 * 3]);
  if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
    int dc = (b[0] + 32) >> 6;
    if (dc < -256) dc = -256;
    if (dc > 255) dc = 255;
    for (int i = 0; i < 8; ++i) b[8 * i] = static_cast<int16_t>(dc);
    return;
  }
  u32 x0 = (In(b[0]) << 8) + 8192;

  u32 x8 = w7 * (x4 + x5) + 4;
  x4 = Sar(x8 + (w1 - w7) * x4, 3);
  x5 = Sar(x8 - (w1 + w7) * x5, 3);
  x8 = w3 * (x6 + x7) + 4;
  x6 = Sar(x8 - (w3 - w5) * x6, 3);
  x7 = Sar(x8 - (w3 + w5) * x7, 3);

  x8 = x0 + x1;
  x0 -= x1;
  x1 = w6 * (x3 + x2) + 4;
  x2 = Sar(x1 - (w2 + w6) * x2, 3);
  x3 = Sar(x1 + (w2 - w6) * x3, 3);
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;

  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = Sar(181u * (x4 + x5) + 128, 8);
  x4 = Sar(181u * (x4 - x5) + 128, 8);

  b[8 * 0] = Low16(Sar(x7 + x1, 14));
  b[8 * 1] = Low16(Sar(x3 + x2, 14));
  b[8 * 2] = Low16(Sar(x0 + x4, 14));
  b[8 * 3] = Low16(Sar(x8 + x6, 14));
  b[8 * 4] = Low16(Sar(x8 - x6, 14));
  b[8 * 5] = Low16(Sar(x0 - x4, 14));
  b[8 * 6] = Low16(Sar(x3 - x2, 14));
  b[8 * 7] = Low16(Sar(x7 - x1, 14));
}

bool RowIsZero(const int16_t row[8]) {
  uint64_t halves[2];
  std::memcpy(halves, row, sizeof halves);
  return (halves[0] | halves[1]) == 0;
}

// True when every coefficient but the first is zero.
bool DcOnly(const int16_t coefficients[64]) {
  uint64_t any = static_cast<uint16_t>(coefficients[1] | coefficients[2] | coefficients[3]);
  for (int i = 1; i < 16; ++i) {
    uint64_t four;
    std::memcpy(&four, coefficients + 4 * i, sizeof four);
    any |= four;
  }
  return any == 0;
}

#if defined(__SSE2__)
// The whole transform on eight lanes at once. Each pass is the scalar pass
// regrouped: its products of a weight and one sum of two coefficients, then
// that product with a weight difference, are each the sum of two products of
// 16-bit terms (no 32-bit wrap is possible there), which pmaddwd forms
// exactly. Everything after them is the same sequence of wrapping 32-bit
// additions and arithmetic shifts, and the multiplication by 181 is done by
// shifts and additions, which wrap as the scalar product does. The short-cuts
// are not taken: the row short-cut gives what the full row pass gives, and the
// column short-cut's clamp to -256..255 is undone by nothing that the final
// clamps of both callers would not do anyway.
namespace wide {

struct PairWeights {
  __m128i w1w7, w7w1n, w5w3, w3w5n, w6w2n, w2w6;
};

__m128i Pair(int32_t low, int32_t high) {
  return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(low) |
                                             static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}

PairWeights PairsOf(const int32_t w[6]) {
  return {Pair(w[kW1], w[kW7]),  Pair(w[kW7], -w[kW1]), Pair(w[kW5], w[kW3]),
          Pair(w[kW3], -w[kW5]), Pair(w[kW6], -w[kW2]), Pair(w[kW2], w[kW6])};
}

__m128i Times181(__m128i v) {
  return _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 7), _mm_slli_epi32(v, 5)),
                       _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 4), _mm_slli_epi32(v, 2)), v));
}

// Four lanes of one pass in 32 bits: lanes 0..3 of the inputs (kHigh false) or
// 4..7. in[i] holds coefficient i of eight rows (row pass) or row i of eight
// columns (column pass).
template <bool kColumn, bool kHigh>
void HalfPass(const __m128i in[8], const PairWeights& w, __m128i out[8]) {
  const auto interleave = [](__m128i a, __m128i b) {
    return kHigh ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
  };
  // A coefficient times 2^11 (rows) or 2^8 (columns): its 16 bits placed high, shifted down.
  constexpr int kDown = kColumn ? 8 : 5;
  const __m128i zero = _mm_setzero_si128();
  __m128i x0 = _mm_srai_epi32(interleave(zero, in[0]), kDown);
  __m128i x1 = _mm_srai_epi32(interleave(zero, in[4]), kDown);
  x0 = _mm_add_epi32(x0, _mm_set1_epi32(kColumn ? 8192 : 128));
  const __m128i p17 = interleave(in[1], in[7]), p53 = interleave(in[5], in[3]),
                p26 = interleave(in[2], in[6]);
  const auto product = [&](__m128i pair, __m128i weights) {
    const __m128i sum = _mm_madd_epi16(pair, weights);
    return kColumn ? _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(4)), 3) : sum;
  };
  __m128i x4 = product(p17, w.w1w7), x5 = product(p17, w.w7w1n);
  __m128i x6 = product(p53, w.w5w3), x7 = product(p53, w.w3w5n);
  __m128i x2 = product(p26, w.w6w2n), x3 = product(p26, w.w2w6);

  __m128i x8 = _mm_add_epi32(x0, x1);
  x0 = _mm_sub_epi32(x0, x1);
  x1 = _mm_add_epi32(x4, x6);
  x4 = _mm_sub_epi32(x4, x6);
  x6 = _mm_add_epi32(x5, x7);
  x5 = _mm_sub_epi32(x5, x7);
  x7 = _mm_add_epi32(x8, x3);
  x8 = _mm_sub_epi32(x8, x3);
  x3 = _mm_add_epi32(x0, x2);
  x0 = _mm_sub_epi32(x0, x2);
  const __m128i bias = _mm_set1_epi32(128);
  x2 = _mm_srai_epi32(_mm_add_epi32(Times181(_mm_add_epi32(x4, x5)), bias), 8);
  x4 = _mm_srai_epi32(_mm_add_epi32(Times181(_mm_sub_epi32(x4, x5)), bias), 8);

  constexpr int kShift = kColumn ? 14 : 8;
  out[0] = _mm_srai_epi32(_mm_add_epi32(x7, x1), kShift);
  out[1] = _mm_srai_epi32(_mm_add_epi32(x3, x2), kShift);
  out[2] = _mm_srai_epi32(_mm_add_epi32(x0, x4), kShift);
  out[3] = _mm_srai_epi32(_mm_add_epi32(x8, x6), kShift);
  out[4] = _mm_srai_epi32(_mm_sub_epi32(x8, x6), kShift);
  out[5] = _mm_srai_epi32(_mm_sub_epi32(x0, x4), kShift);
  out[6] = _mm_srai_epi32(_mm_sub_epi32(x3, x2), kShift);
  out[7] = _mm_srai_epi32(_mm_sub_epi32(x7, x1), kShift);
}

// The low 16 bits of each 32-bit lane of a and b, as eight int16 lanes.
__m128i Low16Of(__m128i a, __m128i b) {
  a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
  b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
  return _mm_packs_epi32(a, b);
}

template <bool kColumn>
void Pass(const __m128i in[8], const PairWeights& w, __m128i out[8]) {
  __m128i low[8], high[8];
  HalfPass<kColumn, false>(in, w, low);
  HalfPass<kColumn, true>(in, w, high);
  for (int i = 0; i < 8; ++i) out[i] = Low16Of(low[i], high[i]);
}

void Transpose(__m128i v[8]) {
  const __m128i t0 = _mm_unpacklo_epi16(v[0], v[1]), t1 = _mm_unpackhi_epi16(v[0], v[1]);
  const __m128i t2 = _mm_unpacklo_epi16(v[2], v[3]), t3 = _mm_unpackhi_epi16(v[2], v[3]);
  const __m128i t4 = _mm_unpacklo_epi16(v[4], v[5]), t5 = _mm_unpackhi_epi16(v[4], v[5]);
  const __m128i t6 = _mm_unpacklo_epi16(v[6], v[7]), t7 = _mm_unpackhi_epi16(v[6], v[7]);
  const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
  const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
  const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
  const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
  v[0] = _mm_unpacklo_epi64(u0, u4);
  v[1] = _mm_unpackhi_epi64(u0, u4);
  v[2] = _mm_unpacklo_epi64(u1, u5);
  v[3] = _mm_unpackhi_epi64(u1, u5);
  v[4] = _mm_unpacklo_epi64(u2, u6);
  v[5] = _mm_unpackhi_epi64(u2, u6);
  v[6] = _mm_unpacklo_epi64(u3, u7);
  v[7] = _mm_unpackhi_epi64(u3, u7);
}

// The transform of a raster-order block, rows of the result in out[0..7].
void Transform(const int32_t weights[6], const int16_t coefficients[64], __m128i out[8]) {
  const PairWeights w = PairsOf(weights);
  __m128i v[8];
  for (int r = 0; r < 8; ++r) {
    v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
  }
  Transpose(v);  // v[k]: coefficient k of each row
  __m128i rows[8];
  Pass<false>(v, w, rows);  // rows[k]: output k of each row
  Transpose(rows);          // rows[r]: row r
  Pass<true>(rows, w, out);
}

}  // namespace wide
#endif

// True when the block takes the DC-only step (see Transform2d).
bool DcOnlyResult(const int16_t coefficients[64], int16_t* dc) {
  if (!DcOnly(coefficients)) return false;
  // What the sixteen short-cut passes make of a DC-only block, in one step: the row
  // pass spreads DC x 8 (low 16 bits) along row 0, the column passes round it.
  const int16_t rowValue = Low16(In(coefficients[0]) << 3);
  int value = (rowValue + 32) >> 6;
  if (value < -256) value = -256;
  if (value > 255) value = 255;
  *dc = static_cast<int16_t>(value);
  return true;
}

void Transform2d(const int32_t weights[6], int16_t coefficients[64]) {
  int16_t dc;
  if (DcOnlyResult(coefficients, &dc)) {
    std::fill(coefficients, coefficients + 64, dc);
    return;
  }
  // A row of zeros stays zeros in the row pass (its short-cut gives 0 x 8).
  bool lowerRowsZero = true;
  for (int r = 0; r < 8; ++r) {
    if (RowIsZero(coefficients + 8 * r)) continue;
    RowPass(weights, coefficients + 8 * r);
    if (r >= 4) lowerRowsZero = false;
  }
  if (lowerRowsZero) {
    for (int c = 0; c < 8; ++c) ColumnPass<true>(weights, coefficients + c);
  } else {
    for (int c = 0; c < 8; ++c) ColumnPass(weights, coefficients + c);
  }
}

}  // namespace

void IdctToPixelsPlain(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]) {
  Transform2d(weights, coefficients);
  for (int i = 0; i < 64; ++i) {
    const int v = coefficients[i];
    samples[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
}

void IdctToResidualPlain(const int32_t weights[6], int16_t coefficients[64]) {
  Transform2d(weights, coefficients);
  for (int i = 0; i < 64; ++i) {
    const int v = coefficients[i];
    coefficients[i] = static_cast<int16_t>(v < -256 ? -256 : (v > 255 ? 255 : v));
  }
}

#if defined(__SSE2__)
void IdctToPixelsSse2(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]) {
  int16_t dc;
  if (DcOnlyResult(coefficients, &dc)) {
    std::memset(samples, dc < 0 ? 0 : dc, 64);
    return;
  }
  __m128i rows[8];
  wide::Transform(weights, coefficients, rows);
  // The unsigned saturating pack is the clamp to 0..255.
  for (int r = 0; r < 8; r += 2) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + 8 * r),
                     _mm_packus_epi16(rows[r], rows[r + 1]));
  }
}

void IdctToResidualSse2(const int32_t weights[6], int16_t coefficients[64]) {
  int16_t dc;
  if (DcOnlyResult(coefficients, &dc)) {
    std::fill(coefficients, coefficients + 64, dc);
    return;
  }
  __m128i rows[8];
  wide::Transform(weights, coefficients, rows);
  const __m128i lowest = _mm_set1_epi16(-256), highest = _mm_set1_epi16(255);
  for (int r = 0; r < 8; ++r) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(coefficients + 8 * r),
                     _mm_max_epi16(_mm_min_epi16(rows[r], highest), lowest));
  }
}
#endif

void IdctToPixelsWith(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]) {
  reconKernels.idctToPixels(weights, samples, coefficients);
}

void IdctToResidualWith(const int32_t weights[6], int16_t coefficients[64]) {
  reconKernels.idctToResidual(weights, coefficients);
}

void ComputeIdctWeights() { ComputeIdctWeightsInto(videoDecoder.idctWeights); }
void IdctToPixels(uint8_t samples[64], int16_t coefficients[64]) {
  IdctToPixelsWith(videoDecoder.idctWeights, samples, coefficients);
}
void IdctToResidual(int16_t coefficients[64]) {
  IdctToResidualWith(videoDecoder.idctWeights, coefficients);
}

}  // namespace clipnote::h263
