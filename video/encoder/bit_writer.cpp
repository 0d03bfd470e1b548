#include "video/encoder/bit_writer.h"

namespace clipnote::h263 {

void BitWriter::Reset(uint8_t* buffer, size_t capacity) {
  buffer_ = buffer;
  capacity_ = buffer == nullptr ? 0 : capacity;
  bitCount_ = 0;
  overflow_ = false;
}

void BitWriter::AlignWithZeros() {
  const int32_t rest = static_cast<int32_t>((8 - (bitCount_ & 7)) & 7);
  Put(0, rest);
}

}  // namespace clipnote::h263
