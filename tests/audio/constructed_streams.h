#pragma once

// Test helper: streams with the frame kinds no encoder at hand produces, built from a 6.3
// kbit/s speech stream. Deterministic, so their decoded output can be checksummed.

#include <cstdint>
#include <random>
#include <vector>

#include "audio/frame_packer.h"

namespace clipnote::speech {

namespace test_frames {

// The speech's envelope, lags and gains re-coded at 5.3 kbit/s with random pulses; every
// third run of 20 frames stays at 6.3 kbit/s so that the rate switches too.
inline std::vector<uint8_t> ToRate53WithRandomPulses(const std::vector<uint8_t>& speech,
                                                     uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> stream;
  int index = 0;
  for (const std::vector<uint8_t>& frame : SplitFrames(speech)) {
    if (!IsSpeech(frame) || (index++ / 20) % 3 == 2) {
      Append(stream, frame);
      continue;
    }
    ActiveCodes c = CodesOf(frame);
    const ActiveCodes pulses = RandomActiveCodes(random, Rate::Rate53);
    for (int s = 0; s < 4; ++s) {
      c.gainWord[s] &= 0x7FF;  // no pulse-train flag at 5.3 kbit/s
      c.positionLow[s] = pulses.positionLow[s];
      c.signs[s] = pulses.signs[s];
    }
    Append(stream, PackActive(c, Rate::Rate53));
  }
  return stream;
}

// Talk spurts separated by silences of both kinds: SID then untransmitted frames, and
// untransmitted frames straight after speech, with a SID of another level inside each.
inline std::vector<uint8_t> WithSilences(const std::vector<uint8_t>& speech, size_t every) {
  const std::vector<std::vector<uint8_t>> frames = SplitFrames(speech);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames.size(); ++i) {
    Append(stream, frames[i]);
    if (i % every != every - 1 || !IsSpeech(frames[i])) continue;
    const uint32_t lspIndex = CodesOf(frames[i]).lspIndex;
    if ((i / every) % 2 == 0) Append(stream, PackSid(lspIndex, 20));
    for (int n = 0; n < 8; ++n) Append(stream, PackUntransmitted());
    Append(stream, PackSid(lspIndex, 30));
    for (int n = 0; n < 6; ++n) Append(stream, PackUntransmitted());
  }
  return stream;
}

// Invalid lag codes and gain indices at their limits, single and in runs of one to four.
inline std::vector<uint8_t> WithErasures(const std::vector<uint8_t>& speech) {
  const std::vector<std::vector<uint8_t>> frames = SplitFrames(speech);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames.size(); ++i) {
    const size_t phase = i % 30;
    const bool erase = phase == 10 || (phase >= 20 && phase < 20 + 1 + (i / 30) % 4);
    if (!erase || !IsSpeech(frames[i])) {
      Append(stream, frames[i]);
      continue;
    }
    ActiveCodes c = CodesOf(frames[i]);
    if (i % 2 == 0) {
      c.lagCode[i % 4 == 0 ? 0 : 1] = 124 + static_cast<uint32_t>(i % 4);
    } else {
      c.lagCode[0] = 60;
      c.gainWord[1] = 170 * 24;  // at the limit of the 170-entry table
    }
    Append(stream, PackActive(c, Rate::Rate63));
  }
  return stream;
}

// The speech frames first..last (positions in the stream) with their band-0 LSP entry
// replaced by `entry` and every other bit kept, as an edit of the coded bytes would do.
// The entry is bits 16-23 of the LSP word, which starts at bit 2 of the frame.
inline std::vector<uint8_t> WithBand0Run(const std::vector<uint8_t>& speech, size_t first,
                                         size_t last, uint32_t entry) {
  std::vector<std::vector<uint8_t>> frames = SplitFrames(speech);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames.size(); ++i) {
    std::vector<uint8_t>& frame = frames[i];
    if (i >= first && i <= last && IsSpeech(frame) && frame.size() >= 4) {
      frame[2] = static_cast<uint8_t>((frame[2] & 0x03) | (entry & 0x3F) << 2);
      frame[3] = static_cast<uint8_t>((frame[3] & 0xFC) | (entry >> 6 & 0x03));
    }
    Append(stream, frame);
  }
  return stream;
}

}  // namespace test_frames

}  // namespace clipnote::speech
