#pragma once

// Bit strings for the parser tests, and pointing the decoder's reader at them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "video/parser/bit_reader.h"
#include "video/parser/bitstream_init.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/motion_vectors.h"

namespace parser_test {

using namespace clipnote::h263;

// "0101 1" -> packed MSB-first bytes, zero-padded; spaces are ignored.
inline std::vector<uint8_t> Pack(std::string_view bits) {
  std::vector<uint8_t> out;
  int n = 0;
  for (char c : bits) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
    ++n;
  }
  return out;
}

inline std::string Binary(uint32_t value, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += ((value >> i) & 1) ? '1' : '0';
  return s;
}

// Initialises the parser on `clip` (memory source, windows of `windowSize`). Clip and buffer
// must outlive the reading.
inline void AttachClip(const std::vector<uint8_t>& clip, std::vector<uint8_t>& bitBuffer,
                       int32_t windowSize = 8192) {
  bitBuffer.assign(2 * static_cast<size_t>(windowSize), 0xA5);
  InitBitstream(3, bitBuffer.data(), nullptr, nullptr);
  SetBitSource(kMemorySource, windowSize, clip.data(), static_cast<int64_t>(clip.size()),
               bitBuffer.data());
}

// Keeps a packed bit string alive while the reader works on it.
class Stream {
 public:
  explicit Stream(std::string_view bits, int32_t windowSize = 8192) : clip_(Pack(bits)) {
    AttachClip(clip_, buffer_, windowSize);
  }

 private:
  std::vector<uint8_t> clip_;
  std::vector<uint8_t> buffer_;
};

}  // namespace parser_test
