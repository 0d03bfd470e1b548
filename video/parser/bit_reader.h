#pragma once

// MSB-first reader of the video bitstream through a window that advances over the source.
// All operations work on the reader fields of `videoDecoder`. Past the end of the source the
// reader delivers zero bits and never touches a byte outside the source or the bit buffer.

#include <cstdint>

#include "video/parser/video_decoder.h"

// Connects the reader to a source and loads the first window. Memory source (`sourceMode` ==
// kMemorySource): `source` is the first byte of the clip and `sourceLength` its size in bytes.
// File source (any other mode): `source` points to a BitFileSource; `sourceLength` is unused.
// `bitBuffer` must hold 2 x `windowSize` bytes; `windowSize` must be at least 4. Without a
// usable source or buffer the reader reads an empty source (all zero bits).
void SetBitSource(int32_t sourceMode, int32_t windowSize, const void* source, int64_t sourceLength,
                  uint8_t* bitBuffer);

uint8_t ReadBit();
uint8_t ReadBits(int32_t n);                 // 1 <= n <= 8
int32_t PeekBits(int32_t offset, int32_t n);  // 0 <= offset <= 16, 1 <= n <= 8; consumes nothing
void AlignToByte();
void LoadFirstWindow();
void AdvanceWindow();  // used by the reader itself when bytePos reaches refillAt
void RewindWindow();   // reading restarts at the first bit of the current window

// Bits consumed from the start of the source (positions past its end count on).
int64_t BitsConsumed();
