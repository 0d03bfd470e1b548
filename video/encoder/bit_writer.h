#pragma once

// MSB-first writer of the video bitstream into a caller-owned buffer. It never writes past the
// buffer's capacity: a write that does not fit sets the overflow flag and is dropped, as is
// everything after it.

#include <cstddef>
#include <cstdint>

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

}  // namespace clipnote::h263
