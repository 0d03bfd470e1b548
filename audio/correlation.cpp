#include "audio/correlation.h"

#include "audio/speech_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace clipnote::speech {

namespace {

// The longest stretch of y a correlation of all shifts reads.
constexpr int kMaxSpan = kMaxCorrelationLength + kMaxShifts - 1;

template <int kCount>
void DotsFixed(const float* const x[], const float* const y[], int length, double sums[]) {
  double acc[kCount] = {};
  for (int n = 0; n < length; ++n) {
    for (int i = 0; i < kCount; ++i) acc[i] += static_cast<double>(x[i][n]) * y[i][n];
  }
  for (int i = 0; i < kCount; ++i) sums[i] = acc[i];
}

}  // namespace

void CorrelateAllShiftsPlain(const float* x, const float* y, int length, double sums[kMaxShifts]) {
  // Each y sample is widened (exactly) once, not once per shift.
  double wide[kMaxSpan];
  for (int n = 0; n < length + kMaxShifts - 1; ++n) wide[n] = y[n];
  double acc[kMaxShifts] = {};
  for (int n = 0; n < length; ++n) {
    const double xn = x[n];
    for (int k = 0; k < kMaxShifts; ++k) acc[k] += xn * wide[n + k];
  }
  for (int k = 0; k < kMaxShifts; ++k) sums[k] = acc[k];
}

#if defined(__SSE2__)
void CorrelateAllShiftsSse2(const float* x, const float* y, int length, double sums[kMaxShifts]) {
  // Neighbouring shifts share a register: packed products and additions round each lane
  // exactly as the scalar ones, and every sum still runs in sample order. The count is odd,
  // so the last register's upper lane sums a padding zero and is dropped.
  constexpr int kPairs = (kMaxShifts + 1) / 2;
  double wide[kMaxSpan + 1];
  for (int n = 0; n < length + kMaxShifts - 1; ++n) wide[n] = y[n];
  wide[length + kMaxShifts - 1] = 0.0;
  __m128d acc[kPairs];
  for (int p = 0; p < kPairs; ++p) acc[p] = _mm_setzero_pd();
  for (int n = 0; n < length; ++n) {
    const __m128d xn = _mm_set1_pd(x[n]);
    for (int p = 0; p < kPairs; ++p) {
      acc[p] = _mm_add_pd(acc[p], _mm_mul_pd(xn, _mm_loadu_pd(wide + n + 2 * p)));
    }
  }
  double packed[2 * kPairs];
  for (int p = 0; p < kPairs; ++p) _mm_storeu_pd(packed + 2 * p, acc[p]);
  for (int k = 0; k < kMaxShifts; ++k) sums[k] = packed[k];
}
#endif

double Dot(const float* x, const float* y, int length) {
  double sum = 0.0;
  for (int n = 0; n < length; ++n) sum += static_cast<double>(x[n]) * y[n];
  return sum;
}

void CorrelateShifts(const float* x, const float* y, int length, int count, double sums[]) {
  if (count == kMaxShifts && length <= kMaxCorrelationLength) {
    return speechKernels.correlateAllShifts(x, y, length, sums);
  }
  for (int k = 0; k < count; ++k) sums[k] = Dot(x, y + k, length);
}

void DotsSideBySide(const float* const x[], const float* const y[], int count, int length,
                    double sums[]) {
  // A fixed count lets each sum live in its own register.
  if (count >= 3) return DotsFixed<3>(x, y, length, sums);
  if (count == 2) return DotsFixed<2>(x, y, length, sums);
  if (count == 1) return DotsFixed<1>(x, y, length, sums);
}

}  // namespace clipnote::speech
