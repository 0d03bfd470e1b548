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

// Prefixes asking for more than this are lowered to it, so that the fuzzer
// does not spend its memory on the reserved area; prefixes of 2 GiB and more,
// which the player refuses or cannot reserve, are kept.
constexpr uint32_t kLargestReservation = 1u << 22;

void LowerReservation(std::vector<uint8_t>& voice) {
  if (voice.size() < 4) return;
  const uint32_t reserved = voice[0] | voice[1] << 8 | voice[2] << 16 | uint32_t{voice[3]} << 24;
  if (reserved > kLargestReservation && reserved < 0x80000000u) {
    voice[2] &= 0x3F;
    voice[3] = 0;
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
