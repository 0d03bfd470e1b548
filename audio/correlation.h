#pragma once

namespace clipnote::speech {

// Dot products of the speech decoder's lag searches. Every sum runs in double, in sample
// order, exactly as a plain loop would add it; only independent sums share a loop, so
// their additions overlap instead of waiting on each other.

inline constexpr int kMaxShifts = 7;
// The longest x a correlation of kMaxShifts shifts takes in one pass: the analysis length
// of the voicing search.
inline constexpr int kMaxCorrelationLength = 120;

// sum of x[n] * y[n] for n < length.
double Dot(const float* x, const float* y, int length);

// sums[k] = sum of x[n] * y[n + k] for n < length, for every k < count (count <= kMaxShifts).
void CorrelateShifts(const float* x, const float* y, int length, int count, double sums[]);

// sums[i] = Dot(x[i], y[i], length) for every i < count (count <= 3), the sums running
// side by side.
void DotsSideBySide(const float* const x[], const float* const y[], int count, int length,
                    double sums[]);

// The two versions of the kernel behind CorrelateShifts for all kMaxShifts shifts
// (length <= kMaxCorrelationLength), with the same results; CorrelateShifts calls the one in
// speechKernels (speech_kernels.h).
void CorrelateAllShiftsPlain(const float* x, const float* y, int length, double sums[kMaxShifts]);
#if defined(__SSE2__)
void CorrelateAllShiftsSse2(const float* x, const float* y, int length, double sums[kMaxShifts]);
#endif

}  // namespace clipnote::speech
