#include "tools/clipnote-encode/wav_input.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

}  // namespace

bool ReadSpeechWav(const std::vector<uint8_t>& file, std::vector<int16_t>& samples,
                   std::string& error) {
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
      std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    error = "not a WAV file (no RIFF/WAVE header)";
    return false;
  }
  bool haveFormat = false;
  size_t at = 12;
  while (at + 8 <= file.size()) {
    const uint8_t* chunk = file.data() + at;
    const uint32_t length = Le32(chunk + 4);
    const size_t bodyStart = at + 8;
    const size_t available = file.size() - bodyStart;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (length < 16 || available < 16) {
        error = "the WAV format chunk is cut short";
        return false;
      }
      const uint8_t* f = file.data() + bodyStart;
      uint16_t format = Le16(f);
      if (format == kFormatExtensible && length >= 40 && available >= 40) format = Le16(f + 24);
      const uint16_t channels = Le16(f + 2);
      const uint32_t rate = Le32(f + 4);
      const uint16_t bits = Le16(f + 14);
      if (format != kFormatPcm) {
        error = "the WAV holds format " + std::to_string(format) + ", not integer PCM";
        return false;
      }
      if (bits != 16) {
        error = "the WAV holds " + std::to_string(bits) + "-bit samples; 16-bit expected";
        return false;
      }
      if (channels != 1) {
        error = "the WAV has " + std::to_string(channels) + " channels; mono expected";
        return false;
      }
      if (rate != 8000) {
        error = "the WAV is sampled at " + std::to_string(rate) + " Hz; 8000 Hz expected";
        return false;
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        error = "the WAV's data chunk comes before its format chunk";
        return false;
      }
      // A streamed WAV may declare more data than it holds: take what is there.
      const size_t bytes = length < available ? length : available;
      samples.resize(bytes / 2);
      for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(Le16(file.data() + bodyStart + 2 * i));
      }
      return true;
    }
    if (length > available) break;
    at = bodyStart + length + (length & 1);
  }
  error = haveFormat ? "the WAV has no data chunk" : "the WAV has no format chunk";
  return false;
}
