#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "h263_stream_writer.h"
#include "video/parser/video_decoder.h"
#include "video/recon/picture_decoder.h"

namespace {

constexpr int kW = 176, kH = 144;
constexpr int kQcifPicture = kW * kH * 3 / 2;

// Decoder on buffers of exactly the QCIF sizes, so AddressSanitizer reports any
// access beyond what a QCIF stream may touch.
class PictureDecoderTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> current = std::vector<uint8_t>(kQcifPicture);
  std::vector<uint8_t> previous = std::vector<uint8_t>(kQcifPicture);
  std::vector<uint8_t> reference = std::vector<uint8_t>(12 * kW * kH);
  std::vector<uint8_t> bitBuffer = std::vector<uint8_t>(kBitBufferBytes);
  H263StreamWriter stream;
  std::vector<uint8_t> clip;

  void Start() {
    stream.Align();
    clip = stream.bytes();
    InitVideoDecoder(current.data(), previous.data(), reference.data(), bitBuffer.data(),
                     kVideoWindowSize, kMemorySource, clip.data(),
                     static_cast<int64_t>(clip.size()));
    ASSERT_EQ(ProbePictureFormat(), 0);
  }

  // DC of block k of macroblock n in the patterned INTRA picture.
  static int PatternDc(int n, int k) { return 1 + (n * 13 + k * 41) % 250; }

  void PatternedIntraPicture(int tr = 0) {
    stream.PictureHeader(tr, 2, false, 8);
    for (int n = 0; n < 99; ++n) {
      int dc[6];
      for (int k = 0; k < 6; ++k) dc[k] = PatternDc(n, k);
      stream.IntraMacroblock(dc, false);
    }
  }
  void NotCodedInterPicture(int tr, int format = 2, int macroblocks = 99) {
    stream.PictureHeader(tr, format, true, 8);
    for (int n = 0; n < macroblocks; ++n) stream.NotCoded();
  }

  // Sample of macroblock n, block k (0..3 luma, 4 U, 5 V), at (y, x) in 0..7.
  uint8_t At(const std::vector<uint8_t>& picture, int n, int k, int y, int x) {
    const int row = n / 11, col = n % 11;
    if (k < 4) {
      return picture[(16 * row + 8 * (k >> 1) + y) * kW + 16 * col + 8 * (k & 1) + x];
    }
    const int plane = kW * kH + (k - 4) * (kW / 2) * (kH / 2);
    return picture[plane + (8 * row + y) * (kW / 2) + 8 * col + x];
  }
};

TEST_F(PictureDecoderTest, IntraPictureOfDcBlocks) {
  PatternedIntraPicture();
  Start();
  EXPECT_EQ(videoDecoder.width, kW);
  EXPECT_EQ(videoDecoder.height, kH);
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.gobsPerPicture, 9);
  EXPECT_EQ(videoDecoder.mbsPerGob, 11);
  EXPECT_EQ(videoDecoder.mbError, 0);
  for (int n = 0; n < 99; ++n) {
    for (int k = 0; k < 6; ++k) {
      // A DC-only intra block reconstructs one step above its INTRADC.
      ASSERT_EQ(At(current, n, k, 0, 0), PatternDc(n, k) + 1) << n << " " << k;
      ASSERT_EQ(At(current, n, k, 7, 7), PatternDc(n, k) + 1) << n << " " << k;
    }
  }
  EXPECT_EQ(previous, current);
}

TEST_F(PictureDecoderTest, NotCodedInterPictureReproducesThePrevious) {
  PatternedIntraPicture();
  NotCodedInterPicture(1);
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  const std::vector<uint8_t> first = current;
  std::fill(current.begin(), current.end(), 0x55);
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.temporalReference, 1);
  EXPECT_EQ(current, first);
  EXPECT_EQ(previous, first);
}

TEST_F(PictureDecoderTest, InterMacroblocksPredictAndAddResidual) {
  PatternedIntraPicture();
  stream.PictureHeader(1, 2, true, 10);
  stream.InterMacroblock(1, 0);      // macroblock 0: vector (1, 0)
  stream.InterMacroblock(-1, 0, 1);  // macroblock 1: predicted (1,0) - 1 = (0, 0), DC level 1
  const int dc[6] = {50, 60, 70, 80, 90, 100};
  stream.IntraMacroblock(dc, true);  // macroblock 2: intra inside an INTER picture
  for (int n = 3; n < 99; ++n) stream.NotCoded();
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  const std::vector<uint8_t> first = current;
  ASSERT_EQ(DecodePicture(), 0);
  ASSERT_EQ(videoDecoder.mbError, 0);
  // Macroblock 0, block 0 column 7: half way to block 1's flat value.
  EXPECT_EQ(At(current, 0, 0, 3, 0), At(first, 0, 0, 3, 0));
  EXPECT_EQ(At(current, 0, 0, 3, 7), (At(first, 0, 0, 3, 7) + At(first, 0, 1, 3, 0) + 1) >> 1);
  // Chroma moves a quarter sample, which rounds to the half-sample position.
  EXPECT_EQ(At(current, 0, 4, 0, 7), (At(first, 0, 4, 0, 7) + At(first, 1, 4, 0, 0) + 1) >> 1);
  // Macroblock 1: zero vector; luma block 0 adds (10 x 3 - 1 + 4) >> 3 = 4.
  EXPECT_EQ(At(current, 1, 0, 5, 5), At(first, 1, 0, 5, 5) + 4);
  EXPECT_EQ(At(current, 1, 1, 5, 5), At(first, 1, 1, 5, 5));
  EXPECT_EQ(At(current, 1, 5, 5, 5), At(first, 1, 5, 5, 5));
  // Macroblock 2: no prediction, the intra DC rule.
  for (int k = 0; k < 6; ++k) EXPECT_EQ(At(current, 2, k, 4, 4), dc[k] + 1);
  EXPECT_EQ(At(current, 3, 0, 4, 4), At(first, 3, 0, 4, 4));
}

TEST_F(PictureDecoderTest, MacroblockErrorStopsThePictureAndTheClip) {
  PatternedIntraPicture();
  stream.PictureHeader(1, 2, true, 8);
  for (int n = 0; n < 40; ++n) stream.NotCoded();
  stream.PutBit(0);  // COD 0, then no valid MCBPC (only zeros follow)
  stream.Put(0, 24);
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  const std::vector<uint8_t> first = current;
  std::fill(current.begin(), current.end(), 0x55);
  EXPECT_EQ(DecodePicture(), 0);
  EXPECT_NE(videoDecoder.mbError, 0);
  EXPECT_EQ(videoDecoder.failedMbIndex, 40);
  for (int n = 0; n < 99; ++n) {
    for (int k = 0; k < 6; ++k) {
      ASSERT_EQ(At(current, n, k, 2, 3), n < 40 ? At(first, n, k, 2, 3) : 0x55) << n;
    }
  }
  EXPECT_EQ(previous, current);
  // Nothing further decodes; the error stays until the next probe.
  EXPECT_NE(DecodePicture(), 0);
  EXPECT_NE(videoDecoder.mbError, 0);
}

TEST_F(PictureDecoderTest, HeaderFailureAndEndOfSequenceLeaveBuffersUnchanged) {
  PatternedIntraPicture();
  stream.PictureHeader(1, 2, true, 8, /*notH263=*/true);
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  const auto c = current, p = previous, r = reference;
  EXPECT_EQ(DecodePicture(), 2);
  EXPECT_EQ(videoDecoder.temporalReference, 1);
  EXPECT_TRUE(current == c && previous == p && reference == r);

  stream = H263StreamWriter();
  PatternedIntraPicture();
  stream.EndOfSequence();
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.endOfSequence, 0);
  EXPECT_EQ(DecodePicture(), 0);
  EXPECT_NE(videoDecoder.endOfSequence, 0);
  EXPECT_TRUE(current == c && previous == p && reference == r);
  EXPECT_EQ(DecodePicture(), 0);  // stays at the end
}

TEST_F(PictureDecoderTest, UnsupportedFormatIsRefusedBeforeReading) {
  stream.PictureHeader(0, 1, false, 8);  // sub-QCIF
  stream.Align();
  clip = stream.bytes();
  InitVideoDecoder(current.data(), previous.data(), reference.data(), bitBuffer.data(),
                   kVideoWindowSize, kMemorySource, clip.data(), static_cast<int64_t>(clip.size()));
  EXPECT_EQ(ProbePictureFormat(), 4);
  EXPECT_EQ(videoDecoder.width, 352);  // unchanged from initialisation
  EXPECT_EQ(DecodePicture(), 4);
}

TEST_F(PictureDecoderTest, DquantIsClampedAndCarriedAcrossGobsWithoutHeaders) {
  const int dc[6] = {100, 100, 100, 100, 100, 100};
  struct Case {
    int pquant, dquant, expected;
  } cases[] = {{1, 1, 1}, {31, 3, 31}, {5, 3, 7}, {5, 0, 4}};
  for (const Case& c : cases) {
    stream = H263StreamWriter();
    stream.PictureHeader(0, 2, false, c.pquant);
    stream.IntraMacroblock(dc, false, c.dquant);
    for (int n = 1; n < 99; ++n) stream.IntraMacroblock(dc, false);
    Start();
    ASSERT_EQ(DecodePicture(), 0);
    EXPECT_EQ(videoDecoder.quant, c.expected) << c.pquant << " " << c.dquant;
    EXPECT_EQ(videoDecoder.mvPredictionMode, 3);
  }
}

TEST_F(PictureDecoderTest, GobHeaderSetsQuantiserAndPredictionMode) {
  const int dc[6] = {100, 100, 100, 100, 100, 100};
  stream.PictureHeader(0, 2, false, 5);
  for (int n = 0; n < 99; ++n) {
    if (n == 88) stream.GobHeader(8, 17);
    stream.IntraMacroblock(dc, false);
  }
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.mbError, 0);
  EXPECT_EQ(videoDecoder.quant, 17);
  EXPECT_EQ(videoDecoder.mvPredictionMode, 1);
}

TEST_F(PictureDecoderTest, FormatChangeMidStreamStaysInsideQcifBuffers) {
  // The GOB counts follow the previous header, the plane sizes the probe: the
  // picture after a CIF header is decoded as 18 GOBs of 22 macroblocks over
  // QCIF planes. Every store and fetch must stay inside the QCIF buffers.
  PatternedIntraPicture();
  NotCodedInterPicture(1, 3, 99);
  NotCodedInterPicture(2, 2, 396);
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  const std::vector<uint8_t> first = current;
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(current, first);
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.mbsPerGob, 22);
  EXPECT_EQ(videoDecoder.gobsPerPicture, 18);
  EXPECT_EQ(videoDecoder.width, kW);
  EXPECT_EQ(videoDecoder.mbError, 0);
  EXPECT_EQ(current, first);
}

TEST_F(PictureDecoderTest, CifProbe) {
  std::vector<uint8_t> cifCurrent(kCurrentPictureBytes), cifPrevious(kPreviousPictureBytes),
      cifReference(kInterpolatedReferenceBytes);
  const int dc[6] = {30, 60, 90, 120, 150, 180};
  stream.PictureHeader(0, 3, false, 4);
  for (int n = 0; n < 396; ++n) stream.IntraMacroblock(dc, false);
  stream.Align();
  clip = stream.bytes();
  InitVideoDecoder(cifCurrent.data(), cifPrevious.data(), cifReference.data(), bitBuffer.data(),
                   kVideoWindowSize, kMemorySource, clip.data(), static_cast<int64_t>(clip.size()));
  ASSERT_EQ(ProbePictureFormat(), 0);
  EXPECT_EQ(videoDecoder.width, 352);
  EXPECT_EQ(videoDecoder.height, 288);
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.gobsPerPicture, 18);
  EXPECT_EQ(videoDecoder.mbsPerGob, 22);
  EXPECT_EQ(cifCurrent[0], 31);
  EXPECT_EQ(cifCurrent[287 * 352 + 351], 121);                 // last luma block
  EXPECT_EQ(cifCurrent[352 * 288 + 176 * 144 - 1], 151);       // last U sample
  EXPECT_EQ(cifCurrent[352 * 288 * 3 / 2 - 1], 181);           // last V sample
}

TEST(ApplyDquant, StepsAndClamps) {
  EXPECT_EQ(ApplyDquant(1, 1), 1);
  EXPECT_EQ(ApplyDquant(1, 0), 1);
  EXPECT_EQ(ApplyDquant(2, 1), 1);
  EXPECT_EQ(ApplyDquant(31, 3), 31);
  EXPECT_EQ(ApplyDquant(30, 3), 31);
  EXPECT_EQ(ApplyDquant(10, 0), 9);
  EXPECT_EQ(ApplyDquant(10, 1), 8);
  EXPECT_EQ(ApplyDquant(10, 2), 11);
  EXPECT_EQ(ApplyDquant(10, 3), 12);
}

}  // namespace
