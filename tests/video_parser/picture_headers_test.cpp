#include "video/parser/picture_headers.h"

#include <gtest/gtest.h>

#include "video_parser/parser_test_support.h"

using namespace clipnote::h263;

namespace {

using parser_test::Stream;

VideoDecoder& d = videoDecoder;

constexpr const char* kPsc = "0000 0000 0000 0000 1000 00 ";

struct HeaderCase {
  std::string bits;  // after the picture start code, unless it starts with '!'
  int32_t code;
  int64_t consumed;
};

// Every result code, and where the reader stands after it (fields read before a failing test
// keep their values, so the reader is never rolled back).
TEST(PictureHeader, ResultCodesAndPositions) {
  const HeaderCase cases[] = {
      {"0010 0101 10 000 010 1 0000 01101 0 0", kParseOk, 50},                  // QCIF INTER
      {"0000 0000 10 000 011 0 0000 11111 0 0", kParseOk, 50},                  // CIF INTRA
      {"!0000 0000 0000 0001 1000 00", kNoPictureStartCode, 22},
      {"!", kNoPictureStartCode, 22},                                            // end of the clip
      {"!0000 0000 0000 0000 1111 11", kParseOk, 22},                           // end of sequence
      {"!1010 1010 0101 0101 1111 11", kParseOk, 22},                           // last 6 bits alone
      {"0100 1101 11", kNotH263Header, 32},
      {"0000 0000 10 100", kUnsupportedMode, 35},                               // split screen
      {"0000 0000 10 010", kUnsupportedMode, 35},                               // document camera
      {"0000 0000 10 001", kUnsupportedMode, 35},                               // freeze release
      {"0000 0000 10 000 010 1 1000 01010 0 0", kUnsupportedMode, 49},          // unrestricted MV
      {"0000 0000 10 000 010 1 0100 01010 0 0", kUnsupportedMode, 49},          // arithmetic
      {"0000 0000 10 000 010 1 0010 01010 0 0", kUnsupportedMode, 49},          // advanced pred.
      {"0000 0000 10 000 010 1 0001 01010 0 0", kUnsupportedMode, 49},          // PB-frames
      {"0000 0000 10 000 010 0 0000 01010 1 0", kUnsupportedMode, 49},          // CPM
  };
  for (const HeaderCase& c : cases) {
    Stream s(c.bits[0] == '!' ? c.bits.substr(1) : kPsc + c.bits);
    d.endOfSequence = 0;
    EXPECT_EQ(ParsePictureHeader(), c.code) << c.bits;
    EXPECT_EQ(BitsConsumed(), c.consumed) << c.bits;
    EXPECT_EQ(d.endOfSequence, c.bits.find("11 11") != std::string::npos ? 1 : 0) << c.bits;
  }
  for (int format : {0, 1, 4, 5, 6, 7}) {
    Stream s(kPsc + std::string("0000 0000 10 000") + parser_test::Binary(format, 3) + "0 0000");
    EXPECT_EQ(ParsePictureHeader(), kUnsupportedFormat) << format;
  }
  Stream s(kPsc + std::string("0100 1101 11"));
  ParsePictureHeader();
  EXPECT_EQ(d.temporalReference, 0x4D);  // kept although the header failed
}

TEST(PictureHeader, FieldsPeiAndZeroQuantiser) {
  // TR 37, INTER, PQUANT 0 (taken as 1); PEI 1 with two spare bytes; then 0xCA.
  Stream s(kPsc + std::string("0010 0101 10 000 010 1 0000 00000 0 1 1010 1010 1 1111 1111 0 "
                              "1100 1010"));
  ASSERT_EQ(ParsePictureHeader(), kParseOk);
  EXPECT_EQ(d.temporalReference, 37);
  EXPECT_EQ(d.sourceFormat, 2);
  EXPECT_EQ(d.pictureCodingType, 1);
  EXPECT_EQ(d.pquant, 1);
  EXPECT_EQ(d.pei, 1);
  EXPECT_EQ(ReadBits(8), 0xCA);
  d.gobIndex = 4;
  BeginPictureSyntax();
  EXPECT_EQ(d.quant, 1);
  EXPECT_EQ(d.gquant, 1);
  EXPECT_EQ(d.gobIndex, 0);
}

struct GobCase {
  const char* bits;
  int skip;  // bits read before the GOB header is looked for
  int32_t code;
  int32_t present;
  int gquant;  // the running quantiser is 17
  int64_t consumed;
};

TEST(GobHeader, WithAndWithoutStuffingAndFalseStarts) {
  const GobCase cases[] = {
      {"0000 0000 0000 0000 1 00101 11 10110", 0, kParseOk, 1, 22, 29},
      {"1 0000 0000 0000 0000 1 00101 11 10110", 1, kParseOk, 1, 22, 29},  // unaligned
      {"10110 000 0000 0000 0000 0000 1 00001 01 00111", 5, kParseOk, 1, 7, 32},  // stuffing
      {"1011011 0 0000 0000 0000 0000 1 00001 01 00111", 7, kParseOk, 1, 7, 30},
      {"0000 0000 0000 0000 1 11111 00 00000", 0, kParseOk, 1, 1, 29},  // GN unchecked; GQUANT 0
      {"0000 0000 1000 0000 0000 0000", 0, kParseOk, 0, 17, 0},         // no header
      {"0000 0000 0000 0000 0000 0000 1", 0, kParseOk, 0, 17, 0},       // third byte zero
      {"0000 0000 0000 0000 0100 0000", 0, kBadGobStartCode, 0, 17, 17},  // 17 zeros
  };
  for (const GobCase& c : cases) {
    Stream s(c.bits);
    for (int i = 0; i < c.skip; ++i) ReadBit();
    d.quant = 17;
    d.gobHeaderPresent = 1;  // whatever the previous GOB reported
    EXPECT_EQ(ParseGobHeader(), c.code) << c.bits;
    EXPECT_EQ(d.gobHeaderPresent, c.present) << c.bits;
    if (c.code == kParseOk) {
      EXPECT_EQ(d.gquant, c.gquant) << c.bits;
    }
    EXPECT_EQ(BitsConsumed(), c.skip + c.consumed) << c.bits;
  }
}

}  // namespace
