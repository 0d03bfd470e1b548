// Parses whole clips made by an independent encoder (ffmpeg) the way the picture driver does,
// without reconstruction. Each picture must start exactly at the clip's next picture start
// code, so a wrong code or rule anywhere shows up as a misparse.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "video_parser/clip_syntax_walk.h"

namespace {

using support::ReadFile;
using parser_test::ClipSyntax;

// The syntax walk, failing the test where a macroblock does not parse.
ClipSyntax ParseClip(const std::vector<uint8_t>& clip, int32_t windowSize) {
  const ClipSyntax syntax = parser_test::WalkClipSyntax(clip, windowSize);
  EXPECT_EQ(syntax.failedMacroblock, -1) << "picture " << syntax.failedPicture;
  EXPECT_EQ(syntax.badGobHeaders, 0);
  return syntax;
}

void ExpectCleanParse(const std::vector<uint8_t>& clip, const ClipSyntax& stats) {
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
      const ClipSyntax stats = ParseClip(clip, window);
      ExpectCleanParse(clip, stats);
      EXPECT_EQ(stats.starts.size(), c.pictures);
      EXPECT_EQ(stats.gobHeaders > 0, c.gobHeaders);
    }
  }
  const ClipSyntax stats = ParseClip(ReadFile(std::string(CLIPNOTE_SOURCE_DIR) +
                                             "/tests/video_parser/clips/qcif_intra_inter.263"), 8192);
  EXPECT_GT(stats.nonZeroVectors, 0);
  EXPECT_GT(stats.notCoded, 0);
}

// A longer clip with fast motion and GOB headers, made at test time when ffmpeg is there.
TEST(ClipParsing, GeneratedClipWithMotion) {
  const std::string path = support::Scratch("motion.263");
  const std::string command =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=176x144:rate=30 -f lavfi "
      "-i mandelbrot=size=176x144:rate=30 -filter_complex "
      "\"[0][1]blend=all_mode=average,scroll=h=0.013:v=-0.007\" -frames:v 60 -c:v h263 "
      "-g 30 -q:v 4 -ps 400 -f h263 " + path;
  if (support::RunShell(command).status != 0) GTEST_SKIP() << "ffmpeg is not available";
  const auto clip = ReadFile(path);
  const ClipSyntax stats = ParseClip(clip, 8192);
  ExpectCleanParse(clip, stats);
  EXPECT_EQ(stats.starts.size(), 60u);
  EXPECT_GT(stats.nonZeroVectors, 100);
  EXPECT_GT(stats.gobHeaders, 0);
}

}  // namespace
