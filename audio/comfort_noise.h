#pragma once

#include "audio/frame_geometry.h"
#include "audio/frame_params.h"

namespace clipnote::speech {

// Comfort noise for a silence frame (SID, untransmitted, or a lost frame during silence):
// a random excitation shaped like a speech excitation (adaptive vector plus 11 pulses per
// 120 samples), scaled to the noise gain and filtered by the silence descriptor's envelope.
// Writes the excitation into samples and the four subframes' LPC sets; overwrites params with
// the random lags and gain codes it drew. Updates comfortNoiseState and, in decoderState, the
// excitation history and previous LSP vector. The caller runs synthesis and the postfilters.
void DecodeComfortNoise(FrameType type, FrameParams& params, float samples[kFrameSamples],
                        LpcSets& lpc, Rate rate);

}  // namespace clipnote::speech
