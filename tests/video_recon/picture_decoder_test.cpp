#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "clip_decoding.h"
#include "support/test_support.h"
#include "h263_stream_writer.h"
#include "video/parser/video_decoder.h"
#include "video/recon/decoder_buffers.h"
#include "video/recon/macroblock_reconstruction.h"
#include "video/recon/picture_decoder.h"

using namespace clipnote::h263;

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

TEST_F(PictureDecoderTest, NotCodedInterPictureReproducesThePrevious) {
  PatternedIntraPicture();
  NotCodedInterPicture(1);
  Start();
  EXPECT_EQ(videoDecoder.width, kW);
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.gobsPerPicture, 9);
  EXPECT_EQ(videoDecoder.mbsPerGob, 11);
  EXPECT_EQ(At(current, 98, 5, 7, 7), PatternDc(98, 5) + 1);  // the intra DC rule
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

// Vectors reaching past the picture's edges read the edge samples again (an
// unclamped fetch would wrap into the neighbouring grid row, or before it).
TEST_F(PictureDecoderTest, VectorsPastTheEdgesRepeatTheEdgeSamples) {
  PatternedIntraPicture();
  stream.PictureHeader(1, 2, true, 8);
  stream.InterMacroblock(-1, -1);  // macroblock 0: vector (-1, -1), up and left of the picture
  for (int n = 1; n < 9; ++n) stream.NotCoded();
  stream.InterMacroblock(1, 0);  // macroblock 9: (1, 0)
  stream.InterMacroblock(1, 0);  // macroblock 10, last of its row: (1, 0) + 1 = (2, 0)
  for (int n = 11; n < 99; ++n) stream.NotCoded();
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  const std::vector<uint8_t> first = current;
  ASSERT_EQ(DecodePicture(), 0);
  ASSERT_EQ(videoDecoder.mbError, 0);
  // Every block of the first picture is flat, so the edge blocks keep their values.
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      ASSERT_EQ(At(current, 0, 0, y, x), At(first, 0, 0, y, x)) << y << "," << x;
      ASSERT_EQ(At(current, 0, 4, y, x), At(first, 0, 4, y, x)) << y << "," << x;
      ASSERT_EQ(At(current, 10, 1, y, x), At(first, 10, 1, y, x)) << y << "," << x;
      ASSERT_EQ(At(current, 10, 5, y, x), At(first, 10, 5, y, x)) << y << "," << x;
    }
  }
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
  // What the macroblocks not reached held has become the reference.
  EXPECT_TRUE(ReferenceIsWholeBuild());
  // Nothing further decodes; the error stays until the next probe.
  EXPECT_NE(DecodePicture(), 0);
  EXPECT_NE(videoDecoder.mbError, 0);
}

// An error in the last GOB leaves the reader at the next picture header: that
// picture is still "decoded" (header read, reference rebuilt) but none of its
// macroblocks are, so it repeats the damaged picture.
TEST_F(PictureDecoderTest, MacroblockErrorKeepsLaterPicturesFrozen) {
  PatternedIntraPicture();
  stream.PictureHeader(1, 2, true, 8);
  for (int n = 0; n < 88; ++n) stream.NotCoded();
  stream.OverrunningInterMacroblock();
  stream.PictureHeader(2, 2, true, 8);
  const int dc[6] = {50, 60, 70, 80, 90, 100};
  stream.IntraMacroblock(dc, true);  // would change macroblock 0 if it were decoded
  for (int n = 1; n < 99; ++n) stream.NotCoded();
  Start();
  ASSERT_EQ(DecodePicture(), 0);
  const std::vector<uint8_t> first = current;
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.failedMbIndex, 88);
  EXPECT_EQ(current, first);  // everything before 88 was not coded; 88 on was never written
  ASSERT_EQ(DecodePicture(), 0);
  EXPECT_EQ(videoDecoder.temporalReference, 2);
  EXPECT_NE(videoDecoder.mbError, 0);
  EXPECT_EQ(current, first);
  EXPECT_EQ(previous, first);
  EXPECT_EQ(DecodePicture(), 1);  // the clip's end
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

// A clip that starts with an INTER picture predicts from the buffers as they
// were handed over; zeroed each time, they give the same pictures every time.
TEST(StartVideoClip, ZeroesTheBuffersSoEveryDecodeIsTheSame) {
  static VideoDecoderBuffers buffers;
  const std::vector<uint8_t> real = support::ReadFile(CLIPNOTE_SOURCE_DIR "/tests/video_recon/data/small_qcif.263");
  StartVideoClip(buffers, real.data(), real.size());
  ProbePictureFormat();
  ASSERT_EQ(DecodePicture(), 0);
  H263StreamWriter stream;
  stream.PictureHeader(0, 2, true, 8);
  for (int n = 0; n < 99; ++n) stream.NotCoded();
  stream.Align();
  StartVideoClip(buffers, stream.bytes().data(), stream.bytes().size());
  ProbePictureFormat();
  ASSERT_EQ(DecodePicture(), 0);
  for (int i = 0; i < kQcifPicture; ++i) ASSERT_EQ(buffers.currentPicture[i], 0) << i;
}

// A clip whose first picture header carries `spareBytes` extra insertion bytes: PEI 1,
// then each spare byte followed by another PEI, the last one 0.
std::vector<uint8_t> WithSpareBytes(const std::vector<uint8_t>& clip, int spareBytes) {
  constexpr int kPeiBit = 49;  // start code 22, TR 8, PTYPE 13, PQUANT 5, CPM 1
  const auto bit = [&](size_t i) { return (clip[i / 8] >> (7 - i % 8)) & 1u; };
  H263StreamWriter out;
  for (size_t i = 0; i < kPeiBit; ++i) out.PutBit(bit(i));
  for (int k = 0; k < spareBytes; ++k) {
    out.PutBit(1);
    out.Put(0xFF, 8);  // read as start-code bits, they look like the end of the sequence
  }
  out.PutBit(0);
  for (size_t i = kPeiBit + 1; i < 8 * clip.size(); ++i) out.PutBit(bit(i));
  out.Align();
  return out.bytes();
}

struct FileReader {
  const std::vector<uint8_t>* bytes;
  size_t at;
};

int32_t ReadFromVector(void* handle, uint8_t* dest, int32_t count) {
  auto& f = *static_cast<FileReader*>(handle);
  const size_t n = std::min(static_cast<size_t>(count), f.bytes->size() - f.at);
  std::copy_n(f.bytes->data() + f.at, n, dest);
  f.at += n;
  return static_cast<int32_t>(n);
}

// Every picture of the clip, read from memory or through the file source.
std::vector<std::vector<uint8_t>> DecodeThrough(const std::vector<uint8_t>& clip, bool file,
                                                int32_t windowSize) {
  static VideoDecoderBuffers buffers;
  StartVideoClip(buffers, clip.data(), clip.size());
  FileReader reader{&clip, 0};
  const BitFileSource source{&reader, ReadFromVector};
  if (file) {
    InitVideoDecoder(buffers.currentPicture.data(), buffers.previousPicture.data(),
                     buffers.interpolatedReference.data(), buffers.bitBuffer.data(), windowSize,
                     0, &source, 0);
  } else {
    InitVideoDecoder(buffers.currentPicture.data(), buffers.previousPicture.data(),
                     buffers.interpolatedReference.data(), buffers.bitBuffer.data(), windowSize,
                     kMemorySource, clip.data(), static_cast<int64_t>(clip.size()));
  }
  std::vector<std::vector<uint8_t>> pictures;
  if (ProbePictureFormat() != 0) return pictures;
  while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) {
    pictures.emplace_back(buffers.currentPicture.begin(),
                          buffers.currentPicture.begin() + kQcifPicture);
  }
  return pictures;
}

// The probe must leave the reader where a fresh start does: extra insertion bytes that run
// past the first window must not move it, and a window too small for the header's fields
// is loaded again, from memory or from the bytes a file source has given.
TEST(ProbePictureFormat, FirstDecodeStartsWhereAFreshStartWould) {
  const std::vector<uint8_t> plain =
      support::ReadFile(CLIPNOTE_SOURCE_DIR "/tests/video_recon/data/small_qcif.263");
  ASSERT_EQ((plain[6] >> 6) & 1, 0) << "the committed clip already has extra insertion bytes";
  const auto expected = DecodeThrough(plain, false, kVideoWindowSize);
  ASSERT_EQ(expected.size(), 6u);
  struct Row {
    const char* what;
    bool file;
    int32_t windowSize;
    int spareBytes;
  };
  const Row rows[] = {
      {"memory, spare bytes past the first window", false, kVideoWindowSize, 9000},
      {"file, spare bytes past the first window", true, kVideoWindowSize, 9000},
      {"file, small windows", true, 16, 9000},
      {"memory, a window smaller than the header", false, 5, 0},
      {"memory, small window and spare bytes", false, 5, 40},
      {"file, the smallest window", true, 4, 0},
      {"file, the smallest window and spare bytes", true, 4, 40},
      {"file, a window one byte short of the header and spare bytes", true, 9, 40},
      {"file, a window that holds the header and spare bytes", true, 10, 40},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DecodeThrough(WithSpareBytes(plain, row.spareBytes), row.file, row.windowSize),
              expected)
        << row.what;
  }
}

TEST(ApplyDquant, StepsAndClamps) {
  const int cases[][3] = {{1, 1, 1}, {2, 1, 1}, {31, 3, 31}, {30, 3, 31},
                          {10, 0, 9}, {10, 1, 8}, {10, 2, 11}, {10, 3, 12}};
  for (const auto& c : cases) {
    EXPECT_EQ(ApplyDquant(static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1])), c[2]);
  }
}

}  // namespace
