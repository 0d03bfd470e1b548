#include "video/encoder/bit_writer.h"

namespace clipnote::h263 {

void BitWriter::Reset(uint8_t* buffer, size_t capacity) {
  buffer_ = buffer;
  capacity_ = buffer == nullptr ? 0 : capacity;
  bitCount_ = 0;
  overflow_ = false;
}

void BitWriter::Put(uint32_t value, int32_t bits) {
  if (overflow_ || bits <= 0) return;
  if (bits > 32) bits = 32;
  if (static_cast<uint64_t>(bitCount_ + bits) > static_cast<uint64_t>(capacity_) * 8) {
    overflow_ = true;
    return;
  }
  for (int32_t left = bits; left > 0;) {
    const int64_t byte = bitCount_ >> 3;
    const int32_t used = static_cast<int32_t>(bitCount_ & 7);
    const int32_t room = 8 - used;
    const int32_t take = left < room ? left : room;
    const uint32_t chunk = (value >> (left - take)) & ((1u << take) - 1);
    if (used == 0) buffer_[byte] = 0;
    buffer_[byte] = static_cast<uint8_t>(buffer_[byte] | chunk << (room - take));
    bitCount_ += take;
    left -= take;
  }
}

void BitWriter::AlignWithZeros() {
  const int32_t rest = static_cast<int32_t>((8 - (bitCount_ & 7)) & 7);
  Put(0, rest);
}

}  // namespace clipnote::h263
