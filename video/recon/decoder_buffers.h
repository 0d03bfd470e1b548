#pragma once

// Player-sized, zero-filled buffers for the video decoder, for the programs that
// decode clips outside the player (clipnote-decode, tests, fuzzing, benchmarks).
// Allocated once; the decoder itself never allocates.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/recon/picture_decoder.h"

namespace clipnote::h263 {

struct VideoDecoderBuffers {
  std::vector<uint8_t> currentPicture = std::vector<uint8_t>(kCurrentPictureBytes);
  std::vector<uint8_t> previousPicture = std::vector<uint8_t>(kPreviousPictureBytes);
  std::vector<uint8_t> interpolatedReference = std::vector<uint8_t>(kInterpolatedReferenceBytes);
  std::vector<uint8_t> bitBuffer = std::vector<uint8_t>(kBitBufferBytes);
};

// Zeroes the buffers (as the player's start zeroed, so a clip decodes the same
// way every time) and initialises the decoder on the in-memory clip.
void StartVideoClip(VideoDecoderBuffers& buffers, const uint8_t* clip, size_t size);

// Offset in the clip of the byte holding the next unread bit (memory source).
int64_t VideoReaderOffset();

}  // namespace clipnote::h263
