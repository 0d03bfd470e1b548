// Parses whole clips made by an independent encoder (ffmpeg) the way the picture driver does,
// without reconstruction. Every bit must be accounted for: each picture has to start exactly at
// the next picture start code of the clip, so a wrong code anywhere shows up as a misparse.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "video/parser/bit_reader.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/picture_headers.h"
#include "video_parser/parser_test_support.h"

namespace {

VideoDecoder& d = videoDecoder;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Bit offsets of the byte-aligned picture start codes of a clip.
std::vector<int64_t> PictureStarts(const std::vector<uint8_t>& clip) {
  std::vector<int64_t> starts;
  for (size_t i = 0; i + 2 < clip.size(); ++i) {
    if (clip[i] == 0 && clip[i + 1] == 0 && (clip[i + 2] & 0xFC) == 0x80) starts.push_back(8 * i);
  }
  return starts;
}

struct ClipStats {
  int pictures = 0;
  int interPictures = 0;
  int gobHeaders = 0;
  int notCoded = 0;
  int intraInInter = 0;
  int nonZeroVectors = 0;
  int endCode = -1;
  bool endOfSequence = false;
  std::vector<int64_t> starts;
};

ClipStats ParseClip(const std::vector<uint8_t>& clip, int32_t windowSize) {
  std::vector<uint8_t> buffer;
  parser_test::AttachClip(clip, buffer, windowSize);
  ClipStats stats;
  std::array<int8_t, 256> luma;
  std::array<int8_t, 64> cb;
  std::array<int8_t, 64> cr;
  for (;;) {
    const int64_t start = BitsConsumed();
    const int32_t code = ParsePictureHeader();
    if (d.endOfSequence) {
      stats.endOfSequence = true;
      return stats;
    }
    if (code != kParseOk) {
      stats.endCode = code;
      return stats;
    }
    stats.starts.push_back(start);
    ++stats.pictures;
    stats.interPictures += d.pictureCodingType;
    d.mbsPerGob = d.sourceFormat == 2 ? 11 : 22;
    d.gobsPerPicture = d.sourceFormat == 2 ? 9 : 18;
    ClearMvStore();
    BeginPictureSyntax();
    for (; d.gobIndex < d.gobsPerPicture; ++d.gobIndex) {
      if (d.gobIndex == 0) {
        d.gobHeaderPresent = 0;
        d.mvPredictionMode = 1;
      } else {
        EXPECT_EQ(ParseGobHeader(), kParseOk) << "picture " << stats.pictures;
        d.mvPredictionMode = d.gobHeaderPresent ? 1 : 3;
        stats.gobHeaders += d.gobHeaderPresent;
      }
      d.quant = d.gquant;
      ResetMacroblockState();
      for (int mb = 0; mb < d.mbsPerGob; ++mb) {
        d.mbIndex = static_cast<uint16_t>(d.gobIndex * d.mbsPerGob + mb);
        if (DecodeMacroblockSyntax(luma.data(), cb.data(), cr.data()) != 0) {
          ADD_FAILURE() << "picture " << stats.pictures << " macroblock " << d.mbIndex;
          stats.endCode = -2;
          return stats;
        }
        EXPECT_LE(d.mbType, kMbIntraQ);
        stats.notCoded += d.cod;
        stats.intraInInter += d.pictureCodingType == 1 && d.mbType >= kMbIntra;
        stats.nonZeroVectors += d.mvX != 0 || d.mvY != 0;
        if (d.cod == 0 && (d.mbType == kMbInterQ || d.mbType == kMbIntraQ)) {
          static constexpr int kDquant[4] = {-1, -2, 1, 2};
          const int q = d.quant + kDquant[d.dquantIndex];
          d.quant = static_cast<uint8_t>(q < 1 ? 1 : q > 31 ? 31 : q);
        }
      }
    }
    AlignToByte();
  }
}

void ExpectCleanParse(const std::vector<uint8_t>& clip, const ClipStats& stats) {
  EXPECT_EQ(stats.starts, PictureStarts(clip));
  EXPECT_EQ(stats.endCode, kNoPictureStartCode);
  EXPECT_FALSE(stats.endOfSequence);
}

std::string ClipPath(const char* name) {
  return std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_parser/clips/" + name;
}

TEST(ClipParsing, QcifIntraAndInterPictures) {
  const auto clip = ReadFile(ClipPath("qcif_intra_inter.263"));
  ASSERT_FALSE(clip.empty());
  for (int32_t window : {8192, 64, 5}) {
    SCOPED_TRACE(window);
    const ClipStats stats = ParseClip(clip, window);
    ExpectCleanParse(clip, stats);
    EXPECT_EQ(stats.pictures, 6);
    EXPECT_EQ(stats.interPictures, 4);
    EXPECT_GT(stats.nonZeroVectors, 0);
    EXPECT_GT(stats.notCoded, 0);
  }
}

TEST(ClipParsing, QcifWithGobHeaders) {
  const auto clip = ReadFile(ClipPath("qcif_gob_headers.263"));
  ASSERT_FALSE(clip.empty());
  const ClipStats stats = ParseClip(clip, 8192);
  ExpectCleanParse(clip, stats);
  EXPECT_EQ(stats.pictures, 4);
  EXPECT_GT(stats.gobHeaders, 0);
}

TEST(ClipParsing, CifPictures) {
  const auto clip = ReadFile(ClipPath("cif_three_pictures.263"));
  ASSERT_FALSE(clip.empty());
  const ClipStats stats = ParseClip(clip, 8192);
  ExpectCleanParse(clip, stats);
  EXPECT_EQ(stats.pictures, 3);
  EXPECT_EQ(d.sourceFormat, 3);
}

// A longer clip with fast motion, made at test time when ffmpeg is there.
TEST(ClipParsing, GeneratedClipWithMotion) {
  const std::string path = std::string(CLIPNOTE_BINARY_DIR) + "/video_parser_motion.263";
  const std::string command =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=176x144:rate=30 -f lavfi "
      "-i mandelbrot=size=176x144:rate=30 -filter_complex "
      "\"[0][1]blend=all_mode=average,scroll=h=0.013:v=-0.007\" -frames:v 60 -c:v h263 "
      "-g 30 -q:v 4 -ps 400 -f h263 " + path + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "ffmpeg is not available";
  const auto clip = ReadFile(path);
  ASSERT_FALSE(clip.empty());
  const ClipStats stats = ParseClip(clip, 8192);
  ExpectCleanParse(clip, stats);
  EXPECT_EQ(stats.pictures, 60);
  EXPECT_GT(stats.nonZeroVectors, 100);
  std::remove(path.c_str());
}

}  // namespace
