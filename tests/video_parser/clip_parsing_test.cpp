// Parses whole clips made by an independent encoder (ffmpeg) the way the picture driver does,
// without reconstruction. Each picture must start exactly at the clip's next picture start
// code, so a wrong code or rule anywhere shows up as a misparse.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "video/parser/picture_headers.h"
#include "video_parser/parser_test_support.h"

namespace {

VideoDecoder& d = videoDecoder;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ClipStats {
  std::vector<int64_t> starts;  // bit offsets of the pictures
  int gobHeaders = 0;
  int nonZeroVectors = 0;
  int notCoded = 0;
};

ClipStats ParseClip(const std::vector<uint8_t>& clip, int32_t windowSize) {
  std::vector<uint8_t> buffer;
  parser_test::AttachClip(clip, buffer, windowSize);
  ClipStats stats;
  std::array<int8_t, 384> levels;
  for (int64_t start = 0; ParsePictureHeader() == kParseOk; start = BitsConsumed()) {
    EXPECT_EQ(d.endOfSequence, 0);
    stats.starts.push_back(start);
    d.mbsPerGob = d.sourceFormat == 2 ? 11 : 22;
    d.gobsPerPicture = d.sourceFormat == 2 ? 9 : 18;
    ClearMvStore();
    BeginPictureSyntax();
    for (; d.gobIndex < d.gobsPerPicture; ++d.gobIndex) {
      d.gobHeaderPresent = 0;
      if (d.gobIndex > 0) {
        EXPECT_EQ(ParseGobHeader(), kParseOk);
      }
      d.mvPredictionMode = d.gobHeaderPresent || d.gobIndex == 0 ? 1 : 3;
      stats.gobHeaders += d.gobHeaderPresent;
      ResetMacroblockState();
      for (int mb = 0; mb < d.mbsPerGob; ++mb) {
        d.mbIndex = static_cast<uint16_t>(d.gobIndex * d.mbsPerGob + mb);
        if (DecodeMacroblockSyntax(&levels[0], &levels[256], &levels[320]) != 0) {
          ADD_FAILURE() << "picture " << stats.starts.size() << " macroblock " << d.mbIndex;
          return stats;
        }
        stats.nonZeroVectors += d.mvX != 0 || d.mvY != 0;
        stats.notCoded += d.cod;
      }
    }
    AlignToByte();
  }
  return stats;
}

void ExpectCleanParse(const std::vector<uint8_t>& clip, const ClipStats& stats) {
  std::vector<int64_t> starts;
  for (size_t i = 0; i + 2 < clip.size(); ++i) {
    if (clip[i] == 0 && clip[i + 1] == 0 && (clip[i + 2] & 0xFC) == 0x80) starts.push_back(8 * i);
  }
  EXPECT_EQ(stats.starts, starts);
}

TEST(ClipParsing, CommittedClips) {
  struct Clip {
    const char* name;
    size_t pictures;
    bool gobHeaders;
  };
  for (const Clip& c : {Clip{"qcif_intra_inter.263", 6, false}, Clip{"qcif_gob_headers.263", 4, true},
                        Clip{"cif_three_pictures.263", 3, false}}) {
    const auto clip = ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_parser/clips/" + c.name);
    ASSERT_FALSE(clip.empty()) << c.name;
    for (int32_t window : {8192, 64, 5}) {
      SCOPED_TRACE(testing::Message() << c.name << " window " << window);
      const ClipStats stats = ParseClip(clip, window);
      ExpectCleanParse(clip, stats);
      EXPECT_EQ(stats.starts.size(), c.pictures);
      EXPECT_EQ(stats.gobHeaders > 0, c.gobHeaders);
    }
  }
  const ClipStats stats = ParseClip(ReadFile(std::string(CLIPNOTE_SOURCE_DIR) +
                                             "/tests/video_parser/clips/qcif_intra_inter.263"), 8192);
  EXPECT_GT(stats.nonZeroVectors, 0);
  EXPECT_GT(stats.notCoded, 0);
}

// A longer clip with fast motion and GOB headers, made at test time when ffmpeg is there.
TEST(ClipParsing, GeneratedClipWithMotion) {
  const std::string path = std::string(CLIPNOTE_BINARY_DIR) + "/video_parser_motion.263";
  const std::string command =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=176x144:rate=30 -f lavfi "
      "-i mandelbrot=size=176x144:rate=30 -filter_complex "
      "\"[0][1]blend=all_mode=average,scroll=h=0.013:v=-0.007\" -frames:v 60 -c:v h263 "
      "-g 30 -q:v 4 -ps 400 -f h263 " + path + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "ffmpeg is not available";
  const auto clip = ReadFile(path);
  const ClipStats stats = ParseClip(clip, 8192);
  ExpectCleanParse(clip, stats);
  EXPECT_EQ(stats.starts.size(), 60u);
  EXPECT_GT(stats.nonZeroVectors, 100);
  EXPECT_GT(stats.gobHeaders, 0);
  std::remove(path.c_str());
}

}  // namespace
