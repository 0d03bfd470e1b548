#pragma once

// Test helper: packs frame parameters into coded G.723.1 frames, the inverse of the
// decoder's unpacking, so tests can build 5.3 kbit/s, SID, untransmitted and damaged frames
// that no encoder at hand produces.

#include <cstdint>
#include <random>
#include <vector>

#include <algorithm>
#include <cstring>

#include "audio/frame_params.h"
#include "audio/frame_unpacker.h"

namespace clipnote::speech {

namespace test_frames {

class BitWriter {
 public:
  explicit BitWriter(size_t bytes) : bytes_(bytes, 0) {}
  void Write(uint32_t value, int count) {
    for (int i = 0; i < count; ++i, ++position_) {
      if ((value >> i) & 1u) bytes_[position_ / 8] |= static_cast<uint8_t>(1u << (position_ % 8));
    }
  }
  std::vector<uint8_t> Take() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

// Raw codes of an active frame, as they appear in the bit stream.
struct ActiveCodes {
  uint32_t lspIndex = 0;
  uint32_t lagCode[2] = {40, 40};  // lag = code + 18
  uint32_t lagDelta[2] = {1, 1};   // subframes 1 and 3
  uint32_t gainWord[4] = {0, 0, 0, 0};  // the 12-bit combined gain words
  uint32_t grid[4] = {0, 0, 0, 0};
  uint32_t positionHigh = 0;                // 6.3 kbit/s: the 13-bit mixed-radix word
  uint32_t positionLow[4] = {0, 0, 0, 0};   // 6.3: 16/14/16/14 bits, 5.3: 12 bits
  uint32_t signs[4] = {0, 0, 0, 0};         // 6.3: 6/5/6/5 bits, 5.3: 4 bits
};

inline std::vector<uint8_t> PackActive(const ActiveCodes& c, Rate rate) {
  const bool high = rate == Rate::Rate63;
  BitWriter bits(high ? 24 : 20);
  bits.Write(high ? 0 : 1, 2);
  bits.Write(c.lspIndex, 24);
  bits.Write(c.lagCode[0], 7);
  bits.Write(c.lagDelta[0], 2);
  bits.Write(c.lagCode[1], 7);
  bits.Write(c.lagDelta[1], 2);
  for (uint32_t w : c.gainWord) bits.Write(w, 12);
  for (uint32_t g : c.grid) bits.Write(g, 1);
  if (high) {
    bits.Write(0, 1);
    bits.Write(c.positionHigh, 13);
    bits.Write(c.positionLow[0], 16);
    bits.Write(c.positionLow[1], 14);
    bits.Write(c.positionLow[2], 16);
    bits.Write(c.positionLow[3], 14);
    bits.Write(c.signs[0], 6);
    bits.Write(c.signs[1], 5);
    bits.Write(c.signs[2], 6);
    bits.Write(c.signs[3], 5);
  } else {
    for (uint32_t p : c.positionLow) bits.Write(p, 12);
    for (uint32_t s : c.signs) bits.Write(s, 4);
  }
  return bits.Take();
}

inline std::vector<uint8_t> PackSid(uint32_t lspIndex, uint32_t gainIndex) {
  BitWriter bits(4);
  bits.Write(2, 2);
  bits.Write(lspIndex, 24);
  bits.Write(gainIndex, 6);
  return bits.Take();
}

inline std::vector<uint8_t> PackUntransmitted() { return {0x03}; }

// Valid random codes for an active frame: every lag and gain code in range, 6.3 kbit/s
// position codes below each subframe's limit.
inline ActiveCodes RandomActiveCodes(std::mt19937& random, Rate rate) {
  // The engine's output is fixed by the standard (distributions are not), so streams built
  // from a seed are the same everywhere.
  auto below = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  ActiveCodes c;
  c.lspIndex = below(1u << 24);
  for (int h = 0; h < 2; ++h) {
    c.lagCode[h] = below(124);
    c.lagDelta[h] = below(4);
  }
  for (int s = 0; s < 4; ++s) {
    const bool shortLag = rate == Rate::Rate63 && c.lagCode[s / 2] + 18 < 58;
    const uint32_t gainIndex = below(shortLag ? 85 : 170);
    uint32_t word = gainIndex * 24 + below(24);
    if (shortLag) word |= below(2) << 11;
    c.gainWord[s] = word;
    c.grid[s] = below(2);
  }
  if (rate == Rate::Rate63) {
    // Valid 6.3 kbit/s position codes: below 593775 (6 pulses) or 142506 (5 pulses).
    static constexpr uint32_t kLimit[4] = {593775, 142506, 593775, 142506};
    uint32_t code[4];
    for (int s = 0; s < 4; ++s) code[s] = below(kLimit[s]);
    const uint32_t h0 = code[0] >> 16, h1 = code[1] >> 14, h2 = code[2] >> 16, h3 = code[3] >> 14;
    c.positionHigh = h0 * 810 + h1 * 90 + h2 * 9 + h3;
    c.positionLow[0] = code[0] & 0xFFFF;
    c.positionLow[1] = code[1] & 0x3FFF;
    c.positionLow[2] = code[2] & 0xFFFF;
    c.positionLow[3] = code[3] & 0x3FFF;
    c.signs[0] = below(64);
    c.signs[1] = below(32);
    c.signs[2] = below(64);
    c.signs[3] = below(32);
  } else {
    for (int s = 0; s < 4; ++s) {
      c.positionLow[s] = below(4096);
      c.signs[s] = below(16);
    }
  }
  return c;
}

inline void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& frame) {
  stream.insert(stream.end(), frame.begin(), frame.end());
}

// Splits a stream into its frames by their first bytes (a cut last frame stays cut).
inline std::vector<std::vector<uint8_t>> SplitFrames(const std::vector<uint8_t>& stream) {
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at < stream.size();) {
    const size_t length = static_cast<size_t>(CodedFrameLength(stream[at]));
    frames.emplace_back(stream.begin() + at, stream.begin() + std::min(at + length, stream.size()));
    at += length;
  }
  return frames;
}

inline bool IsSpeech(const std::vector<uint8_t>& frame) { return (frame[0] & 3) == 0; }

// The raw codes of a 6.3 kbit/s speech frame, for re-packing (the position and sign codes
// are left at zero).
inline ActiveCodes CodesOf(const std::vector<uint8_t>& frame) {
  uint8_t buffer[kMaxCodedFrameBytes] = {};
  std::memcpy(buffer, frame.data(), std::min(frame.size(), sizeof(buffer)));
  FrameType type = FrameType::Active;
  Rate rate = Rate::Rate63;
  const FrameParams p = UnpackFrame(buffer, false, type, rate);
  ActiveCodes c;
  c.lspIndex = static_cast<uint32_t>(p.lspIndex);
  for (int h = 0; h < 2; ++h) c.lagCode[h] = static_cast<uint32_t>(p.openLoopLag[h] - 18);
  c.lagDelta[0] = static_cast<uint32_t>(p.sub[1].lagDelta);
  c.lagDelta[1] = static_cast<uint32_t>(p.sub[3].lagDelta);
  for (int s = 0; s < 4; ++s) {
    c.gainWord[s] = static_cast<uint32_t>(p.sub[s].gainIndex * 24 + p.sub[s].amplitudeIndex) |
                    static_cast<uint32_t>(p.sub[s].pulseTrain) << 11;
    c.grid[s] = static_cast<uint32_t>(p.sub[s].grid);
  }
  return c;
}

}  // namespace test_frames

}  // namespace clipnote::speech
