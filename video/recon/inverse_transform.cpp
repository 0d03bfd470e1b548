#include "video/recon/inverse_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "video/parser/video_decoder.h"

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

void Transform2d(const int32_t weights[6], int16_t coefficients[64]) {
  if (DcOnly(coefficients)) {
    // What the sixteen short-cut passes make of a DC-only block, in one step: the row
    // pass spreads DC x 8 (low 16 bits) along row 0, the column passes round it.
    const int16_t rowValue = Low16(In(coefficients[0]) << 3);
    int dc = (rowValue + 32) >> 6;
    if (dc < -256) dc = -256;
    if (dc > 255) dc = 255;
    std::fill(coefficients, coefficients + 64, static_cast<int16_t>(dc));
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

void IdctRowWith(const int32_t weights[6], int16_t* row) { RowPass(weights, row); }
void IdctColumnWith(const int32_t weights[6], int16_t* top) { ColumnPass<>(weights, top); }

void IdctToPixelsWith(const int32_t weights[6], uint8_t samples[64], int16_t coefficients[64]) {
  Transform2d(weights, coefficients);
  for (int i = 0; i < 64; ++i) {
    const int v = coefficients[i];
    samples[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
}

void IdctToResidualWith(const int32_t weights[6], int16_t coefficients[64]) {
  Transform2d(weights, coefficients);
  for (int i = 0; i < 64; ++i) {
    const int v = coefficients[i];
    coefficients[i] = static_cast<int16_t>(v < -256 ? -256 : (v > 255 ? 255 : v));
  }
}

void ComputeIdctWeights() { ComputeIdctWeightsInto(videoDecoder.idctWeights); }
void IdctRow(int16_t* row) { IdctRowWith(videoDecoder.idctWeights, row); }
void IdctColumn(int16_t* top) { IdctColumnWith(videoDecoder.idctWeights, top); }
void IdctToPixels(uint8_t samples[64], int16_t coefficients[64]) {
  IdctToPixelsWith(videoDecoder.idctWeights, samples, coefficients);
}
void IdctToResidual(int16_t coefficients[64]) {
  IdctToResidualWith(videoDecoder.idctWeights, coefficients);
}
