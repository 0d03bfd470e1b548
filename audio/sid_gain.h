#pragma once

namespace clipnote::speech {

// The comfort-noise gain quantiser of the silence descriptor: 64 levels in three segments of
// growing step (2, 4, 8 from the bases 0, 32, 96), chosen in the squared domain.

// Index 0..63 of the level nearest to the energy of 120 excitation samples, normalised per
// sample.
int QuantiseSidGain(float energy);

// The gain of a SID gain index; indices outside 0..63 are held to that range.
float DecodeSidGain(int index);

}  // namespace clipnote::speech
