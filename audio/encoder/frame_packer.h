#pragma once

#include <cstdint>

#include "audio/frame_params.h"
#include "audio/frame_unpacker.h"

namespace clipnote::speech {

// Packs frame parameters into a coded frame, the exact inverse of UnpackFrame: the same
// fields in the same order, least significant bit first. out must hold kMaxCodedFrameBytes;
// the frame takes 24 (6.3 kbit/s), 20 (5.3 kbit/s), 4 (SID) or 1 (untransmitted) of them,
// the rest of the buffer is cleared. Returns the frame's length. The parameters must be
// codable: lags 18..141, lagDelta of subframes 1 and 3 0..3, gain indices below the
// limit of their subframe, position and sign codes within their fields; fields that do not
// fit are cut to their width.
int PackFrame(const FrameParams& params, FrameType type, Rate rate,
              uint8_t out[kMaxCodedFrameBytes]);

}  // namespace clipnote::speech
