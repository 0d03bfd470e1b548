#pragma once

#include <cstddef>
#include <cstdint>

namespace clipnote::speech {

// The embedded speech clip: a 4-byte little-endian count of PCM bytes to reserve, followed by
// the coded G.723.1 frames.
struct VoiceClip {
  uint32_t pcmCapacity = 0;        // reserved PCM bytes (the WAV image holds this + 480)
  const uint8_t* coded = nullptr;  // first coded byte
  uint32_t codedByteCount = 0;     // 0 means the message has no speech
};

enum class VoiceClipError {
  None = 0,
  TooShort,          // fewer than 4 bytes: there is no prefix to read
  CapacityTooLarge,  // the prefix plus the WAV header and one frame would overflow 32 bits
  ClipTooLarge,      // more coded bytes than a 32-bit offset can address
};

// Bytes of a WAV image around pcmCapacity bytes of samples: header, samples, one spare frame.
inline constexpr uint32_t kWavImageOverhead = 44 + 480;

// The player reserves the whole image in one block, and a 32-bit process cannot get a block
// of 2 GiB: a clip whose image would be that large or larger is refused there.
inline constexpr uint64_t kLargestReservableImage = (uint64_t{1} << 31) - 1;

// Splits a clip into prefix and frames, refusing what cannot be decoded safely.
VoiceClipError ParseVoiceClip(const uint8_t* data, size_t size, VoiceClip& clip);

// A sentence for the user about the error ("" for None).
const char* VoiceClipErrorText(VoiceClipError error);

}  // namespace clipnote::speech
