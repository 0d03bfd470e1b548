#include "video/parser/macroblock_syntax.h"

#include "video/parser/bit_reader.h"
#include "video/parser/block_syntax.h"
#include "video/parser/motion_vectors.h"
#include "video/parser/vlc_tables.h"

namespace clipnote::h263 {

namespace {

VideoDecoder& d = videoDecoder;

constexpr int32_t kMcbpcIntraStuffing = 8;
constexpr int32_t kMcbpcInterStuffing = 20;
constexpr uint8_t kMvdZero = 32;

int32_t ParseIntraHeader() {
  // Any number of stuffing codewords may precede the macroblock.
  int32_t i = DecodeMcbpcIntra();
  while (i == kMcbpcIntraStuffing) i = DecodeMcbpcIntra();
  if (i < 0) return kBadMcbpc;
  d.mbType = static_cast<uint8_t>(i / 4 + kMbIntra);
  d.cbpc = static_cast<uint8_t>(i % 4);
  const int32_t c = DecodeCbpy();
  if (c < 0) return kBadCbpy;
  d.cbpy = static_cast<uint8_t>(c);
  if (d.mbType == kMbIntraQ) d.dquantIndex = ReadBits(2);
  return kParseOk;
}

int32_t ParseInterHeader() {
  int32_t i = 0;
  // A stuffing is COD 0 followed by the stuffing codeword; the macroblock layer then starts
  // again with COD.
  do {
    d.cod = ReadBit();
    if (d.cod == 1) {
      d.mbType = kMbInter;
      d.mvdCodeX = kMvdZero;
      d.mvdCodeY = kMvdZero;
      return kParseOk;
    }
    i = DecodeMcbpcInter();
  } while (i == kMcbpcInterStuffing);
  if (i < 0) return kBadMcbpc;
  d.mbType = static_cast<uint8_t>(i / 4);
  d.cbpc = static_cast<uint8_t>(i % 4);
  const int32_t c = DecodeCbpy();
  if (c < 0) return kBadCbpy;
  // CBPY codes the blocks that are not coded in inter macroblocks.
  d.cbpy = static_cast<uint8_t>(d.mbType < kMbIntra ? 15 - c : c);
  if (d.mbType == kMbInterQ || d.mbType == kMbIntraQ) d.dquantIndex = ReadBits(2);
  if (d.mbType < kMbIntra) {
    // One MVD pair for INTER, INTER+Q and INTER4V alike.
    const int32_t x = DecodeMvd();
    if (x < 0) return kBadMcbpc;
    const int32_t y = DecodeMvd();
    if (y < 0) return kBadMcbpc;
    d.mvdCodeX = static_cast<uint8_t>(x);
    d.mvdCodeY = static_cast<uint8_t>(y);
  } else {
    d.mvdCodeX = kMvdZero;
    d.mvdCodeY = kMvdZero;
  }
  return kParseOk;
}

}  // namespace

void ResetMacroblockState() {
  d.cod = 0;
  d.cbpc = 3;
  d.cbpy = 15;
  d.mbType = d.pictureCodingType == 0 ? kMbIntra : kMbInter;
}

int32_t ParseMacroblockHeader() {
  if (d.pictureCodingType == 0) {
    d.cod = 0;
    return ParseIntraHeader();
  }
  return ParseInterHeader();
}

int32_t DecodeMacroblockSyntax(int8_t* luma, int8_t* cb, int8_t* cr) {
  if (ParseMacroblockHeader() != kParseOk) return 1;
  if (d.cod == 1) {
    // Not coded: zero vector, nothing stored, block buffers untouched.
    d.mvX = 0;
    d.mvY = 0;
    return 0;
  }
  const bool intra = d.mbType >= kMbIntra;
  if (!intra) {
    if (DecodeMotionVector() != 0) return 1;
  } else {
    int32_t column = 0;
    int32_t row = 0;
    d.mvX = 0;
    d.mvY = 0;
    if (CurrentMbPosition(&column, &row)) {
      d.mvStore[column * kMaxMbRows + row][0] = 0;
      d.mvStore[column * kMaxMbRows + row][1] = 0;
    }
  }
  const auto decodeBlock = intra ? DecodeIntraBlock : DecodeInterBlock;
  for (int32_t k = 0; k < 4; ++k) {
    if (decodeBlock(luma + 64 * k, d.cbpy, 3 - k) != 0) return 1;
  }
  if (decodeBlock(cb, d.cbpc, 1) != 0) return 1;
  if (decodeBlock(cr, d.cbpc, 0) != 0) return 1;
  return 0;
}

}  // namespace clipnote::h263
