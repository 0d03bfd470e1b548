#pragma once

// MSB-first reader of the video bitstream through a window that advances over the source.
// All operations work on the reader fields of `videoDecoder`. Past the end of the source the
// reader delivers zero bits and never touches a byte outside the source or the bit buffer.

#include <cstdint>

#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

// Connects the reader to a source and loads the first window. Memory source (`sourceMode` ==
// kMemorySource): `source` is the first byte of the clip and `sourceLength` its size in bytes.
// File source (any other mode): `source` points to a BitFileSource; `sourceLength` is unused.
// `bitBuffer` must hold 2 x `windowSize` bytes; `windowSize` must be at least 4. Without a
// usable source or buffer the reader reads an empty source (all zero bits).
void SetBitSource(int32_t sourceMode, int32_t windowSize, const void* source, int64_t sourceLength,
                  uint8_t* bitBuffer);

inline uint8_t ReadBit();
inline uint8_t ReadBits(int32_t n);          // 1 <= n <= 8
int32_t PeekBits(int32_t offset, int32_t n);  // 0 <= offset <= 16, 1 <= n <= 8; consumes nothing
inline uint32_t PeekBits16();                 // the next 16 bits; consumes nothing
inline void SkipBits(int32_t n);              // consumes n bits, 0 <= n <= 16
void SkipBitsAcrossWindow(int32_t n);         // SkipBits when the window must advance
void AlignToByte();
void LoadFirstWindow();
void AdvanceWindow();  // used by the reader itself when bytePos reaches refillAt
void RewindWindow();   // reading restarts at the first bit of the current window
// Reading restarts at the first bit of the source, as SetBitSource left it. A memory source
// loads its first window again. A file source cannot be read again: while no read has
// advanced the window it rewinds it; after that it loads the first window again from the
// first 64 bytes the file gave, which the reader keeps (so any window of 4 bytes or more
// restarts right after a picture header's fixed fields were read). Past those 64 bytes it
// only rewinds the current window.
void RestartSource();
inline void SetBitPosition(int32_t bitPos);  // within the current window

// The reads are defined here so that every syntax element's read is inlined: every bit of
// the clip passes through them.

inline void SetBitPosition(int32_t bitPos) {
  VideoDecoder& d = videoDecoder;
  d.bitPos = bitPos;
  d.bitInByte = bitPos & 7;
  d.bytePos = bitPos >> 3;
}

inline uint8_t ReadBit() {
  VideoDecoder& d = videoDecoder;
  const uint8_t bit = (d.windowStart[d.bytePos] >> (7 - d.bitInByte)) & 1;
  SetBitPosition(d.bitPos + 1);
  if (d.bytePos == d.refillAt) AdvanceWindow();
  return bit;
}

inline uint8_t ReadBits(int32_t n) {
  VideoDecoder& d = videoDecoder;
  const uint32_t mask = (1u << n) - 1;
  const int32_t s = 8 - n - d.bitInByte;
  if (s >= 0) {
    const uint8_t value = static_cast<uint8_t>((d.windowStart[d.bytePos] >> s) & mask);
    SetBitPosition(d.bitPos + n);
    if (d.bytePos == d.refillAt) AdvanceWindow();
    return value;
  }
  // The bits span two bytes: k of them come from the next one.
  const int32_t k = -s;
  const uint32_t high = (d.windowStart[d.bytePos] & (mask >> k)) << k;
  if (d.bytePos + 1 == d.refillAt) {
    d.bytePos += 1;
    AdvanceWindow();
    SetBitPosition(k);
  } else {
    SetBitPosition(d.bitPos + n);
  }
  const uint32_t low = (d.windowStart[d.bytePos] & (mask << (8 - k))) >> (8 - k);
  return static_cast<uint8_t>(high | low);
}

inline void SkipBits(int32_t n) {
  VideoDecoder& d = videoDecoder;
  const int32_t pos = d.bitPos + n;
  if ((pos >> 3) < d.refillAt) {
    SetBitPosition(pos);
  } else {
    SkipBitsAcrossWindow(n);
  }
}

// Between reads bytePos stays below refillAt = windowSize - 3, so the three bytes
// read here lie inside the window.
inline uint32_t PeekBits16() {
  const VideoDecoder& d = videoDecoder;
  const uint8_t* at = d.windowStart + d.bytePos;
  const uint32_t bits = static_cast<uint32_t>(at[0]) << 16 | static_cast<uint32_t>(at[1]) << 8 | at[2];
  return (bits >> (8 - d.bitInByte)) & 0xFFFF;
}

// Bits consumed from the start of the source (positions past its end count on).
int64_t BitsConsumed();

}  // namespace clipnote::h263
