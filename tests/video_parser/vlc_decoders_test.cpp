#include "video/parser/vlc_tables.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "video_parser/parser_test_support.h"

using namespace clipnote::h263;

namespace {

using parser_test::Binary;
using parser_test::Stream;

struct Decoded {
  int32_t result;
  int64_t bits;
};

Decoded DecodeOn(const std::function<int32_t()>& decode, const std::string& bits) {
  Stream s(bits, 16);
  const int32_t result = decode();
  return {result, BitsConsumed()};
}

// Checks a code set over every pattern of its longest length: a pattern decodes to the one code
// that prefixes it, consuming exactly that code, or is invalid (-1 after `maxBits`) when no code
// does. `codes` lists the codeword of index 0, 1, 2, ...
void CheckCodeSet(const std::function<int32_t()>& decode, const std::string& codes, int maxBits) {
  std::map<int, std::string> codeOf;
  std::istringstream in(codes);
  for (std::string code; in >> code;) codeOf[static_cast<int>(codeOf.size())] = code;
  int invalid = 0;
  for (uint32_t v = 0; v < (1u << maxBits); ++v) {
    const std::string pattern = Binary(v, maxBits);
    int match = -1;
    for (const auto& [index, code] : codeOf) {
      if (pattern.compare(0, code.size(), code) == 0) match = index;
    }
    const Decoded r = DecodeOn(decode, pattern);
    EXPECT_EQ(r.result, match) << pattern;
    EXPECT_EQ(r.bits, match < 0 ? maxBits : static_cast<int64_t>(codeOf[match].size())) << pattern;
    invalid += match < 0;
  }
  EXPECT_GT(invalid, 0);
}

class Vlc : public ::testing::Test {
 protected:
  void SetUp() override { BuildVlcTables(); }
};

TEST_F(Vlc, McbpcAndCbpyCodeSets) {
  CheckCodeSet(DecodeMcbpcIntra, "1 001 010 011 0001 000001 000010 000011 000000001", 9);
  CheckCodeSet(DecodeMcbpcInter,
               "1 0011 0010 000101 011 0000111 0000110 000000101 010 0000101 0000100 00000101 "
               "00011 00000100 00000011 0000011 000100 000000100 000000011 000000010 000000001",
               9);
  CheckCodeSet(DecodeCbpy,
               "0011 00101 00100 1001 00011 0111 000010 1011 00010 000011 0101 1010 0100 1000 "
               "0110 11",
               6);
}

// Over every 13-bit pattern each index 0..64 has exactly one code, of the length H.263 gives
// it; a difference and its negation share a code but for the last bit (0 for the positive one).
TEST_F(Vlc, MvdCodeSet) {
  const std::map<std::string, int> known = {
      {"1", 32}, {"010", 33}, {"011", 31}, {"0011", 30}, {"0000110", 36}, {"00001011", 27},
      {"0000010111", 24}, {"00000100011", 21}, {"000000000101", 2}, {"0000000000101", 0},
      {"0000000000111", 1}, {"0000000000110", 63}, {"0000000000100", 64}};
  std::map<int, std::string> codeOf;
  for (uint32_t v = 0; v < (1u << 13); ++v) {
    const std::string pattern = Binary(v, 13);
    const Decoded r = DecodeOn(DecodeMvd, pattern);
    if (pattern.rfind("00000000000", 0) == 0) {
      EXPECT_EQ(r.result, -1);
      EXPECT_EQ(r.bits, 11);
      continue;
    }
    ASSERT_TRUE(r.result >= 0 && r.result <= 64) << pattern;
    const std::string code = pattern.substr(0, r.bits);
    EXPECT_EQ(codeOf.emplace(r.result, code).first->second, code) << r.result;
    if (known.count(code)) {
      EXPECT_EQ(r.result, known.at(code)) << code;
    }
  }
  ASSERT_EQ(codeOf.size(), 65u);
  constexpr int kLength[33] = {1,  3,  4,  5,  7,  8,  8,  8,  10, 10, 10, 11, 11, 11, 11, 11, 11,
                               11, 11, 11, 11, 11, 11, 11, 11, 12, 12, 12, 12, 12, 12, 13, 13};
  for (const auto& [index, code] : codeOf) {
    EXPECT_EQ(static_cast<int>(code.size()), kLength[index >= 32 ? index - 32 : 32 - index]);
    if (index > 32) {
      EXPECT_EQ(codeOf[64 - index], code.substr(0, code.size() - 1) + "1") << index;
      EXPECT_EQ(code.back(), '0') << index;
    }
  }
}

// Every 13-bit pattern followed by a sign bit decodes to the table row whose code prefixes it
// (LAST, RUN and the signed LEVEL, code and sign consumed), or fails after 13 bits.
TEST_F(Vlc, TcoefEveryCodeAndInvalidPatterns) {
  for (uint32_t v = 0; v < (1u << 14); ++v) {
    const std::string pattern = Binary(v, 14);
    int match = -1;
    for (int s = 0; s < kTcoefSymbols; ++s) {
      const TcoefRow& row = kTcoefRows[s];
      if (pattern.compare(0, row.codeBits, Binary(row.code, row.codeBits)) == 0) match = s;
    }
    if (match == kTcoefEscape) continue;
    int8_t level = 99;
    uint8_t run = 99;
    int32_t last = 99;
    const Decoded r = DecodeOn([&] { return DecodeTcoef(&level, &run, &last); }, pattern);
    if (match < 0) {
      EXPECT_EQ(r.result, 1) << pattern;
      EXPECT_EQ(r.bits, 13) << pattern;
      EXPECT_EQ(level + run + last, 99 + 99 + 99);  // outputs untouched
      continue;
    }
    const TcoefRow& row = kTcoefRows[match];
    const bool negative = pattern[row.codeBits] == '1';
    ASSERT_EQ(r.result, 0) << pattern;
    EXPECT_EQ(r.bits, row.codeBits + 1) << pattern;
    EXPECT_EQ(last, row.last) << pattern;
    EXPECT_EQ(run, row.run) << pattern;
    EXPECT_EQ(level, negative ? -row.level : row.level) << pattern;
  }
}

TEST_F(Vlc, TcoefKnownAnswersAndEscape) {
  struct Case {
    const char* bits;
    int last, run, level;
    int64_t consumed;
  };
  const Case cases[] = {
      {"10 1", 0, 0, -1, 3},
      {"0111 0", 1, 0, 1, 5},
      {"0000 011 1 000011 1111 1111", 1, 3, -1, 22},  // ESCAPE: no sign bit after LEVEL
      {"0000 011 0 111111 0111 1111", 0, 63, 127, 22},
      {"0000 011 0 000000 1000 0000", 0, 0, -128, 22},  // passed on as it is
  };
  for (const Case& c : cases) {
    int8_t level = 0;
    uint8_t run = 0;
    int32_t last = 0;
    const Decoded r = DecodeOn([&] { return DecodeTcoef(&level, &run, &last); }, c.bits);
    EXPECT_EQ(r.result, 0) << c.bits;
    EXPECT_EQ(r.bits, c.consumed) << c.bits;
    EXPECT_EQ(last, c.last) << c.bits;
    EXPECT_EQ(run, c.run) << c.bits;
    EXPECT_EQ(level, c.level) << c.bits;
  }
}

}  // namespace
