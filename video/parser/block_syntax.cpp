#include <cstring>

#include "video/parser/bit_reader.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/vlc_tables.h"

namespace {

constexpr int32_t kBlockSize = 64;

// Reads TCOEF events into block[pos..63] until LAST. A run that would place a coefficient at
// position 64 or beyond fails the block before anything is written for that event. The
// positions the events skip are zero: the block is cleared first.
int32_t ReadCoefficients(int8_t* block, int32_t pos) {
  std::memset(block + pos, 0, static_cast<size_t>(kBlockSize - pos));
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
