#pragma once

// Motion search for one 16 x 16 luma macroblock against the previous picture: the given
// predictor candidates, a small diamond search around the best of them in whole samples,
// then half-sample refinement on the decoder's own interpolated grid. Vectors are in half
// samples, within -31..31 (the decoder also takes -32, -16 samples exactly; the search keeps
// to a range symmetric about zero and never sends it), with every sample they reach inside
// the picture.

#include <cstdint>

namespace clipnote::h263 {

struct MotionVector {
  int32_t x = 0;
  int32_t y = 0;
};

struct MotionSearch {
  const uint8_t* source;     // luma plane of the picture being coded
  const uint8_t* reference;  // luma plane of the previous picture (the decoder's)
  const uint8_t* grid;       // the decoder's luma grid of that picture (2 width x 2 height)
  int32_t width;
  int32_t height;
  int32_t lambda;  // weight of one vector bit against one unit of SAD
  // Fewer steps: the diamond stops after a few moves, and of the half-sample ring only the
  // four nearest positions and the diagonal between the two best of them are tried.
  bool fast = false;
};

bool VectorAllowed(const MotionSearch& search, int32_t row, int32_t column, MotionVector v);

// SAD of the macroblock against its prediction with vector v (any allowed vector).
int32_t PredictionSad(const MotionSearch& search, int32_t row, int32_t column, MotionVector v);

// The vector of least SAD + lambda x vector bits, with `predictor` the median the vector is
// coded against; *cost gets its SAD.
MotionVector SearchMotion(const MotionSearch& search, int32_t row, int32_t column,
                          const MotionVector* candidates, int32_t count, MotionVector predictor,
                          int32_t* sad);

}  // namespace clipnote::h263
