#include "video/parser/block_syntax.h"

#include <cstring>

#include "video/parser/bit_reader.h"
#include "video/parser/vlc_tables.h"

namespace clipnote::h263 {

namespace {

constexpr int32_t kBlockSize = 64;

constexpr uint32_t kEscapeEvent = 1u << 5;  // in VlcTables::tcoefEvents

// The most bytes one block's events can span: 65 events (the 65th fails) of
// at most 22 bits, and the 8 bytes the last one may be loaded from.
constexpr int32_t kMostBlockBytes = (65 * 22 + 7) / 8 + 8;

// ReadCoefficients for a block that surely ends inside the current window,
// so that no event can reach the point where the window advances. The coming
// bits are kept left-aligned in a 64-bit register, reloaded from the window
// whenever fewer than one event's worth (22 bits) remain, so that each event
// costs one table read on the way to the next; the result is exactly what
// DecodeTcoef gives event by event.
int32_t ReadCoefficientsInWindow(int8_t* block, int32_t pos) {
  VideoDecoder& d = videoDecoder;
  const VlcTables& t = d.vlc;
  const uint8_t* window = d.windowStart;
  int32_t bit = d.bitPos;
  uint64_t cache = 0;
  int32_t valid = 0;  // bits of `cache` that come from the window
  int32_t result = 0;
  for (;;) {
    if (valid < 22) {
      uint64_t bytes;
      std::memcpy(&bytes, window + (bit >> 3), sizeof bytes);
      cache = __builtin_bswap64(bytes) << (bit & 7);
      valid = 64 - (bit & 7);
    }
    const uint32_t event = t.tcoefEvents[cache >> 52];
    if (event == 0) {
      bit += 13;
      result = 1;
      break;
    }
    const uint32_t word = static_cast<uint32_t>(cache >> 32);
    const int32_t codeBits = static_cast<int32_t>(event & 15);
    // Both readings are formed and one is chosen, so that escapes, frequent in busy
    // pictures, cost no mispredicted branch. After an ESCAPE code (7 bits) come LAST,
    // RUN (6 bits) and LEVEL (8 bits); after any other code, the sign.
    const bool escape = (event & kEscapeEvent) != 0;
    const int32_t magnitude = static_cast<int32_t>(event >> 16);
    const int32_t signedLevel = ((word >> (31 - codeBits)) & 1) != 0 ? -magnitude : magnitude;
    const int32_t last = escape ? static_cast<int32_t>((word >> (31 - codeBits)) & 1)
                                : static_cast<int32_t>((event >> 4) & 1);
    const int32_t run = escape ? static_cast<int32_t>((word >> (25 - codeBits)) & 63)
                               : static_cast<int32_t>((event >> 8) & 63);
    const int32_t level =
        escape ? static_cast<int8_t>((word >> (17 - codeBits)) & 255) : signedLevel;
    const int32_t used = codeBits + (escape ? 15 : 1);
    bit += used;
    cache <<= used;
    valid -= used;
    if (pos + run >= kBlockSize) {
      result = 1;
      break;
    }
    block[pos + run] = static_cast<int8_t>(level);
    pos += run + 1;
    if (last != 0) break;
  }
  SetBitPosition(bit);
  return result;
}

// Reads TCOEF events into block[pos..63] until LAST; pos is 0, or 1 after an intra DC.
// A run that would place a coefficient at position 64 or beyond fails the block before
// anything is written for that event. The positions the events skip are zero: the block
// is cleared first.
int32_t ReadCoefficients(int8_t* block, int32_t pos) {
  // Blocks start at 0, or at 1 after an intra DC, which is kept: a clear of fixed
  // size is a few wide stores where one of varying size is a slow string store.
  const int8_t first = block[0];
  std::memset(block, 0, kBlockSize);
  if (pos > 0) block[0] = first;
  if (videoDecoder.bytePos + kMostBlockBytes < videoDecoder.refillAt) {
    return ReadCoefficientsInWindow(block, pos);
  }
  int32_t last = 0;
  while (last == 0) {
    int8_t level = 0;
    uint8_t run = 0;
    if (DecodeTcoef(&level, &run, &last) != 0) return 1;
    if (pos + run >= kBlockSize) return 1;
    block[pos + run] = level;
    pos += run + 1;
  }
  return 0;
}

}  // namespace

uint8_t ReadIntraDc() {
  const uint8_t code = ReadBits(8);
  return code == 255 ? 128 : code;
}

int32_t DecodeIntraBlock(int8_t* block, uint8_t pattern, int32_t bit) {
  // INTRADC is present in every block of an intra macroblock, coded or not.
  block[0] = static_cast<int8_t>(ReadIntraDc());
  if ((pattern >> bit) & 1) return ReadCoefficients(block, 1);
  std::memset(block + 1, 0, kBlockSize - 1);
  return 0;
}

int32_t DecodeInterBlock(int8_t* block, uint8_t pattern, int32_t bit) {
  if ((pattern >> bit) & 1) return ReadCoefficients(block, 0);
  std::memset(block, 0, kBlockSize);
  return 0;
}

}  // namespace clipnote::h263
