#include "video/parser/motion_vectors.h"

#include <algorithm>
#include <cstring>

namespace clipnote::h263 {

namespace {

VideoDecoder& d = videoDecoder;

constexpr int32_t kPredictFromAllNeighbours = 3;

// H.263 baseline vectors: -16 to +15.5 samples, in half samples.
constexpr int32_t kMinVector = -32;
constexpr int32_t kMaxVector = 31;

bool InStore(int32_t column, int32_t row) {
  return column >= 0 && column < kMaxMbColumns && row >= 0 && row < kMaxMbRows;
}

int8_t Stored(int32_t column, int32_t row, int32_t component) {
  return d.mvStore[column * kMaxMbRows + row][component];
}

}  // namespace

void ClearMvStore() { std::memset(d.mvStore, 0, sizeof d.mvStore); }

int8_t PredictMvComponent(int32_t component, int32_t column, int32_t row) {
  if (!InStore(column, row) || component < 0 || component > 1) return 0;
  const int8_t left = column == 0 ? 0 : Stored(column - 1, row, component);
  // In a GOB with a header (and in GOB 0) the rows above are out of reach.
  if (d.mvPredictionMode != kPredictFromAllNeighbours || row == 0) return left;
  const int8_t above = Stored(column, row - 1, component);
  const bool lastColumn = column + 1 >= d.mbsPerGob || column + 1 >= kMaxMbColumns;
  const int8_t aboveRight = lastColumn ? 0 : Stored(column + 1, row - 1, component);
  const int32_t hi = std::max({left, above, aboveRight});
  const int32_t lo = std::min({left, above, aboveRight});
  return static_cast<int8_t>(left + above + aboveRight - hi - lo);
}

bool CurrentMbPosition(int32_t* column, int32_t* row) {
  if (d.mbsPerGob <= 0) return false;
  *column = d.mbIndex % d.mbsPerGob;
  *row = d.mbIndex / d.mbsPerGob;
  return InStore(*column, *row);
}

int32_t DecodeMotionVector() {
  int32_t column = 0;
  int32_t row = 0;
  if (!CurrentMbPosition(&column, &row)) return 1;
  const uint8_t codes[2] = {d.mvdCodeX, d.mvdCodeY};
  int8_t vector[2];
  bool inRange = true;
  for (int32_t c = 0; c < 2; ++c) {
    const int32_t m = codes[c];
    const int32_t diff = m - 32;
    const int32_t p = PredictMvComponent(c, column, row);
    int32_t v = static_cast<int8_t>(p + diff);
    // Of the two differences a code stands for, the one giving a vector in range is meant.
    if (v < kMinVector || v > kMaxVector) {
      v = static_cast<int8_t>(m > 32 ? p + diff - 64 : p + diff + 64);
    }
    // -32 (exactly -16 samples) is a legal vector; only values outside -32..31 fail.
    if (v < kMinVector || v > kMaxVector) inRange = false;
    vector[c] = static_cast<int8_t>(v);
  }
  d.mvX = vector[0];
  d.mvY = vector[1];
  d.mvStore[column * kMaxMbRows + row][0] = vector[0];
  d.mvStore[column * kMaxMbRows + row][1] = vector[1];
  return inRange ? 0 : 1;
}

}  // namespace clipnote::h263
