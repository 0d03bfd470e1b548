#include "video/encoder/vlc_codes.h"

#include <cstdlib>

#include "video/parser/vlc_tables.h"

namespace clipnote::h263 {

namespace {

// For every outcome of a lookup over `width`-bit lookaheads, the shortest lookahead that
// gives it: the code is the bits the parser reads for it.
void InvertLookup(const uint16_t* lookup, int32_t width, VlcCode* codes, int32_t outcomes) {
  for (int32_t i = 0; i < outcomes; ++i) codes[i] = VlcCode{0, 0};
  for (uint32_t pattern = 0; pattern < (1u << width); ++pattern) {
    const int32_t outcome = static_cast<int8_t>(lookup[pattern] & 0xFF);
    const int32_t used = lookup[pattern] >> 8;
    if (outcome < 0 || outcome >= outcomes || used <= 0 || used > width) continue;
    VlcCode& code = codes[outcome];
    if (code.length != 0 && code.length <= used) continue;
    code.bits = static_cast<uint16_t>(pattern >> (width - used));
    code.length = static_cast<uint8_t>(used);
  }
}

VlcCodes MakeCodes() {
  // The parser's tables as it builds them for every clip.
  VlcCodes c{};
  BuildVlcTables();
  const VlcTables& t = videoDecoder.vlc;
  InvertLookup(t.mcbpcIntraLookup, kMcbpcLookupBits, c.mcbpcIntra, 9);
  InvertLookup(t.mcbpcInterLookup, kMcbpcLookupBits, c.mcbpcInter, 21);
  InvertLookup(t.cbpyLookup, kCbpyLookupBits, c.cbpy, 16);
  InvertLookup(t.mvdLookup, kMvdLookupBits, c.mvd, 65);
  for (int32_t s = 0; s < kTcoefSymbols; ++s) {
    const TcoefRow& row = kTcoefRows[s];
    const VlcCode code{row.code, row.codeBits};
    if (s == kTcoefEscape) {
      c.tcoefEscape = code;
    } else if (row.level <= kTcoefTableMaxLevel) {
      c.tcoef[row.last][row.run][row.level] = code;
    }
  }
  for (int32_t last = 0; last < 2; ++last) {
    for (int32_t run = 0; run < 64; ++run) {
      for (int32_t magnitude = 0; magnitude < 128; ++magnitude) {
        const VlcCode* code =
            magnitude <= kTcoefTableMaxLevel ? &c.tcoef[last][run][magnitude] : nullptr;
        c.tcoefBits[last][run][magnitude] = static_cast<uint8_t>(
            code != nullptr && code->length != 0 ? code->length + 1 : kTcoefEscapeBits);
      }
    }
  }
  return c;
}

}  // namespace

const VlcCodes& EncoderCodes() {
  static const VlcCodes codes = MakeCodes();
  return codes;
}

void WriteCode(BitWriter& writer, const VlcCode& code) { writer.Put(code.bits, code.length); }

void WriteTcoef(BitWriter& writer, int32_t last, int32_t run, int32_t level) {
  WriteTcoefWith(writer, EncoderCodes(), last, run, level);
}

int32_t TcoefBits(int32_t last, int32_t run, int32_t level) {
  return TcoefBitsWith(EncoderCodes(), last, run, level);
}

}  // namespace clipnote::h263
