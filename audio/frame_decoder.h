#pragma once

#include <cstdint>

#include "audio/frame_geometry.h"
#include "audio/frame_params.h"
#include "audio/frame_unpacker.h"

namespace clipnote::speech {

// Decodes one coded frame (any kind, or a lost one) into 240 samples in PCM units, carrying
// DecoderState and ComfortNoiseState from frame to frame. rate is the decoder's current rate;
// an active frame updates it.
void DecodeSpeechFrame(const uint8_t frame[kMaxCodedFrameBytes], bool lost, Rate& rate,
                       float samples[kFrameSamples]);

}  // namespace clipnote::speech
