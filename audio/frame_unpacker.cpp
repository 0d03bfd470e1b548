#include "audio/frame_unpacker.h"

namespace clipnote::speech {

namespace {

// Reads fields from the 192-bit frame, least significant bit first. Never reads beyond the
// 24-byte buffer: the longest packing uses exactly 192 bits.
class FrameBitReader {
 public:
  explicit FrameBitReader(const uint8_t* bytes) : bytes_(bytes) {}

  int32_t Read(int count) {
    int32_t value = 0;
    for (int i = 0; i < count; ++i) {
      const int bit = position_ < kMaxCodedFrameBytes * 8
                          ? (bytes_[position_ >> 3] >> (position_ & 7)) & 1
                          : 0;
      value |= bit << i;
      ++position_;
    }
    return value;
  }

  void Skip(int count) { position_ += count; }

 private:
  const uint8_t* bytes_;
  int position_ = 0;
};

constexpr int kFrameKindActive63 = 0;
constexpr int kFrameKindActive53 = 1;
constexpr int kFrameKindSid = 2;

constexpr int kLagCodeLimit = 123;  // lag codes 124..127 do not exist
constexpr int kMinimumLag = 18;

// Reads an open-loop lag; false for an impossible code.
bool ReadLag(FrameBitReader& bits, int32_t& lag) {
  const int32_t code = bits.Read(7);
  if (code > kLagCodeLimit) return false;
  lag = code + kMinimumLag;
  return true;
}

}  // namespace

int CodedFrameLength(uint8_t firstByte) {
  static constexpr int kLengths[4] = {24, 20, 4, 1};
  return kLengths[firstByte & 3];
}

FrameParams UnpackFrame(const uint8_t frame[kMaxCodedFrameBytes], bool lost,
                        FrameType& frameType, Rate& rate) {
  FrameParams params;
  params.erased = lost ? 1 : 0;
  if (lost) return params;

  FrameBitReader bits(frame);
  const int kind = bits.Read(2);
  if (kind == 3) {
    frameType = FrameType::Untransmitted;
    return params;
  }
  params.lspIndex = bits.Read(24);
  if (kind == kFrameKindSid) {
    params.sub[0].amplitudeIndex = bits.Read(6);
    frameType = FrameType::Sid;
    return params;
  }

  frameType = FrameType::Active;
  rate = kind == kFrameKindActive53 ? Rate::Rate53 : Rate::Rate63;

  if (!ReadLag(bits, params.openLoopLag[0])) {
    params.erased = 1;
    return params;
  }
  params.sub[1].lagDelta = bits.Read(2);
  if (!ReadLag(bits, params.openLoopLag[1])) {
    params.erased = 1;
    return params;
  }
  params.sub[3].lagDelta = bits.Read(2);
  params.sub[0].lagDelta = 1;
  params.sub[2].lagDelta = 1;

  for (int s = 0; s < 4; ++s) {
    SubframeParams& sub = params.sub[s];
    int32_t word = bits.Read(12);
    int32_t gainLimit = 170;
    sub.pulseTrain = 0;
    // Short lags at 6.3 kbit/s use the smaller gain table and spend one bit on the pulse train.
    if (rate == Rate::Rate63 && params.openLoopLag[s / 2] < 58) {
      sub.pulseTrain = (word >> 11) & 1;
      word &= 0x7FF;
      gainLimit = 85;
    }
    sub.gainIndex = word / 24;
    if (sub.gainIndex >= gainLimit) {
      params.erased = 1;
      return params;
    }
    sub.amplitudeIndex = word % 24;
  }

  for (int s = 0; s < 4; ++s) params.sub[s].grid = bits.Read(1);

  if (kind == kFrameKindActive63) {
    bits.Skip(1);  // reserved
    // The high parts of the four position codes share one 13-bit word in mixed radix.
    const int32_t m = bits.Read(13);
    params.sub[0].positions = bits.Read(16) + ((m / 810) << 16);
    params.sub[1].positions = bits.Read(14) + (((m / 90) % 9) << 14);
    params.sub[2].positions = bits.Read(16) + (((m % 90) / 9) << 16);
    params.sub[3].positions = bits.Read(14) + ((m % 9) << 14);
    params.sub[0].signs = bits.Read(6);
    params.sub[1].signs = bits.Read(5);
    params.sub[2].signs = bits.Read(6);
    params.sub[3].signs = bits.Read(5);
  } else {
    for (int s = 0; s < 4; ++s) params.sub[s].positions = bits.Read(12);
    for (int s = 0; s < 4; ++s) params.sub[s].signs = bits.Read(4);
  }
  return params;
}

}  // namespace clipnote::speech
