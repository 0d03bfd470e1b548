#pragma once

#include <cstdint>

namespace clipnote::speech {

// The in-memory RIFF/WAVE file the speech is played from: a 44-byte header followed by
// 16-bit mono PCM at 8000 Hz.
inline constexpr uint32_t kWavHeaderBytes = 44;

// Writes the 44-byte header for dataBytes bytes of samples at image[0..44).
void WriteWavHeader(uint8_t* image, uint32_t dataBytes);

}  // namespace clipnote::speech
