#include "video/parser/picture_headers.h"

#include <gtest/gtest.h>

#include <vector>

#include "video_parser/parser_test_support.h"

namespace {

using parser_test::AppendPictureHeader;
using parser_test::AttachClip;
using parser_test::BitString;

VideoDecoder& d = videoDecoder;

class PictureHeaderTest : public ::testing::Test {
 protected:
  int32_t Parse(const BitString& bits) {
    clip_ = bits.Bytes();
    AttachClip(clip_, buffer_);
    return ParsePictureHeader();
  }
  std::vector<uint8_t> clip_;
  std::vector<uint8_t> buffer_;
};

TEST_F(PictureHeaderTest, ValidQcifAndCifHeaders) {
  BitString bits;
  AppendPictureHeader(bits, 37, 1, 13);
  ASSERT_EQ(Parse(bits), kParseOk);
  EXPECT_EQ(d.temporalReference, 37);
  EXPECT_EQ(d.sourceFormat, 2);
  EXPECT_EQ(d.pictureCodingType, 1);
  EXPECT_EQ(d.pquant, 13);
  EXPECT_EQ(d.pei, 0);
  EXPECT_EQ(d.endOfSequence, 0);
  EXPECT_EQ(BitsConsumed(), 22 + 8 + 13 + 5 + 2);

  BitString cif;
  cif.Bits("0000 0000 0000 0000 1000 00").Value(200, 8).Bits("10 000 011 0 0000").Value(31, 5).Bits("00");
  ASSERT_EQ(Parse(cif), kParseOk);
  EXPECT_EQ(d.sourceFormat, 3);
  EXPECT_EQ(d.pictureCodingType, 0);
  EXPECT_EQ(d.pquant, 31);

  BitString after;  // BeginPictureSyntax hands PQUANT to the macroblock layer
  AppendPictureHeader(after, 0, 0, 9);
  ASSERT_EQ(Parse(after), kParseOk);
  d.gobIndex = 5;
  BeginPictureSyntax();
  EXPECT_EQ(d.quant, 9);
  EXPECT_EQ(d.gquant, 9);
  EXPECT_EQ(d.gobIndex, 0);
}

TEST_F(PictureHeaderTest, EndOfSequenceInBothForms) {
  BitString eos;
  eos.Bits("0000 0000 0000 0000 1111 11");
  EXPECT_EQ(Parse(eos), kParseOk);
  EXPECT_EQ(d.endOfSequence, 1);

  BitString other;  // only the last six of the 22 bits are looked at
  other.Bits("1010 1010 0101 0101 1111 11");
  EXPECT_EQ(Parse(other), kParseOk);
  EXPECT_EQ(d.endOfSequence, 1);
}

TEST_F(PictureHeaderTest, MissingStartCodeAndEndOfClipReturnOne) {
  BitString bits;
  bits.Bits("0000 0000 0000 0001 1000 00");
  EXPECT_EQ(Parse(bits), kNoPictureStartCode);
  EXPECT_EQ(d.endOfSequence, 0);

  // A picture header read at the end of the data finds only zero bits.
  BitString header;
  AppendPictureHeader(header, 1, 0, 5);
  ASSERT_EQ(Parse(header), kParseOk);
  AlignToByte();
  EXPECT_EQ(ParsePictureHeader(), kNoPictureStartCode);
  EXPECT_EQ(ParsePictureHeader(), kNoPictureStartCode);

  std::vector<uint8_t> empty;
  AttachClip(empty, buffer_);
  EXPECT_EQ(ParsePictureHeader(), kNoPictureStartCode);
}

TEST_F(PictureHeaderTest, RefusedHeadersAndWhereTheyStop) {
  BitString notH263;
  notH263.Bits("0000 0000 0000 0000 1000 00").Value(77, 8).Bits("11");
  EXPECT_EQ(Parse(notH263), kNotH263Header);
  EXPECT_EQ(d.temporalReference, 77);  // read before the failing test, not rolled back

  for (const char* flags : {"100", "010", "001"}) {
    BitString bits;
    bits.Bits("0000 0000 0000 0000 1000 00 0000 0000 10").Bits(flags).Bits("010 0 0000 00001 00");
    EXPECT_EQ(Parse(bits), kUnsupportedMode) << flags;
  }
  for (int format : {0, 1, 4, 5, 6, 7}) {
    BitString bits;
    bits.Bits("0000 0000 0000 0000 1000 00 0000 0000 10 000").Value(format, 3).Bits("0 0000 00001 00");
    EXPECT_EQ(Parse(bits), kUnsupportedFormat) << format;
  }
  // Optional modes and CPM are refused after PQUANT and CPM have been read.
  for (const char* modes : {"1000", "0100", "0010", "0001"}) {
    BitString bits;
    bits.Bits("0000 0000 0000 0000 1000 00 0000 0000 10 000 010 1").Bits(modes).Bits("01010 0");
    EXPECT_EQ(Parse(bits), kUnsupportedMode) << modes;
    EXPECT_EQ(d.pquant, 10);
    EXPECT_EQ(BitsConsumed(), 22 + 8 + 13 + 5 + 1);
  }
  BitString cpm;
  cpm.Bits("0000 0000 0000 0000 1000 00 0000 0000 10 000 010 0 0000 00111 1 0");
  EXPECT_EQ(Parse(cpm), kUnsupportedMode);
  EXPECT_EQ(d.cpm, 1);
  EXPECT_EQ(BitsConsumed(), 22 + 8 + 13 + 5 + 1);
}

TEST_F(PictureHeaderTest, ExtraInsertionInformationIsSkipped) {
  BitString bits;
  bits.Bits("0000 0000 0000 0000 1000 00 0000 0001 10 000 010 0 0000 00011 0");
  bits.Bits("1 1010 1010 1 1111 1111 0");  // PEI PSPARE PEI PSPARE PEI
  bits.Bits("1100 1010");                  // what follows the header
  ASSERT_EQ(Parse(bits), kParseOk);
  EXPECT_EQ(d.pei, 1);
  EXPECT_EQ(ReadBits(8), 0xCA);
}

TEST_F(PictureHeaderTest, ZeroQuantiserIsTakenAsOne) {
  BitString bits;
  AppendPictureHeader(bits, 0, 0, 0);
  bits.Bits("0000 0000 0000 0000 1 00011 00 00000");  // GOB 3 with GQUANT 0
  ASSERT_EQ(Parse(bits), kParseOk);
  EXPECT_EQ(d.pquant, 1);
  ASSERT_EQ(ParseGobHeader(), kParseOk);
  EXPECT_EQ(d.gobHeaderPresent, 1);
  EXPECT_EQ(d.gquant, 1);
}

class GobHeaderTest : public PictureHeaderTest {
 protected:
  // Positions the reader `skip` bits into `bits` with the running quantiser `quant`.
  int32_t ParseGobAt(const BitString& bits, int skip, uint8_t quant) {
    clip_ = bits.Bytes();
    AttachClip(clip_, buffer_);
    while (skip > 0) {
      const int n = skip > 8 ? 8 : skip;
      ReadBits(n);
      skip -= n;
    }
    d.quant = quant;
    return ParseGobHeader();
  }
};

TEST_F(GobHeaderTest, HeaderOnByteBoundary) {
  BitString bits;
  bits.Bits("0000 0000 0000 0000 1 00101 11 10110 1");
  ASSERT_EQ(ParseGobAt(bits, 0, 4), kParseOk);
  EXPECT_EQ(d.gobHeaderPresent, 1);
  EXPECT_EQ(d.gfid, 3);
  EXPECT_EQ(d.gquant, 22);
  EXPECT_EQ(BitsConsumed(), 17 + 5 + 2 + 5);
}

TEST_F(GobHeaderTest, HeaderAfterStuffingZeros) {
  // Five bits of the previous GOB, three stuffing zeros, then the aligned start code.
  BitString bits;
  bits.Bits("10110 000 0000 0000 0000 0000 1 00001 01 00111");
  ASSERT_EQ(ParseGobAt(bits, 5, 4), kParseOk);
  EXPECT_EQ(d.gobHeaderPresent, 1);
  EXPECT_EQ(d.gfid, 1);
  EXPECT_EQ(d.gquant, 7);
  EXPECT_EQ(BitsConsumed(), 8 + 17 + 5 + 2 + 5);
}

TEST_F(GobHeaderTest, NoHeaderKeepsRunningQuantiserAndPosition) {
  BitString bits;
  bits.Bits("0000 0000 1000 0000 0000 0000");  // not 16 zeros
  ASSERT_EQ(ParseGobAt(bits, 0, 17), kParseOk);
  EXPECT_EQ(d.gobHeaderPresent, 0);
  EXPECT_EQ(d.gquant, 17);
  EXPECT_EQ(BitsConsumed(), 0);

  BitString zeros;  // 24 zeros: the third byte must be nonzero
  zeros.Bits("0000 0000 0000 0000 0000 0000 1");
  d.gobHeaderPresent = 1;  // whatever the previous GOB reported
  ASSERT_EQ(ParseGobAt(zeros, 0, 3), kParseOk);
  EXPECT_EQ(d.gobHeaderPresent, 0);
  EXPECT_EQ(d.gquant, 3);
  EXPECT_EQ(BitsConsumed(), 0);
}

TEST_F(GobHeaderTest, SeventeenZerosAreNotAStartCode) {
  BitString bits;
  bits.Bits("0000 0000 0000 0000 0100 0000");
  EXPECT_EQ(ParseGobAt(bits, 0, 5), kBadGobStartCode);
  EXPECT_EQ(d.gobHeaderPresent, 0);
}

TEST_F(GobHeaderTest, GobNumberIsNotChecked) {
  BitString bits;
  bits.Bits("0000 0000 0000 0000 1 11111 00 00010");
  ASSERT_EQ(ParseGobAt(bits, 0, 5), kParseOk);
  EXPECT_EQ(d.gobHeaderPresent, 1);
  EXPECT_EQ(d.gquant, 2);
}

}  // namespace
