#include <cstddef>

#include "video/parser/bit_reader.h"
#include "video/parser/vlc_tables.h"

namespace clipnote::h263 {

namespace {

const VlcTables& t = videoDecoder.vlc;

// One step of a stepwise search: read `bits` more bits, then try the listed indices.
struct SearchStep {
  int32_t bits;
  int32_t count;
  int8_t indices[9];
};

constexpr SearchStep kMcbpcIntraSteps[] = {
    {1, 1, {0}}, {2, 3, {1, 2, 3}}, {1, 1, {4}}, {2, 3, {5, 6, 7}}, {3, 1, {8}},
};

constexpr SearchStep kMcbpcInterSteps[] = {
    {1, 1, {0}},          {2, 2, {4, 8}},  {1, 2, {1, 2}},
    {1, 1, {12}},         {1, 2, {3, 16}}, {1, 5, {5, 6, 9, 10, 15}},
    {1, 3, {11, 13, 14}}, {1, 5, {7, 17, 18, 19, 20}},
};

constexpr SearchStep kCbpySteps[] = {
    {2, 1, {15}},
    {2, 9, {0, 3, 5, 7, 10, 11, 12, 13, 14}},
    {1, 4, {1, 2, 4, 8}},
    {1, 2, {6, 9}},
};

// The bits of a code, read from a pattern: the stepwise searches below run on these when
// the lookup tables are made.
struct PatternBits {
  uint32_t pattern;
  int32_t width;
  int32_t used = 0;
  uint8_t ReadBits(int32_t n) {
    used += n;
    return static_cast<uint8_t>((pattern >> (width - used)) & ((1u << n) - 1));
  }
  uint8_t ReadBit() { return ReadBits(1); }
};

// The accumulator is eight bits wide; the 9-bit codes start with 0, so the bit that falls off
// the top at their last step is always 0.
template <typename Code, std::size_t N>
int32_t StepwiseSearch(const SearchStep (&steps)[N], const Code* codes, PatternBits& bits) {
  uint8_t acc = 0;
  for (std::size_t s = 0; s < N; ++s) {
    acc = static_cast<uint8_t>(acc | bits.ReadBits(steps[s].bits));
    for (int32_t i = 0; i < steps[s].count; ++i) {
      const int32_t index = steps[s].indices[i];
      if (acc == codes[index]) return index;
    }
    if (s + 1 < N) acc = static_cast<uint8_t>(acc << steps[s + 1].bits);
  }
  return -1;
}

// MVD code length L by the number of leading zeros (0 where more bits decide), and the base and
// offset of each length.
constexpr int8_t kMvdLengthByZeros[11] = {1, 3, 4, 5, 0, 0, 11, 11, 12, 12, 13};
constexpr int8_t kMvdBase[14] = {0, 1, 0, 3, 3, 3, 0, 7, 11, 0, 23, 35, 15, 7};
constexpr int8_t kMvdOffset[14] = {0, 0, 0, 1, 2, 3, 0, 4, 5, 0, 8, 11, 25, 31};

int32_t SearchMvd(PatternBits& bits) {
  int32_t zeros = 0;
  while (bits.ReadBit() == 0) {
    if (++zeros == 11) return -1;
  }
  // The code so far: `zeros` zeros and a 1; `code` holds its bits after the first one.
  int32_t read = zeros + 1;
  int32_t code = zeros == 0 ? 0 : 1;
  int32_t length = kMvdLengthByZeros[zeros];
  if (zeros == 4) {
    const uint8_t b = bits.ReadBit();
    code = (code << 1) | b;
    ++read;
    length = 8 - b;
  } else if (zeros == 5) {
    const uint8_t b = bits.ReadBit();
    code = (code << 1) | b;
    ++read;
    if (b == 1) {
      length = 8;
    } else {
      const uint8_t c = bits.ReadBit();
      const uint8_t e = bits.ReadBit();
      code = (code << 2) | (c << 1) | e;
      read += 2;
      length = e == 1 ? 10 : (c == 0 ? 11 : 10);
    }
  }
  for (; read < length; ++read) code = (code << 1) | bits.ReadBit();
  const int32_t v = code;  // the code without its first bit
  const int32_t half = (kMvdBase[length] - v) / 2;
  return (v & 1) ? 32 - kMvdOffset[length] - half : 32 + kMvdOffset[length] + half;
}

// Fills a lookup table over every `width`-bit lookahead with what `search` gives and how
// many bits it reads: outcome & 0xFF as int8 (-1: no code), bits read << 8.
template <typename Search>
void FillLookup(uint16_t* lookup, int32_t width, Search search) {
  for (uint32_t pattern = 0; pattern < (1u << width); ++pattern) {
    PatternBits bits{pattern, width};
    const int32_t outcome = search(bits);
    lookup[pattern] = static_cast<uint16_t>((outcome & 0xFF) | bits.used << 8);
  }
}

// One code through its lookup table: the outcome for the next `width` bits, those it
// takes consumed.
int32_t DecodeByLookup(const uint16_t* lookup, int32_t width) {
  const uint16_t entry = lookup[PeekBits16() >> (16 - width)];
  SkipBits(entry >> 8);
  return static_cast<int8_t>(entry & 0xFF);
}

}  // namespace

void BuildVlcLookups(VlcTables& tables) {
  FillLookup(tables.mcbpcIntraLookup, kMcbpcLookupBits, [&](PatternBits& bits) {
    return StepwiseSearch(kMcbpcIntraSteps, tables.mcbpcIntraCodes, bits);
  });
  FillLookup(tables.mcbpcInterLookup, kMcbpcLookupBits, [&](PatternBits& bits) {
    return StepwiseSearch(kMcbpcInterSteps, tables.mcbpcInterCodes, bits);
  });
  FillLookup(tables.cbpyLookup, kCbpyLookupBits, [&](PatternBits& bits) {
    return StepwiseSearch(kCbpySteps, tables.cbpyCodes, bits);
  });
  FillLookup(tables.mvdLookup, kMvdLookupBits, SearchMvd);
}

int32_t DecodeMcbpcIntra() { return DecodeByLookup(t.mcbpcIntraLookup, kMcbpcLookupBits); }

int32_t DecodeMcbpcInter() { return DecodeByLookup(t.mcbpcInterLookup, kMcbpcLookupBits); }

int32_t DecodeCbpy() { return DecodeByLookup(t.cbpyLookup, kCbpyLookupBits); }

int32_t DecodeMvd() { return DecodeByLookup(t.mvdLookup, kMvdLookupBits); }

int32_t DecodeTcoef(int8_t* level, uint8_t* run, int32_t* last) {
  // One lookup stands for the walk down the code tree (see BuildVlcTables); the walk
  // reads at most 12 deciding bits, and a 13th before it gives up.
  const uint32_t next = PeekBits16();
  const int32_t outcome = t.tcoefLookup[next >> 4];
  if (outcome < 0) {
    SkipBits(13);
    return 1;
  }
  const int32_t symbol = outcome & 0xFF;
  const int32_t codeBits = outcome >> 8;
  if (symbol == kTcoefEscape) {
    SkipBits(codeBits);
    *last = ReadBit();
    *run = ReadBits(6);
    *level = static_cast<int8_t>(ReadBits(8));
    return 0;
  }
  *last = t.tcoefLast[symbol];
  *run = t.tcoefRun[symbol];
  const int8_t magnitude = static_cast<int8_t>(t.tcoefLevel[symbol]);
  // The sign bit follows the code, still within the 16 bits looked at.
  const bool negative = (next >> (15 - codeBits)) & 1;
  SkipBits(codeBits + 1);
  *level = negative ? static_cast<int8_t>(-magnitude) : magnitude;
  return 0;
}

}  // namespace clipnote::h263
