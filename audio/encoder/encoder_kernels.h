#pragma once

// The speech encoder's speed kernels as a table of function pointers. Every kernel has a
// plain version, always compiled, and an SSE2 version wherever the compiler targets SSE2;
// both give the same bits: every sum runs in double in the order the plain loop adds it, the
// SSE2 versions only putting independent sums side by side in one register.
// speechEncoderKernels, the table the encoder calls through, holds the SSE2 versions where
// they exist and the plain ones elsewhere from start-up; the tests run whole clips with
// either table by swapping it in.

#include "audio/encoder/pulse_correlations.h"
#include "audio/excitation_tables.h"
#include "audio/frame_geometry.h"

namespace clipnote::speech {

// The adaptive search's correlations of one lag: the target with each of the five filtered
// lagged vectors, then every product of two filtered vectors (k <= l, k outer).
inline constexpr int kTapCorrelations = kAdaptiveTaps + kAdaptiveTaps * (kAdaptiveTaps + 1) / 2;
// Positions of one pulse track of the 5.3 kbit/s algebraic search.
inline constexpr int kTrackPositions = 8;

struct SpeechEncoderKernels {
  // out[n] = sum over i <= n of x[i] h[n - i], in double in order of i, rounded once.
  void (*convolveSubframe)(const float x[kSubframeSamples], const float h[kSubframeSamples],
                           float out[kSubframeSamples]);
  // c as described above, each a dot product over the subframe in sample order, rounded to
  // float.
  void (*tapCorrelations)(const float target[kSubframeSamples],
                          const float filtered[kAdaptiveTaps][kSubframeSamples],
                          float c[kTapCorrelations]);
  // gains[e] = sum over i of terms[e][i] c[i], in double in order of i, for every e < entries.
  void (*scoreGains)(const float (*terms)[kTapCorrelations], int entries,
                     const float c[kTapCorrelations], double gains[]);
  // sums[k] = sum over n < length of x[n] y[n + k] for every k < count, each in order of n
  // as Dot adds it (correlation.h).
  void (*correlateLags)(const float* x, const float* y, int length, int count, double sums[]);
  // ComputePulseCorrelations (pulse_correlations.h): every sum in the order given there.
  void (*pulseCorrelations)(const float target[kSubframeSamples], const float h[kSubframeSamples],
                            PulseCorrelations& out);
  // The algebraic search's last pulse over its track, given the correlation c and energy e of
  // the three placed: for each position q, c' = c + gain[q] and
  // e' = e + self[q] + 2 ((a[q] + b[q]) + cross[q]) (its cross-energies with the three), and
  // scores[q] = c'^2 / e' where e' > 0, minus infinity elsewhere.
  void (*scoreLastPulse)(double c, double e, const double gain[kTrackPositions],
                         const double self[kTrackPositions], const double a[kTrackPositions],
                         const double b[kTrackPositions], const double cross[kTrackPositions],
                         double scores[kTrackPositions]);
};

extern const SpeechEncoderKernels kPlainSpeechEncoderKernels;
#if defined(__SSE2__)
extern const SpeechEncoderKernels kSse2SpeechEncoderKernels;
#endif

// The versions the encoder runs. Replace it only between frames, from the thread that
// encodes.
extern SpeechEncoderKernels speechEncoderKernels;

void ConvolveSubframePlain(const float x[kSubframeSamples], const float h[kSubframeSamples],
                           float out[kSubframeSamples]);
void TapCorrelationsPlain(const float target[kSubframeSamples],
                          const float filtered[kAdaptiveTaps][kSubframeSamples],
                          float c[kTapCorrelations]);
void ScoreGainsPlain(const float (*terms)[kTapCorrelations], int entries,
                     const float c[kTapCorrelations], double gains[]);
void CorrelateLagsPlain(const float* x, const float* y, int length, int count, double sums[]);
void PulseCorrelationsPlain(const float target[kSubframeSamples], const float h[kSubframeSamples],
                            PulseCorrelations& out);
void ScoreLastPulsePlain(double c, double e, const double gain[kTrackPositions],
                         const double self[kTrackPositions], const double a[kTrackPositions],
                         const double b[kTrackPositions], const double cross[kTrackPositions],
                         double scores[kTrackPositions]);
#if defined(__SSE2__)
void ConvolveSubframeSse2(const float x[kSubframeSamples], const float h[kSubframeSamples],
                          float out[kSubframeSamples]);
void TapCorrelationsSse2(const float target[kSubframeSamples],
                         const float filtered[kAdaptiveTaps][kSubframeSamples],
                         float c[kTapCorrelations]);
void ScoreGainsSse2(const float (*terms)[kTapCorrelations], int entries,
                    const float c[kTapCorrelations], double gains[]);
void CorrelateLagsSse2(const float* x, const float* y, int length, int count, double sums[]);
void PulseCorrelationsSse2(const float target[kSubframeSamples], const float h[kSubframeSamples],
                           PulseCorrelations& out);
void ScoreLastPulseSse2(double c, double e, const double gain[kTrackPositions],
                        const double self[kTrackPositions], const double a[kTrackPositions],
                        const double b[kTrackPositions], const double cross[kTrackPositions],
                        double scores[kTrackPositions]);
#endif

}  // namespace clipnote::speech
