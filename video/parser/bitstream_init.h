#pragma once

// Initialisation of the whole parser.

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

// Resets reader positions and header fields, records the picture stores, sets width x height
// from `sourceFormat` and builds the VLC tables. The reader's source is set by SetBitSource.
void InitBitstream(int32_t sourceFormat, uint8_t* bitBuffer, uint8_t* previousPicture,
                   uint8_t* interpolatedReference);

}  // namespace clipnote::h263
