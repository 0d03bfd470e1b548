// Arbitrary bytes as the two clips a message carries, played by the whole
// player (start-up, speech preparation, video thread, display, close) on the
// fake platform with the real decoders. The first two bytes give the length of
// the speech clip (VOICE, prefix included); the rest after it is the video clip
// (MOVIE). However damaged the clips, the run must end cleanly.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "robustness/message_run.h"

namespace {

// The prefix only reserves the area the speech is decoded into and bounds the
// decoding; no clip decodes to more than a frame (480 bytes) per coded byte. A
// prefix beyond that is lowered to it, so that runs do not spend their time
// reserving and clearing megabytes nothing will be written to; prefixes of
// 2 GiB and more, which the player refuses or cannot reserve, are kept.
void LowerReservation(std::vector<uint8_t>& voice) {
  if (voice.size() < 4) return;
  const uint32_t reserved = voice[0] | voice[1] << 8 | voice[2] << 16 | uint32_t{voice[3]} << 24;
  const uint32_t largest = 480 * static_cast<uint32_t>(voice.size() - 4 + 1);
  if (reserved > largest && reserved < 0x80000000u) {
    for (int i = 0; i < 4; ++i) voice[i] = static_cast<uint8_t>(largest >> 8 * i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t voiceBytes = data[0] | data[1] << 8;
  data += 2;
  size -= 2;
  if (voiceBytes > size) voiceBytes = size;
  std::vector<uint8_t> voice(data, data + voiceBytes);
  const std::vector<uint8_t> movie(data + voiceBytes, data + size);
  LowerReservation(voice);
  if (!clipnote::testing::PlayMessage(movie, voice).Clean()) __builtin_trap();
  return 0;
}
