// 5.3 kbit/s fixed codebook: exhaustive algebraic four-pulse search.
#include <cmath>
#include <limits>

#include "audio/correlation.h"
#include "audio/encoder/encoder_kernels.h"
#include "audio/encoder/fixed_codebook_search.h"
#include "audio/encoder/pulse_correlations.h"
#include "audio/excitation_tables.h"

namespace clipnote::speech {

namespace {

constexpr int kPulses = 4;
constexpr int kSharpeningLagLimit = 58;

}  // namespace

double SearchAlgebraic(const float target[kSubframeSamples], const float h[kSubframeSamples],
                       int openLoopLag, SubframeParams& sub) {
  // The decoder sharpens the pulses with 1 / (1 - b z^-T); the search sees it in h.
  float response[kSubframeSamples];
  for (int n = 0; n < kSubframeSamples; ++n) response[n] = h[n];
  if (sub.gainIndex >= 0 && sub.gainIndex < 170) {
    const int period = openLoopLag + sub.lagDelta - 1 + SharpeningLagTable[sub.gainIndex];
    const float gain = SharpeningGainTable[sub.gainIndex];
    if (period > 0 && period < kSharpeningLagLimit) {
      for (int j = period; j < kSubframeSamples; ++j) {
        response[j] = static_cast<float>(response[j] + static_cast<double>(gain) * response[j - period]);
      }
    }
  }
  PulseCorrelations c;
  ComputePulseCorrelations(target, response, c);
  const double targetEnergy = Dot(target, target, kSubframeSamples);

  double bestScore = -1;
  int best[kPulses] = {};
  int bestGrid = 0;
  for (int grid = 0; grid < 2; ++grid) {
    // Signs follow the backward-filtered target; a position past the subframe carries nothing.
    int pos[kPulses][kTrackPositions];
    float gain[kPulses][kTrackPositions];   // |d| at the position
    float sign[kPulses][kTrackPositions];
    for (int k = 0; k < kPulses; ++k) {
      for (int p = 0; p < kTrackPositions; ++p) {
        const int n = 8 * p + 2 * k + grid;
        pos[k][p] = n;
        if (n < kSubframeSamples) {
          sign[k][p] = c.d[n] >= 0 ? 1.0f : -1.0f;
          gain[k][p] = std::fabs(c.d[n]);
        } else {
          sign[k][p] = 0.0f;
          gain[k][p] = 0.0f;
        }
      }
    }
    auto phi = [&](int k, int p, int l, int q) {
      const int a = pos[k][p], b = pos[l][q];
      if (a >= kSubframeSamples || b >= kSubframeSamples) return 0.0;
      return static_cast<double>(sign[k][p] * sign[l][q] * c.phi[a][b]);
    };
    // Every pulse's gain and energy, and the cross-energies of every two tracks, once.
    double wideGain[kPulses][kTrackPositions], self[kPulses][kTrackPositions];
    double cross[kPulses][kPulses][kTrackPositions][kTrackPositions];
    for (int k = 0; k < kPulses; ++k) {
      for (int p = 0; p < kTrackPositions; ++p) {
        wideGain[k][p] = gain[k][p];
        self[k][p] = phi(k, p, k, p);
        for (int l = k + 1; l < kPulses; ++l) {
          for (int q = 0; q < kTrackPositions; ++q) cross[k][l][p][q] = phi(k, p, l, q);
        }
      }
    }
    for (int p0 = 0; p0 < kTrackPositions; ++p0) {
      const double c0 = wideGain[0][p0];
      const double e0 = self[0][p0];
      for (int p1 = 0; p1 < kTrackPositions; ++p1) {
        const double c1 = c0 + wideGain[1][p1];
        const double e1 = e0 + self[1][p1] + 2 * cross[0][1][p0][p1];
        for (int p2 = 0; p2 < kTrackPositions; ++p2) {
          const double c2 = c1 + wideGain[2][p2];
          const double e2 = e1 + self[2][p2] + 2 * (cross[0][2][p0][p2] + cross[1][2][p1][p2]);
          double scores[kTrackPositions];
          speechEncoderKernels.scoreLastPulse(c2, e2, wideGain[3], self[3], cross[0][3][p0],
                                              cross[1][3][p1], cross[2][3][p2], scores);
          for (int p3 = 0; p3 < kTrackPositions; ++p3) {
            const double score = scores[p3];
            if (score > bestScore) {
              bestScore = score;
              best[0] = p0, best[1] = p1, best[2] = p2, best[3] = p3;
              bestGrid = grid;
            }
          }
        }
      }
    }
  }

  // Codes of the chosen pulses, then the amplitude: the nearest level and its neighbours,
  // scored exactly.
  int positions[kPulses];
  float signs[kPulses];
  int count = 0;
  int32_t positionCode = 0, signCode = 0;
  for (int k = 0; k < kPulses; ++k) {
    const int n = 8 * best[k] + 2 * k + bestGrid;
    positionCode |= best[k] << (3 * k);
    const bool positive = n < kSubframeSamples ? c.d[n] >= 0 : true;
    if (positive) signCode |= 1 << k;
    if (n < kSubframeSamples) {
      positions[count] = n;
      signs[count] = positive ? 1.0f : -1.0f;
      ++count;
    }
  }
  double cross = 0, energy = 0;
  for (int i = 0; i < count; ++i) {
    cross += signs[i] * c.d[positions[i]];
    for (int j = 0; j < count; ++j) energy += signs[i] * signs[j] * c.phi[positions[i]][positions[j]];
  }
  const double optimum = energy > 0 ? cross / energy : 0;
  const int centre = NearestAmplitudeIndex(optimum);
  double bestError = std::numeric_limits<double>::max();
  int bestQ = centre;
  for (int q = centre - 1; q <= centre + 1; ++q) {
    if (q < 0 || q >= kFixedGainCount) continue;
    const double error = PulseError(c, targetEnergy, positions, signs, count, FixedGainTable[q]);
    if (error < bestError) {
      bestError = error;
      bestQ = q;
    }
  }
  sub.amplitudeIndex = bestQ;
  sub.grid = bestGrid;
  sub.pulseTrain = 0;
  sub.positions = positionCode;
  sub.signs = signCode;
  return bestError;
}

}  // namespace clipnote::speech
