#include "audio/encoder/frame_packer.h"

#include <algorithm>

#include "audio/frame_geometry.h"

namespace clipnote::speech {

namespace {

// Writes fields into the 192-bit frame, least significant bit first.
class FrameBitWriter {
 public:
  explicit FrameBitWriter(uint8_t* bytes) : bytes_(bytes) {}

  void Write(uint32_t value, int count) {
    for (int i = 0; i < count && position_ < kMaxCodedFrameBytes * 8; ++i, ++position_) {
      if ((value >> i) & 1u) bytes_[position_ >> 3] |= static_cast<uint8_t>(1u << (position_ & 7));
    }
  }

 private:
  uint8_t* bytes_;
  int position_ = 0;
};

constexpr int kMinimumLag = 18;
constexpr int kShortLagLimit = 58;  // 6.3 kbit/s half frames below it use the small gain table

uint32_t LagCode(int32_t lag) {
  return static_cast<uint32_t>(std::clamp(lag - kMinimumLag, 0, 123));
}

}  // namespace

int PackFrame(const FrameParams& params, FrameType type, Rate rate,
              uint8_t out[kMaxCodedFrameBytes]) {
  std::fill(out, out + kMaxCodedFrameBytes, uint8_t{0});
  FrameBitWriter bits(out);
  if (type == FrameType::Untransmitted) {
    bits.Write(3, 2);
    return 1;
  }
  const uint32_t lspIndex = static_cast<uint32_t>(params.lspIndex);
  if (type == FrameType::Sid) {
    bits.Write(2, 2);
    bits.Write(lspIndex, 24);
    bits.Write(static_cast<uint32_t>(params.sub[0].amplitudeIndex), 6);
    return 4;
  }

  const bool high = rate == Rate::Rate63;
  bits.Write(high ? 0 : 1, 2);
  bits.Write(lspIndex, 24);
  bits.Write(LagCode(params.openLoopLag[0]), 7);
  bits.Write(static_cast<uint32_t>(params.sub[1].lagDelta), 2);
  bits.Write(LagCode(params.openLoopLag[1]), 7);
  bits.Write(static_cast<uint32_t>(params.sub[3].lagDelta), 2);
  for (int s = 0; s < kSubframesPerFrame; ++s) {
    const SubframeParams& sub = params.sub[s];
    uint32_t word = static_cast<uint32_t>(sub.gainIndex * 24 + sub.amplitudeIndex);
    if (high && params.openLoopLag[s / 2] < kShortLagLimit) {
      word = (word & 0x7FFu) | (static_cast<uint32_t>(sub.pulseTrain & 1) << 11);
    }
    bits.Write(word, 12);
  }
  for (int s = 0; s < kSubframesPerFrame; ++s) bits.Write(static_cast<uint32_t>(params.sub[s].grid), 1);

  if (high) {
    bits.Write(0, 1);  // reserved
    static constexpr int kLowBits[4] = {16, 14, 16, 14};
    uint32_t highPart[4];
    for (int s = 0; s < kSubframesPerFrame; ++s) {
      highPart[s] = static_cast<uint32_t>(params.sub[s].positions) >> kLowBits[s];
    }
    bits.Write(highPart[0] * 810 + highPart[1] * 90 + highPart[2] * 9 + highPart[3], 13);
    for (int s = 0; s < kSubframesPerFrame; ++s) {
      bits.Write(static_cast<uint32_t>(params.sub[s].positions), kLowBits[s]);
    }
    static constexpr int kSignBits[4] = {6, 5, 6, 5};
    for (int s = 0; s < kSubframesPerFrame; ++s) {
      bits.Write(static_cast<uint32_t>(params.sub[s].signs), kSignBits[s]);
    }
    return 24;
  }
  for (int s = 0; s < kSubframesPerFrame; ++s) bits.Write(static_cast<uint32_t>(params.sub[s].positions), 12);
  for (int s = 0; s < kSubframesPerFrame; ++s) bits.Write(static_cast<uint32_t>(params.sub[s].signs), 4);
  return 20;
}

}  // namespace clipnote::speech
