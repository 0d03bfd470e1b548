#include "audio/wav_image.h"

#include <cstring>

namespace clipnote::speech {

namespace {

void Put32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

void Put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

void WriteWavHeader(uint8_t* image, uint32_t dataBytes) {
  std::memcpy(image, "RIFF", 4);
  Put32(image + 4, dataBytes + 36);
  std::memcpy(image + 8, "WAVEfmt ", 8);
  Put32(image + 16, 16);     // format chunk length
  Put16(image + 20, 1);      // PCM
  Put16(image + 22, 1);      // mono
  Put32(image + 24, 8000);   // samples per second
  Put32(image + 28, 16000);  // bytes per second
  Put16(image + 32, 2);      // block alignment
  Put16(image + 34, 16);     // bits per sample
  std::memcpy(image + 36, "data", 4);
  Put32(image + 40, dataBytes);
}

}  // namespace clipnote::speech
