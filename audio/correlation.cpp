#include "audio/correlation.h"

namespace {

template <int kCount>
void CorrelateFixed(const float* x, const float* y, int length, double sums[]) {
  double acc[kCount] = {};
  for (int n = 0; n < length; ++n) {
    const double xn = x[n];
    for (int k = 0; k < kCount; ++k) acc[k] += xn * y[n + k];
  }
  for (int k = 0; k < kCount; ++k) sums[k] = acc[k];
}

}  // namespace

double Dot(const float* x, const float* y, int length) {
  double sum = 0.0;
  for (int n = 0; n < length; ++n) sum += static_cast<double>(x[n]) * y[n];
  return sum;
}

void CorrelateShifts(const float* x, const float* y, int length, int count, double sums[]) {
  if (count == kMaxShifts) return CorrelateFixed<kMaxShifts>(x, y, length, sums);
  for (int k = 0; k < count; ++k) sums[k] = Dot(x, y + k, length);
}
