// 6.3 kbit/s fixed codebook: multipulse search with one common amplitude.
#include <cmath>
#include <limits>

#include "audio/correlation.h"
#include "audio/encoder/fixed_codebook_search.h"
#include "audio/encoder/pulse_correlations.h"
#include "audio/excitation_tables.h"

namespace clipnote::speech {

namespace {

constexpr int kSlots = 30;
constexpr int kMaxPulses = 6;
constexpr int kPulseTrainLagLimit = 60;

struct Candidate {
  double error = std::numeric_limits<double>::max();
  int amplitudeIndex = 0;
  int grid = 0;
  int train = 0;
  int slot[kMaxPulses] = {};
  float sign[kMaxPulses] = {};
};

// Places count pulses of amplitude g one at a time on the grid, each where the remaining
// correlation is largest, and scores the result.
void PlacePulses(const PulseCorrelations& c, double targetEnergy, int grid, int count, int q,
                 int train, Candidate& best) {
  const double g = FixedGainTable[q];
  double remaining[kSlots];
  for (int t = 0; t < kSlots; ++t) remaining[t] = c.d[grid + 2 * t];
  bool used[kSlots] = {};
  int positions[kMaxPulses];
  Candidate trial;
  for (int p = 0; p < count; ++p) {
    int pick = -1;
    for (int t = 0; t < kSlots; ++t) {
      if (!used[t] && (pick < 0 || std::fabs(remaining[t]) > std::fabs(remaining[pick]))) pick = t;
    }
    used[pick] = true;
    const float sign = remaining[pick] >= 0 ? 1.0f : -1.0f;
    trial.slot[p] = pick;
    trial.sign[p] = sign;
    positions[p] = grid + 2 * pick;
    for (int t = 0; t < kSlots; ++t) {
      remaining[t] -= sign * g * c.phi[positions[p]][grid + 2 * t];
    }
  }
  trial.error = PulseError(c, targetEnergy, positions, trial.sign, count, g);
  if (trial.error < best.error) {
    trial.amplitudeIndex = q;
    trial.grid = grid;
    trial.train = train;
    best = trial;
  }
}

// The combinatorial position code and the sign bits of the decoder's multipulse layout.
void EncodePulses(const Candidate& chosen, int count, SubframeParams& sub) {
  bool occupied[kSlots] = {};
  bool negative[kSlots] = {};
  for (int p = 0; p < count; ++p) {
    occupied[chosen.slot[p]] = true;
    negative[chosen.slot[p]] = chosen.sign[p] < 0;
  }
  int32_t code = 0;
  int32_t signs = 0;
  int left = count;
  int row = kBinomialRows - count;
  for (int t = 0; t < kSlots && row < kBinomialRows; ++t) {
    if (!occupied[t]) {
      code += BinomialTable.value[row][t];
      continue;
    }
    --left;
    if (negative[t]) signs |= 1 << left;
    ++row;
  }
  sub.positions = code;
  sub.signs = signs;
}

}  // namespace

int NearestAmplitudeIndex(double amplitude) {
  int q = 0;
  while (q + 1 < kFixedGainCount &&
         amplitude * amplitude > static_cast<double>(FixedGainTable[q]) * FixedGainTable[q + 1]) {
    ++q;
  }
  return q;
}

double SearchMultipulse(const float target[kSubframeSamples], const float h[kSubframeSamples],
                        int subframe, int openLoopLag, SubframeParams& sub) {
  const int count = PulseCountTable[subframe];
  const double targetEnergy = Dot(target, target, kSubframeSamples);
  const bool trainAllowed = openLoopLag < kPulseTrainLagLimit;

  Candidate best;
  PulseCorrelations c;
  for (int train = 0; train <= (trainAllowed ? 1 : 0); ++train) {
    float response[kSubframeSamples];
    for (int n = 0; n < kSubframeSamples; ++n) {
      double sum = 0;
      for (int i = n; i >= 0; i -= (train ? openLoopLag : kSubframeSamples)) sum += h[i];
      response[n] = static_cast<float>(sum);
    }
    ComputePulseCorrelations(target, response, c);
    for (int grid = 0; grid < 2; ++grid) {
      // Amplitude estimate from the strongest single pulse on the grid.
      int peak = grid;
      for (int n = grid; n < kSubframeSamples; n += 2) {
        if (std::fabs(c.d[n]) > std::fabs(c.d[peak])) peak = n;
      }
      const double estimate = c.phi[peak][peak] > 0 ? std::fabs(c.d[peak]) / c.phi[peak][peak] : 0;
      const int centre = NearestAmplitudeIndex(estimate);
      for (int q = centre - 2; q <= centre + 1; ++q) {
        if (q < 0 || q >= kFixedGainCount) continue;
        PlacePulses(c, targetEnergy, grid, count, q, train, best);
      }
    }
  }
  sub.amplitudeIndex = best.amplitudeIndex;
  sub.grid = best.grid;
  sub.pulseTrain = best.train;
  EncodePulses(best, count, sub);
  return best.error;
}

}  // namespace clipnote::speech
