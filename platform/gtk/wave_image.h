#pragma once

// Reading a RIFF/WAVE file held in memory: the start-up sound resource and the
// player's speech image, as the sound service is handed them.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace clipnote::gtk {

struct WaveSound {
  uint16_t channels = 0;
  uint32_t samplesPerSecond = 0;
  uint16_t bitsPerSample = 0;  // 8 (unsigned) or 16 (signed, little-endian)
  const uint8_t* samples = nullptr;
  size_t bytes = 0;  // whole frames only
};

// The PCM sound in the image, reading no further than `available` bytes nor
// past the length the RIFF header states. Nothing for anything that is not
// uncompressed 8- or 16-bit PCM with one or two channels; a data chunk of no
// frames is a sound of 0 bytes.
std::optional<WaveSound> ReadWaveImage(const uint8_t* image, size_t available);

// For an image handed over by address only: how far the RIFF header says it
// reaches (its length + 8), or 0 when it is no RIFF/WAVE header.
size_t StatedWaveImageSize(const uint8_t* image);

}  // namespace clipnote::gtk
