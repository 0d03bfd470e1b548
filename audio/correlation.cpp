#include "audio/correlation.h"

namespace {

// The longest stretch of y a correlation reads: the analysis length of the voicing
// search (120 samples) plus the shifts.
constexpr int kMaxSpan = 120 + kMaxShifts - 1;

template <int kCount>
void CorrelateFixed(const float* x, const float* y, int length, double sums[]) {
  // Each y sample is widened (exactly) once, not once per shift.
  double wide[kMaxSpan];
  for (int n = 0; n < length + kCount - 1; ++n) wide[n] = y[n];
  double acc[kCount] = {};
  for (int n = 0; n < length; ++n) {
    const double xn = x[n];
    for (int k = 0; k < kCount; ++k) acc[k] += xn * wide[n + k];
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
  if (count == kMaxShifts && length + kMaxShifts - 1 <= kMaxSpan) {
    return CorrelateFixed<kMaxShifts>(x, y, length, sums);
  }
  for (int k = 0; k < count; ++k) sums[k] = Dot(x, y + k, length);
}

void DotsSideBySide(const float* const x[], const float* const y[], int count, int length,
                    double sums[]) {
  double acc[3] = {};
  const int pairs = count < 3 ? count : 3;
  for (int n = 0; n < length; ++n) {
    for (int i = 0; i < pairs; ++i) acc[i] += static_cast<double>(x[i][n]) * y[i][n];
  }
  for (int i = 0; i < pairs; ++i) sums[i] = acc[i];
}
