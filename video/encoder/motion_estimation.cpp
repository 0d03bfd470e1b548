#include "video/encoder/motion_estimation.h"

#include <cstdint>

#include "video/encoder/encoder_kernels.h"
#include "video/encoder/macroblock_syntax.h"
#include "video/encoder/vlc_codes.h"
#include "video/recon/reference_grids.h"

namespace clipnote::h263 {

namespace {

constexpr int32_t kMaxVector = 31;
constexpr int32_t kDiamondSteps = 16;
constexpr int32_t kFastDiamondSteps = 4;

int32_t VectorBits(MotionVector v, MotionVector predictor) {
  const VlcCodes& c = EncoderCodes();
  return c.mvd[MvdCodeFor(v.x, predictor.x)].length + c.mvd[MvdCodeFor(v.y, predictor.y)].length;
}

struct Best {
  MotionVector vector;
  int32_t cost;
  int32_t sad;
};

}  // namespace

bool VectorAllowed(const MotionSearch& s, int32_t row, int32_t column, MotionVector v) {
  if (v.x < -kMaxVector || v.x > kMaxVector || v.y < -kMaxVector || v.y > kMaxVector) return false;
  // Half-sample positions of the block's first and last samples.
  const int32_t left = 32 * column + v.x;
  const int32_t top = 32 * row + v.y;
  return left >= 0 && top >= 0 && left + 30 <= 2 * (s.width - 1) && top + 30 <= 2 * (s.height - 1);
}

int32_t PredictionSad(const MotionSearch& s, int32_t row, int32_t column, MotionVector v) {
  const EncoderKernels& k = EncoderKernelTable();
  const uint8_t* source = s.source + 16 * row * s.width + 16 * column;
  if ((v.x & 1) == 0 && (v.y & 1) == 0) {
    const uint8_t* ref = s.reference + (16 * row + v.y / 2) * s.width + 16 * column + v.x / 2;
    return k.sad16x16(source, s.width, ref, s.width);
  }
  uint8_t block[256];
  for (int32_t b = 0; b < 4; ++b) {
    FetchFromGridInto(block + 128 * (b >> 1) + 8 * (b & 1), 16, s.grid, 2 * s.width, 2 * s.height,
                      16 * (2 * row + (b >> 1)) + v.y, 16 * (2 * column + (b & 1)) + v.x, 2);
  }
  return k.sad16x16(source, s.width, block, 16);
}

MotionVector SearchMotion(const MotionSearch& s, int32_t row, int32_t column,
                          const MotionVector* candidates, int32_t count, MotionVector predictor,
                          int32_t* sad) {
  Best best{{0, 0}, 0, 0};
  best.sad = PredictionSad(s, row, column, best.vector);
  best.cost = best.sad + s.lambda * VectorBits(best.vector, predictor);
  const auto consider = [&](MotionVector v) {
    if (!VectorAllowed(s, row, column, v)) return false;
    const int32_t bits = VectorBits(v, predictor);
    if (s.lambda * bits >= best.cost) return false;
    const int32_t d = PredictionSad(s, row, column, v);
    const int32_t cost = d + s.lambda * bits;
    if (cost >= best.cost) return false;
    best = Best{v, cost, d};
    return true;
  };
  // Candidates in whole samples.
  for (int32_t i = 0; i < count; ++i) {
    consider(MotionVector{candidates[i].x & ~1, candidates[i].y & ~1});
  }
  // Diamond steps of one sample while they improve.
  const int32_t steps = s.fast ? kFastDiamondSteps : kDiamondSteps;
  for (int32_t step = 0; step < steps; ++step) {
    const MotionVector c = best.vector;
    bool moved = false;
    moved |= consider({c.x - 2, c.y});
    moved |= consider({c.x + 2, c.y});
    moved |= consider({c.x, c.y - 2});
    moved |= consider({c.x, c.y + 2});
    if (!moved) break;
  }
  if (s.fast) {
    // Half samples: the four nearest, then the diagonal between the better of left and
    // right and the better of up and down.
    const MotionVector c = best.vector;
    const MotionVector ring[4] = {{c.x - 1, c.y}, {c.x + 1, c.y}, {c.x, c.y - 1}, {c.x, c.y + 1}};
    int32_t costs[4];
    for (int32_t i = 0; i < 4; ++i) {
      costs[i] = INT32_MAX;
      if (!VectorAllowed(s, row, column, ring[i])) continue;
      const int32_t d = PredictionSad(s, row, column, ring[i]);
      costs[i] = d + s.lambda * VectorBits(ring[i], predictor);
      if (costs[i] < best.cost) best = Best{ring[i], costs[i], d};
    }
    consider({c.x + (costs[0] < costs[1] ? -1 : 1), c.y + (costs[2] < costs[3] ? -1 : 1)});
    *sad = best.sad;
    return best.vector;
  }
  // The diagonal neighbours once, then the half-sample ring.
  {
    const MotionVector c = best.vector;
    consider({c.x - 2, c.y - 2});
    consider({c.x + 2, c.y - 2});
    consider({c.x - 2, c.y + 2});
    consider({c.x + 2, c.y + 2});
  }
  const MotionVector c = best.vector;
  for (int32_t dy = -1; dy <= 1; ++dy) {
    for (int32_t dx = -1; dx <= 1; ++dx) {
      if (dx != 0 || dy != 0) consider({c.x + dx, c.y + dy});
    }
  }
  *sad = best.sad;
  return best.vector;
}

}  // namespace clipnote::h263
