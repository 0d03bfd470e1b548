#pragma once

#include <cstdint>

#include "audio/frame_params.h"

namespace clipnote::speech {

// The largest coded frame (6.3 kbit/s); unpacking always reads from a buffer this long.
inline constexpr int kMaxCodedFrameBytes = 24;

// Length in bytes of the frame whose first byte is given: 24, 20, 4 or 1 by its low two bits.
int CodedFrameLength(uint8_t firstByte);

// Unpacks one coded frame (bits least significant first). Sets frameType and, for an active
// frame, rate. A frame with an impossible lag or gain code comes back with erased set; when
// lost is true nothing is read, erased is set and frameType is left as it was.
FrameParams UnpackFrame(const uint8_t frame[kMaxCodedFrameBytes], bool lost,
                        FrameType& frameType, Rate& rate);

}  // namespace clipnote::speech
