#pragma once

// MSB-first writer of the video bitstream into a caller-owned buffer. It never writes past the
// buffer's capacity: a write that does not fit sets the overflow flag and is dropped, as is
// everything after it.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace clipnote::h263 {

class BitWriter {
 public:
  void Reset(uint8_t* buffer, size_t capacity);
  // The low `bits` bits of `value`, most significant first; 0 <= bits <= 32.
  void Put(uint32_t value, int32_t bits);
  // Zero bits up to the next byte boundary.
  void AlignWithZeros();
  int64_t BitCount() const { return bitCount_; }
  // Bytes started so far (the last one may be partly written).
  size_t Bytes() const { return static_cast<size_t>((bitCount_ + 7) / 8); }
  bool Overflowed() const { return overflow_; }

 private:
  uint8_t* buffer_ = nullptr;
  size_t capacity_ = 0;
  int64_t bitCount_ = 0;
  bool overflow_ = false;
};

inline void BitWriter::Put(uint32_t value, int32_t bits) {
  if (overflow_ || bits <= 0) return;
  if (bits > 32) bits = 32;
  if (static_cast<uint64_t>(bitCount_ + bits) > static_cast<uint64_t>(capacity_) * 8) {
    overflow_ = true;
    return;
  }
  // The bits go in at most five bytes: the partly written one keeps its first `used` bits.
  const int64_t byte = bitCount_ >> 3;
  const int32_t used = static_cast<int32_t>(bitCount_ & 7);
  const uint64_t mask = bits == 32 ? 0xFFFFFFFFu : (uint64_t{1} << bits) - 1;
  const uint64_t chunk = (uint64_t{value} & mask) << (64 - used - bits);
  uint8_t* out = buffer_ + byte;
  const uint64_t kept = used == 0 ? 0 : uint64_t{static_cast<uint8_t>(out[0] & (0xFF00u >> used))};
  const uint64_t word = (kept << 56) | chunk;
  bitCount_ += bits;
  // With eight bytes of room the whole word is stored at once (the bytes past the new bits
  // are zeros, and are written again before they count).
  if constexpr (std::endian::native == std::endian::little) {
    if (static_cast<uint64_t>(byte) + 8 <= capacity_) {
      const uint64_t big = __builtin_bswap64(word);
      std::memcpy(out, &big, 8);
      return;
    }
  }
  const int32_t count = (used + bits + 7) >> 3;
  for (int32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(word >> (56 - 8 * i));
}

}  // namespace clipnote::h263
