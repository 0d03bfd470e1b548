#include "authoring/letterbox.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace clipnote::authoring {
namespace {

// a * b / c rounded to the nearest, halves away from zero.
int64_t RescaleNearest(int64_t a, int64_t b, int64_t c) { return (a * b + c / 2) / c; }

// One dimension's filter: for each output sample, the first input sample and weights.
struct Taps {
  std::vector<int> first;
  std::vector<std::vector<float>> weights;
};

Taps MakeTaps(int in, int out) {
  Taps taps;
  const double scale = double(in) / out;  // input samples per output sample
  const double support = std::max(1.0, scale);
  for (int o = 0; o < out; ++o) {
    const double centre = (o + 0.5) * scale - 0.5;
    const int lo = static_cast<int>(std::floor(centre - support)) + 1;
    const int hi = static_cast<int>(std::ceil(centre + support)) - 1;
    std::vector<float> w;
    double sum = 0;
    for (int i = lo; i <= hi; ++i) {
      const double v = std::max(0.0, 1.0 - std::abs(i - centre) / support);
      w.push_back(static_cast<float>(v));
      sum += v;
    }
    // Edge samples repeat: fold weights that fall outside onto the border sample.
    std::vector<float> folded(std::min(hi, in - 1) - std::max(lo, 0) + 1, 0.0f);
    const int base = std::max(lo, 0);
    for (int i = lo; i <= hi; ++i) {
      folded[std::clamp(i, 0, in - 1) - base] += static_cast<float>(w[i - lo] / sum);
    }
    taps.first.push_back(base);
    taps.weights.push_back(std::move(folded));
  }
  return taps;
}

// The taps of a size pair, made once: a recording's pictures all have the same size.
const Taps& TapsFor(int in, int out) {
  thread_local int lastIn[4] = {}, lastOut[4] = {};
  thread_local Taps cached[4];
  thread_local int next = 0;
  for (int i = 0; i < 4; ++i) {
    if (lastIn[i] == in && lastOut[i] == out) return cached[i];
  }
  const int slot = next;
  next = (next + 1) % 4;
  lastIn[slot] = in;
  lastOut[slot] = out;
  cached[slot] = MakeTaps(in, out);
  return cached[slot];
}

void ScalePlane(std::span<const uint8_t> src, int srcW, int srcH, int stride,
                uint8_t* dst, int dstStride, int dstW, int dstH) {
  if (srcW == dstW && srcH == dstH) {
    // The same size: the filter is one tap of weight 1.
    for (int y = 0; y < dstH; ++y) std::copy_n(src.data() + size_t(y) * stride, dstW, dst + size_t(y) * dstStride);
    return;
  }
  const Taps& h = TapsFor(srcW, dstW);
  const Taps& v = TapsFor(srcH, dstH);
  std::vector<float> rows(size_t(srcH) * dstW);
  for (int y = 0; y < srcH; ++y) {
    const uint8_t* row = src.data() + size_t(y) * stride;
    for (int x = 0; x < dstW; ++x) {
      float sum = 0;
      const std::vector<float>& w = h.weights[x];
      for (size_t k = 0; k < w.size(); ++k) sum += w[k] * row[h.first[x] + k];
      rows[size_t(y) * dstW + x] = sum;
    }
  }
  for (int y = 0; y < dstH; ++y) {
    const std::vector<float>& w = v.weights[y];
    for (int x = 0; x < dstW; ++x) {
      float sum = 0;
      for (size_t k = 0; k < w.size(); ++k) sum += w[k] * rows[size_t(v.first[y] + k) * dstW + x];
      dst[size_t(y) * dstStride + x] = static_cast<uint8_t>(std::clamp(std::lround(sum), 0L, 255L));
    }
  }
}

bool PlaneFits(std::span<const uint8_t> plane, int w, int h, int stride) {
  return w > 0 && h > 0 && stride >= w && plane.size() >= size_t(stride) * (h - 1) + w;
}

}  // namespace

LetterboxGeometry LetterboxFor(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  // A side that rounds to nothing (a sliver of a source) keeps one pixel.
  const int w = static_cast<int>(std::clamp<int64_t>(RescaleNearest(kQcifHeight, width, height), 1, kQcifWidth));
  const int h = static_cast<int>(std::clamp<int64_t>(RescaleNearest(kQcifWidth, height, width), 1, kQcifHeight));
  // Centred on the rounded size, then the sides go down to even (4:2:0), never under 2.
  const int x = ((kQcifWidth - w) / 2) & ~1, y = ((kQcifHeight - h) / 2) & ~1;
  return {x, y, std::max(w & ~1, 2), std::max(h & ~1, 2)};
}

bool Letterbox(const SourcePicture& s, QcifPicture& out) {
  const int cw = (s.width + 1) / 2, ch = (s.height + 1) / 2;
  if (!PlaneFits(s.y, s.width, s.height, s.yStride) || !PlaneFits(s.cb, cw, ch, s.cbStride) ||
      !PlaneFits(s.cr, cw, ch, s.crStride)) {
    return false;
  }
  const LetterboxGeometry g = LetterboxFor(s.width, s.height);
  out = QcifPicture{};
  ScalePlane(s.y, s.width, s.height, s.yStride, out.y.data() + g.y * kQcifWidth + g.x, kQcifWidth,
             g.width, g.height);
  const int gcw = (g.width + 1) / 2, gch = (g.height + 1) / 2;
  const size_t at = size_t(g.y / 2) * (kQcifWidth / 2) + g.x / 2;
  ScalePlane(s.cb, cw, ch, s.cbStride, out.cb.data() + at, kQcifWidth / 2, gcw, gch);
  ScalePlane(s.cr, cw, ch, s.crStride, out.cr.data() + at, kQcifWidth / 2, gcw, gch);
  return true;
}

int TickOf(double seconds) {
  if (!(seconds > 0)) return 0;
  return static_cast<int>(std::min<int64_t>(std::llround(seconds * kTicksPerSecond), int64_t{1} << 30));
}

void TickGrid::Add(double seconds, QcifPicture picture) {
  const size_t tick = static_cast<size_t>(TickOf(seconds));
  if (frames_.empty()) {
    // The first picture also stands for the ticks before it.
    frames_.assign(tick + 1, picture);
  } else {
    while (frames_.size() <= tick) frames_.push_back(frames_.back());
  }
  // A picture earlier than the latest tick (out of order, or the same tick) replaces from there.
  std::fill(frames_.begin() + tick, frames_.end(), picture);
}

}  // namespace clipnote::authoring
