#pragma once

// Helpers shared by the parser tests: building bit strings and pointing the decoder's reader
// at them.

#include <cstdint>
#include <string_view>
#include <vector>

#include "video/parser/bit_reader.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/video_decoder.h"

namespace parser_test {

// MSB-first bit string; spaces in text are ignored.
class BitString {
 public:
  BitString& Bits(std::string_view text) {
    for (char c : text) {
      if (c == '0' || c == '1') bits_.push_back(c == '1');
    }
    return *this;
  }
  BitString& Value(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  size_t size() const { return bits_.size(); }
  // Packed bytes, the last one padded with zero bits.
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits_.size(); ++i) {
      if (bits_[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
    return out;
  }

 private:
  std::vector<bool> bits_;
};

// Initialises the parser and reads `clip` as a memory source through windows of `windowSize`.
// The clip and the bit buffer must outlive the reading.
inline void AttachClip(const std::vector<uint8_t>& clip, std::vector<uint8_t>& bitBuffer,
                       int32_t windowSize = 8192) {
  bitBuffer.assign(2 * static_cast<size_t>(windowSize), 0xA5);
  InitBitstream(3, bitBuffer.data(), nullptr, nullptr);
  SetBitSource(kMemorySource, windowSize, clip.data(), static_cast<int64_t>(clip.size()),
               bitBuffer.data());
}

// A QCIF picture header: TR, then PTYPE with the given coding type, PQUANT, CPM 0, PEI 0.
inline BitString& AppendPictureHeader(BitString& bits, int tr, int codingType, int pquant) {
  bits.Bits("0000 0000 0000 0000 1000 00").Value(tr, 8);
  bits.Bits("10 000").Value(2, 3).Value(codingType, 1).Bits("0000").Value(pquant, 5).Bits("0 0");
  return bits;
}

}  // namespace parser_test
