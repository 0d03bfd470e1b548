#include "video/encoder/macroblock_syntax.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/encoder/vlc_codes.h"
#include "video/parser/video_decoder.h"

namespace clipnote::h263 {

namespace {

bool IsIntra(uint8_t mbType) { return mbType == kMbIntra || mbType == kMbIntraQ; }
bool HasDquant(uint8_t mbType) { return mbType == kMbInterQ || mbType == kMbIntraQ; }

const VlcCode& McbpcCode(const CodedMacroblock& mb, bool interPicture) {
  const VlcCodes& c = EncoderCodes();
  if (!interPicture) return c.mcbpcIntra[((mb.mbType == kMbIntraQ) ? 4 : 0) + (mb.cbpc & 3)];
  return c.mcbpcInter[4 * (mb.mbType % 5) + (mb.cbpc & 3)];
}

// CBPY codes the coded luma blocks of intra macroblocks and the uncoded ones of inter ones.
const VlcCode& CbpyCode(const CodedMacroblock& mb) {
  const int32_t value = IsIntra(mb.mbType) ? (mb.cbpy & 15) : 15 - (mb.cbpy & 15);
  return EncoderCodes().cbpy[value];
}

}  // namespace

uint8_t MvdCodeFor(int32_t vector, int32_t predictor) {
  int32_t difference = vector - predictor;
  // Of the two differences a code stands for, the parser takes the one giving a vector in
  // range; a difference outside -32..31 is sent as its partner 64 away.
  if (difference > 31) difference -= 64;
  if (difference < -32) difference += 64;
  return static_cast<uint8_t>(difference + 32);
}

bool BlockIsCoded(const CodedMacroblock& mb, int32_t k) {
  if (k < 4) return ((mb.cbpy >> (3 - k)) & 1) != 0;
  return ((mb.cbpc >> (5 - k)) & 1) != 0;
}

uint64_t NonzeroLevels(const int8_t levels[64], int32_t first) {
  uint64_t mask = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int32_t i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + 16 * i));
    const uint32_t isZero = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
    mask |= uint64_t{~isZero & 0xFFFFu} << (16 * i);
  }
#else
  for (int32_t i = 0; i < 64; ++i) mask |= uint64_t{levels[i] != 0} << i;
#endif
  return mask & (~uint64_t{0} << first);
}

// Each level is coded with the run of zeros before it, the last one with LAST set.
int32_t BlockEventBits(const int8_t levels[64], int32_t first) {
  const VlcCodes& codes = EncoderCodes();
  uint64_t mask = NonzeroLevels(levels, first);
  int32_t bits = 0;
  int32_t next = first;
  while (mask != 0) {
    const int32_t at = std::countr_zero(mask);
    mask &= mask - 1;
    bits += TcoefBitsWith(codes, mask == 0, at - next, levels[at]);
    next = at + 1;
  }
  return bits;
}

void WriteBlockEvents(BitWriter& writer, const int8_t levels[64], int32_t first) {
  const VlcCodes& codes = EncoderCodes();
  const uint32_t escape = codes.tcoefEscape.bits;
  const int32_t escapeLength = codes.tcoefEscape.length;
  uint64_t mask = NonzeroLevels(levels, first);
  int32_t next = first;
  // The events gather in a word (at most 32 bits pending, plus one event of at most 22) and
  // go to the writer 32 bits at a time: the same bits in far fewer writes.
  uint64_t pending = 0;
  int32_t pendingBits = 0;
  while (mask != 0) {
    const int32_t at = std::countr_zero(mask);
    mask &= mask - 1;
    const int32_t last = mask == 0 ? 1 : 0;
    const int32_t run = at - next;
    const int32_t level = levels[at];
    next = at + 1;
    const int32_t magnitude = level < 0 ? -level : level;
    const VlcCode code = magnitude <= kTcoefTableMaxLevel ? codes.tcoef[last][run][magnitude]
                                                          : VlcCode{0, 0};
    if (code.length != 0) {
      pending = pending << (code.length + 1) | uint64_t{code.bits} << 1 | (level < 0 ? 1u : 0u);
      pendingBits += code.length + 1;
    } else {
      // ESCAPE, LAST, RUN (6 bits), LEVEL (8 bits).
      pending = pending << (escapeLength + 15) | uint64_t{escape} << 15 |
                uint64_t(last) << 14 | uint64_t(run & 63) << 8 |
                (static_cast<uint32_t>(level) & 255);
      pendingBits += escapeLength + 15;
    }
    if (pendingBits >= 32) {
      pendingBits -= 32;
      writer.Put(static_cast<uint32_t>(pending >> pendingBits), 32);
      pending &= (uint64_t{1} << pendingBits) - 1;
    }
  }
  writer.Put(static_cast<uint32_t>(pending), pendingBits);
}

int32_t MacroblockHeaderBits(const CodedMacroblock& mb, bool interPicture) {
  if (interPicture && mb.notCoded) return 1;
  int32_t bits = interPicture ? 1 : 0;
  bits += McbpcCode(mb, interPicture).length + CbpyCode(mb).length;
  if (HasDquant(mb.mbType)) bits += 2;
  if (interPicture && !IsIntra(mb.mbType)) {
    const VlcCodes& c = EncoderCodes();
    bits += c.mvd[mb.mvdCodeX % 65].length + c.mvd[mb.mvdCodeY % 65].length;
  }
  return bits;
}

void WriteMacroblock(BitWriter& writer, const CodedMacroblock& mb, bool interPicture) {
  if (interPicture) {
    writer.Put(mb.notCoded ? 1 : 0, 1);
    if (mb.notCoded) return;
  }
  WriteCode(writer, McbpcCode(mb, interPicture));
  WriteCode(writer, CbpyCode(mb));
  if (HasDquant(mb.mbType)) writer.Put(mb.dquantIndex & 3u, 2);
  const bool intra = IsIntra(mb.mbType);
  if (interPicture && !intra) {
    const VlcCodes& c = EncoderCodes();
    WriteCode(writer, c.mvd[mb.mvdCodeX % 65]);
    WriteCode(writer, c.mvd[mb.mvdCodeY % 65]);
  }
  for (int32_t k = 0; k < 6; ++k) {
    if (intra) {
      const uint8_t dc = static_cast<uint8_t>(mb.levels[k][0]);
      writer.Put(dc == 128 ? 255 : dc, 8);
    }
    if (BlockIsCoded(mb, k)) WriteBlockEvents(writer, mb.levels[k], intra ? 1 : 0);
  }
}

}  // namespace clipnote::h263
