#include "video/parser/vlc_tables.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "video_parser/parser_test_support.h"

namespace {

using parser_test::AttachClip;
using parser_test::BitString;

struct Decoded {
  int32_t result;
  int64_t bits;
};

// Runs `decode` on `bits` followed by `tail` and reports its result and the bits it consumed.
Decoded DecodeBits(const std::function<int32_t()>& decode, const std::string& bits,
                   const std::string& tail = "") {
  static std::vector<uint8_t> clip;
  static std::vector<uint8_t> buffer;
  clip = BitString().Bits(bits).Bits(tail).Bytes();
  AttachClip(clip, buffer, 16);
  const int32_t result = decode();
  return {result, BitsConsumed()};
}

std::string Binary(uint32_t value, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += ((value >> i) & 1) ? '1' : '0';
  return s;
}

// Every index of a stepwise-searched table, and every bit pattern of the longest length:
// each pattern decodes to the one code that prefixes it, with exactly that code's bits
// consumed, and only the patterns with no code as prefix are invalid (after `maxBits`).
void CheckCompleteTable(const std::function<int32_t()>& decode,
                        const std::map<int, std::string>& codes, int maxBits) {
  for (const auto& [index, code] : codes) {
    const Decoded r = DecodeBits(decode, code, "1010");
    EXPECT_EQ(r.result, index) << code;
    EXPECT_EQ(r.bits, static_cast<int64_t>(code.size())) << code;
  }
  int invalid = 0;
  for (uint32_t v = 0; v < (1u << maxBits); ++v) {
    const std::string pattern = Binary(v, maxBits);
    int match = -1;
    for (const auto& [index, code] : codes) {
      if (pattern.compare(0, code.size(), code) == 0) {
        ASSERT_EQ(match, -1) << "two codes prefix " << pattern;
        match = index;
      }
    }
    const Decoded r = DecodeBits(decode, pattern);
    EXPECT_EQ(r.result, match) << pattern;
    EXPECT_EQ(r.bits, match < 0 ? maxBits : static_cast<int64_t>(codes.at(match).size())) << pattern;
    invalid += match < 0;
  }
  EXPECT_GT(invalid, 0);
}

class VlcTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildVlcTables(); }
};

TEST_F(VlcTest, McbpcIntra) {
  const std::map<int, std::string> codes = {
      {0, "1"},      {1, "001"},    {2, "010"},    {3, "011"},          {4, "0001"},
      {5, "000001"}, {6, "000010"}, {7, "000011"}, {8, "000000001"}};
  CheckCompleteTable(DecodeMcbpcIntra, codes, 9);
  EXPECT_EQ(DecodeBits(DecodeMcbpcIntra, "0000 11").result, 7);
  EXPECT_EQ(DecodeBits(DecodeMcbpcIntra, "0000 0000 1").result, 8);
}

TEST_F(VlcTest, McbpcInter) {
  const std::map<int, std::string> codes = {
      {0, "1"},          {1, "0011"},       {2, "0010"},      {3, "000101"},
      {4, "011"},        {5, "0000111"},    {6, "0000110"},   {7, "000000101"},
      {8, "010"},        {9, "0000101"},    {10, "0000100"},  {11, "00000101"},
      {12, "00011"},     {13, "00000100"},  {14, "00000011"}, {15, "0000011"},
      {16, "000100"},    {17, "000000100"}, {18, "000000011"}, {19, "000000010"},
      {20, "000000001"}};
  CheckCompleteTable(DecodeMcbpcInter, codes, 9);
  EXPECT_EQ(DecodeBits(DecodeMcbpcInter, "0000 0000 1").result, 20);
}

TEST_F(VlcTest, Cbpy) {
  const std::map<int, std::string> codes = {
      {0, "0011"},   {1, "00101"}, {2, "00100"},   {3, "1001"},  {4, "00011"}, {5, "0111"},
      {6, "000010"}, {7, "1011"},  {8, "00010"},   {9, "000011"}, {10, "0101"}, {11, "1010"},
      {12, "0100"},  {13, "1000"}, {14, "0110"},   {15, "11"}};
  CheckCompleteTable(DecodeCbpy, codes, 6);
  EXPECT_EQ(DecodeBits(DecodeCbpy, "11").result, 15);
  EXPECT_EQ(DecodeBits(DecodeCbpy, "0011").result, 0);
  EXPECT_EQ(DecodeBits(DecodeCbpy, "0000 10").result, 6);
}

TEST_F(VlcTest, MvdKnownCodes) {
  const std::vector<std::pair<std::string, int>> known = {
      {"1", 32},
      {"010", 33},
      {"011", 31},
      {"0010", 34},
      {"0011", 30},
      {"0000 110", 36},
      {"0000 111", 28},
      {"0000 1011", 27},
      {"0000 0101 11", 24},
      {"0000 0101 10", 40},
      {"0000 0100 011", 21},
      {"0000 0100 000", 44},
      {"0000 0000 0101", 2},
      {"0000 0000 0100", 62},
      {"0000 0000 0010 1", 0},
      {"0000 0000 0011 1", 1},
      {"0000 0000 0011 0", 63},
      {"0000 0000 0010 0", 64},
  };
  for (const auto& [code, index] : known) {
    const Decoded r = DecodeBits(DecodeMvd, code, "1111");
    EXPECT_EQ(r.result, index) << code;
    EXPECT_EQ(r.bits, static_cast<int64_t>(BitString().Bits(code).size())) << code;
  }
  const Decoded invalid = DecodeBits(DecodeMvd, "0000 0000 000", "1111");
  EXPECT_EQ(invalid.result, -1);
  EXPECT_EQ(invalid.bits, 11);
}

// Over every 13-bit pattern: each index 0..64 has exactly one code, of the length H.263 gives
// it; a difference and its negation share a code but for the last bit.
TEST_F(VlcTest, MvdCodeSetIsComplete) {
  std::map<int, std::string> codeOf;
  for (uint32_t v = 0; v < (1u << 13); ++v) {
    const std::string pattern = Binary(v, 13);
    const Decoded r = DecodeBits(DecodeMvd, pattern);
    if (pattern.rfind("00000000000", 0) == 0) {
      EXPECT_EQ(r.result, -1);
      continue;
    }
    ASSERT_GE(r.result, 0) << pattern;
    ASSERT_LE(r.result, 64) << pattern;
    const std::string code = pattern.substr(0, r.bits);
    auto [it, fresh] = codeOf.emplace(r.result, code);
    if (!fresh) {
      EXPECT_EQ(it->second, code) << "index " << r.result << " has two codes";
    }
  }
  ASSERT_EQ(codeOf.size(), 65u);
  auto lengthOf = [](int index) {
    const int k = index == 64 ? 32 : (index >= 32 ? index - 32 : 32 - index);
    if (k == 0) return 1;
    if (k <= 3) return k + 2;
    if (k == 4) return 7;
    if (k <= 7) return 8;
    if (k <= 10) return 10;
    if (k <= 24) return 11;
    if (k <= 30) return 12;
    return 13;
  };
  for (const auto& [index, code] : codeOf) {
    EXPECT_EQ(static_cast<int>(code.size()), lengthOf(index)) << index;
    if (index > 32) {
      const std::string& mirror = codeOf.at(64 - index);
      EXPECT_EQ(code.substr(0, code.size() - 1), mirror.substr(0, mirror.size() - 1)) << index;
      EXPECT_EQ(code.back(), '0') << index;
    }
  }
}

struct Event {
  int32_t result;
  int32_t last;
  int run;
  int level;
  int64_t bits;
};

Event DecodeEvent(const std::string& bits) {
  Event e{0, -9, -9, -999, 0};
  int8_t level = 99;
  uint8_t run = 99;
  int32_t last = 99;
  const Decoded r = DecodeBits([&] { return DecodeTcoef(&level, &run, &last); }, bits, "0101");
  e.result = r.result;
  e.bits = r.bits;
  if (r.result == 0) {
    e.last = last;
    e.run = run;
    e.level = level;
  } else {
    EXPECT_EQ(level, 99);  // outputs untouched on failure
    EXPECT_EQ(run, 99);
    EXPECT_EQ(last, 99);
  }
  return e;
}

// Every row of the table, with either sign, decodes to its LAST, RUN and LEVEL.
TEST_F(VlcTest, TcoefEveryCodeWithBothSigns) {
  for (int s = 0; s < kTcoefEscape; ++s) {
    const TcoefRow& row = kTcoefRows[s];
    const std::string code = Binary(row.code, row.codeBits);
    for (int sign = 0; sign <= 1; ++sign) {
      const Event e = DecodeEvent(code + (sign ? "1" : "0"));
      ASSERT_EQ(e.result, 0) << s;
      EXPECT_EQ(e.last, row.last) << s;
      EXPECT_EQ(e.run, row.run) << s;
      EXPECT_EQ(e.level, sign ? -row.level : row.level) << s;
      EXPECT_EQ(e.bits, row.codeBits + 1) << s;
    }
  }
}

TEST_F(VlcTest, TcoefKnownAnswersAndEscape) {
  Event e = DecodeEvent("10 1");
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(e.last, 0);
  EXPECT_EQ(e.run, 0);
  EXPECT_EQ(e.level, -1);
  EXPECT_EQ(e.bits, 3);

  e = DecodeEvent("0111 0");  // LAST 1, RUN 0, LEVEL 1
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(e.last, 1);
  EXPECT_EQ(e.run, 0);
  EXPECT_EQ(e.level, 1);

  // ESCAPE: LAST 1, RUN 3, LEVEL -1 as an 8-bit two's complement, no sign bit after it.
  e = DecodeEvent("0000 011 1 000011 1111 1111");
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(e.last, 1);
  EXPECT_EQ(e.run, 3);
  EXPECT_EQ(e.level, -1);
  EXPECT_EQ(e.bits, 7 + 1 + 6 + 8);

  e = DecodeEvent("0000 011 0 111111 0111 1111");
  EXPECT_EQ(e.last, 0);
  EXPECT_EQ(e.run, 63);
  EXPECT_EQ(e.level, 127);
  e = DecodeEvent("0000 011 0 000000 1000 0000");  // -128 is passed on as it is
  EXPECT_EQ(e.level, -128);

  e = DecodeEvent("0000 0000 0000 1");
  EXPECT_EQ(e.result, 1);
  EXPECT_EQ(e.bits, 13);
}

// Every 13-bit pattern decodes to the row whose code prefixes it, or fails after 13 bits when
// none does; so the codes form a prefix code and the tree finds each of them.
TEST_F(VlcTest, TcoefTreeIsConsistentWithTheTable) {
  int invalid = 0;
  for (uint32_t v = 0; v < (1u << 13); ++v) {
    const std::string pattern = Binary(v, 13);
    int match = -1;
    for (int s = 0; s < kTcoefSymbols; ++s) {
      const TcoefRow& row = kTcoefRows[s];
      if (pattern.compare(0, row.codeBits, Binary(row.code, row.codeBits)) == 0) {
        ASSERT_EQ(match, -1) << "two codes prefix " << pattern;
        match = s;
      }
    }
    int8_t level = 0;
    uint8_t run = 0;
    int32_t last = 0;
    const Decoded r = DecodeBits([&] { return DecodeTcoef(&level, &run, &last); }, pattern);
    if (match < 0) {
      ++invalid;
      EXPECT_EQ(r.result, 1) << pattern;
      EXPECT_EQ(r.bits, 13) << pattern;
    } else if (match != kTcoefEscape) {
      EXPECT_EQ(r.result, 0) << pattern;
      EXPECT_EQ(r.bits, kTcoefRows[match].codeBits + 1) << pattern;
      EXPECT_EQ(run, kTcoefRows[match].run) << pattern;
    }
  }
  EXPECT_GT(invalid, 0);
}

}  // namespace
