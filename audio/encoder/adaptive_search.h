#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

struct AdaptiveChoice {
  int lag = 0;        // the subframe's pitch lag (open-loop lag + lagDelta - 1)
  int gainIndex = 0;  // entry of the gain table in use
  double error = 0;   // weighted error left by the choice
};

// Closed-loop search of the adaptive codebook of one subframe: for each lag in
// firstLag..lastLag (clamped to what history can supply), the five lagged excitation vectors
// the decoder's adaptive vector filters are passed through the weighted synthesis (h), and
// every entry of the gain table (85 entries when smallTable, else 170) is scored against
// target. history holds the 145 excitation samples before the subframe, as the decoder reads
// them.
AdaptiveChoice SearchAdaptiveCodebook(const float history[kHistorySamples],
                                      const float target[kSubframeSamples],
                                      const float h[kSubframeSamples], int firstLag, int lastLag,
                                      bool smallTable);

}  // namespace clipnote::speech
