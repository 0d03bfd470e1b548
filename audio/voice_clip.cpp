#include "audio/voice_clip.h"

#include <limits>

namespace clipnote::speech {

VoiceClipError ParseVoiceClip(const uint8_t* data, size_t size, VoiceClip& clip) {
  clip = VoiceClip{};
  if (data == nullptr || size < 4) return VoiceClipError::TooShort;
  const uint32_t capacity = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                            static_cast<uint32_t>(data[2]) << 16 |
                            static_cast<uint32_t>(data[3]) << 24;
  // The WAV image holds header, capacity and one spare frame; its size must not wrap.
  if (capacity > std::numeric_limits<uint32_t>::max() - kWavImageOverhead) {
    return VoiceClipError::CapacityTooLarge;
  }
  if (size - 4 > std::numeric_limits<uint32_t>::max()) return VoiceClipError::ClipTooLarge;
  clip.pcmCapacity = capacity;
  clip.coded = data + 4;
  clip.codedByteCount = static_cast<uint32_t>(size - 4);
  return VoiceClipError::None;
}

const char* VoiceClipErrorText(VoiceClipError error) {
  switch (error) {
    case VoiceClipError::None:
      return "";
    case VoiceClipError::TooShort:
      return "The audio clip is damaged: it is shorter than its 4-byte length prefix.";
    case VoiceClipError::CapacityTooLarge:
      return "The audio clip is damaged: its length prefix is too large.";
    case VoiceClipError::ClipTooLarge:
      return "The audio clip is too large.";
  }
  return "The audio clip is damaged.";
}

}  // namespace clipnote::speech
