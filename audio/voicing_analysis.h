#pragma once

#include "audio/frame_geometry.h"

namespace clipnote::speech {

// What a good speech frame leaves behind for the frames after it.
struct Voicing {
  int concealLag = 0;  // pitch period for concealing a lost successor; 0 = unvoiced
  float energy = 0;    // energy of the frame's last 120 excitation samples
};

// Looks for a pitch period within 3 of the open-loop lag (at most 142) in the last 120
// samples of the excitation buffer E (145 history samples, then the frame). The frame counts
// as voiced when the best correlation is positive and its square exceeds one eighth of the
// product of the two energies.
Voicing AnalyseVoicing(const float excitation[kExcitationSamples], int openLoopLag);

}  // namespace clipnote::speech
