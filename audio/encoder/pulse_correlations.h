#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// What both fixed-codebook searches score pulses with: the target filtered backwards,
// d[n] = sum over i >= n of target[i] h[i - n] (the gain of a unit pulse at n against the
// target), and phi[m][n] = sum over i >= max(m, n) of h[i - m] h[i - n] (the cross-energy of
// unit pulses at m and n), both over one subframe.
struct PulseCorrelations {
  float d[kSubframeSamples];
  float phi[kSubframeSamples][kSubframeSamples];
};

void ComputePulseCorrelations(const float target[kSubframeSamples], const float h[kSubframeSamples],
                              PulseCorrelations& out);

// The weighted error of a pulse vector with common amplitude g and the given signed unit
// pulses: |target|^2 - 2 g sum s d[p] + g^2 sum sum s s' phi[p][p'].
double PulseError(const PulseCorrelations& c, double targetEnergy, const int positions[],
                  const float signs[], int count, double g);

}  // namespace clipnote::speech
