#include "platform/gtk/wave_image.h"

#include <algorithm>
#include <cstring>

namespace clipnote::gtk {

namespace {

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr size_t kRiffHeaderBytes = 12;
constexpr size_t kChunkHeaderBytes = 8;

}  // namespace

size_t StatedWaveImageSize(const uint8_t* image) {
  if (image == nullptr || std::memcmp(image, "RIFF", 4) != 0 ||
      std::memcmp(image + 8, "WAVE", 4) != 0) {
    return 0;
  }
  return static_cast<size_t>(Read32(image + 4)) + 8;
}

std::optional<WaveSound> ReadWaveImage(const uint8_t* image, size_t available) {
  if (image == nullptr || available < kRiffHeaderBytes) return std::nullopt;
  if (std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  const size_t end = std::min(available, static_cast<size_t>(Read32(image + 4)) + 8);

  WaveSound sound;
  bool haveFormat = false;
  size_t at = kRiffHeaderBytes;
  while (end >= kChunkHeaderBytes && at <= end - kChunkHeaderBytes) {
    const uint8_t* chunk = image + at;
    const size_t length = Read32(chunk + 4);
    const size_t bodyStart = at + kChunkHeaderBytes;
    const size_t body = std::min(length, end - bodyStart);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (body < 16) return std::nullopt;
      const uint8_t* format = chunk + kChunkHeaderBytes;
      if (Read16(format) != 1) return std::nullopt;  // PCM only
      sound.channels = Read16(format + 2);
      sound.samplesPerSecond = Read32(format + 4);
      sound.bitsPerSample = Read16(format + 14);
      if (sound.channels < 1 || sound.channels > 2 || sound.samplesPerSecond == 0 ||
          (sound.bitsPerSample != 8 && sound.bitsPerSample != 16)) {
        return std::nullopt;
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return std::nullopt;
      const size_t frameBytes = static_cast<size_t>(sound.channels) * sound.bitsPerSample / 8;
      sound.samples = chunk + kChunkHeaderBytes;
      sound.bytes = body - body % frameBytes;
      return sound;
    }
    if (length > end - bodyStart) break;  // a chunk that runs past the end
    at = bodyStart + length + (length & 1);  // chunks are padded to even lengths
  }
  return std::nullopt;
}

}  // namespace clipnote::gtk
