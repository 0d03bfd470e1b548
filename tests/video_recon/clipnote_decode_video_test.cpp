// clipnote-decode video, run as a separate process on committed clips.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "clip_decoding.h"
#include "support/test_support.h"
#include "h263_stream_writer.h"

#ifdef CLIPNOTE_DECODE_PATH

namespace {

// Exit status and everything the tool printed.
std::pair<int, std::string> RunTool(const std::string& arguments, const char* command = "video") {
  const support::RunResult run = support::RunShell(CLIPNOTE_DECODE_PATH " " + std::string(command) + " " + arguments);
  return {run.status, run.Output()};
}

const std::string kQcif = CLIPNOTE_SOURCE_DIR "/tests/video_recon/data/small_qcif.263";
const std::string kCif = CLIPNOTE_SOURCE_DIR "/tests/video_recon/data/small_cif.263";

TEST(ClipnoteDecodeVideo, WritesY4mAndRawFramesAsDecoded) {
  const std::string dir = support::ScratchDir();
  const DecodedClip expected = DecodeWithDecoder(support::ReadFile(kQcif));
  const auto [status, output] = RunTool(kQcif + " " + dir + "/out.y4m --verbose");
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("picture 0 tr 0 INTRA result 0\n"), std::string::npos) << output;
  EXPECT_NE(output.find("picture 5 tr 5 INTER result 0\n"), std::string::npos) << output;
  std::string y4m = "YUV4MPEG2 W176 H144 F30000:1001 Ip A12:11 C420jpeg\n";
  for (const auto& picture : expected.pictures) y4m += "FRAME\n" + std::string(picture.begin(), picture.end());
  const std::vector<uint8_t> written = support::ReadFile(dir + "/out.y4m");
  EXPECT_EQ(std::string(written.begin(), written.end()), y4m);

  EXPECT_EQ(RunTool(kCif + " " + dir + "/out.yuv").first, 0);
  EXPECT_EQ(support::ReadFile(dir + "/out.yuv").size(), 3u * 352 * 288 * 3 / 2);
}

TEST(ClipnoteDecodeVideo, ClearErrorsForBadInput) {
  const std::string dir = support::ScratchDir();
  support::WriteText(dir + "/empty.263", "");
  support::WriteText(dir + "/text.263", "hello");
  const std::pair<std::string, std::string> cases[] = {
      {dir + "/missing.263 " + dir + "/o.y4m", "cannot open"},
      {dir + "/empty.263 " + dir + "/o.y4m", "is empty"},
      {dir + " " + dir + "/o.y4m", "cannot read"},  // a directory
      {dir + "/text.263 " + dir + "/o.y4m", "not a baseline H.263"},
      {kQcif + " " + dir + "/o.png", ".y4m or .yuv"},
      {kQcif + " " + dir + "/no/such/dir/o.y4m", "cannot create"},
      {kQcif, "expects more: IN.263|MESSAGE.exe OUT.y4m|OUT.yuv\nTry 'clipnote-decode video --help'."},
  };
  for (const auto& [arguments, message] : cases) {
    const auto [status, output] = RunTool(arguments);
    EXPECT_EQ(status, 2) << arguments;
    EXPECT_NE(output.find(message), std::string::npos) << output;
  }
}

TEST(ClipnoteDecodeVideo, TruncatedClipWritesWhatDecodedAndSaysWhere) {
  const std::string dir = support::ScratchDir();
  std::vector<uint8_t> clip = support::ReadFile(kQcif);
  clip.resize(clip.size() / 2);  // cuts a picture in the middle
  support::WriteFile(dir + "/cut.263", clip);
  const DecodedClip cut = DecodeWithDecoder(clip);
  ASSERT_TRUE(cut.macroblockError);

  const auto [status, output] = RunTool(dir + "/cut.263 " + dir + "/cut.yuv");
  EXPECT_EQ(status, 1);
  const std::string where = "stopped in picture " + std::to_string(cut.failedPicture) +
                            " at macroblock " + std::to_string(cut.failedMacroblock);
  EXPECT_NE(output.find(where), std::string::npos) << output;
  EXPECT_EQ(support::ReadFile(dir + "/cut.yuv").size(), cut.pictures.size() * 176 * 144 * 3 / 2);
}

// Pictures whose headers still read after a macroblock error are written too,
// as the player would show them: repeats of the damaged picture.
TEST(ClipnoteDecodeVideo, PicturesAfterAMacroblockErrorAreWrittenFrozen) {
  H263StreamWriter stream;
  stream.PictureHeader(0, 2, false, 8);
  const int dc[6] = {20, 40, 60, 80, 100, 120};
  for (int n = 0; n < 99; ++n) stream.IntraMacroblock(dc, false);
  stream.PictureHeader(1, 2, true, 8);
  for (int n = 0; n < 88; ++n) stream.NotCoded();
  stream.OverrunningInterMacroblock();
  stream.PictureHeader(2, 2, true, 8);
  for (int n = 0; n < 99; ++n) stream.NotCoded();
  stream.Align();
  const std::string dir = support::ScratchDir();
  support::WriteFile(dir + "/frozen.263", stream.bytes());

  const auto [status, output] = RunTool(dir + "/frozen.263 " + dir + "/frozen.yuv --verbose");
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("picture 1 tr 1 INTER result 0 (macroblock error)\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("picture 2 tr 2 INTER result 0\n"), std::string::npos) << output;
  EXPECT_NE(output.find("stopped in picture 1 at macroblock 88"), std::string::npos) << output;
  const std::vector<uint8_t> written = support::ReadFile(dir + "/frozen.yuv");
  constexpr size_t kPicture = 176 * 144 * 3 / 2;
  ASSERT_EQ(written.size(), 3 * kPicture);
  // Picture 2 repeats picture 1.
  EXPECT_TRUE(std::equal(written.begin() + kPicture, written.begin() + 2 * kPicture,
                         written.begin() + 2 * kPicture));
}

// A header that fails where more than padding follows is a stop, not the end.
TEST(ClipnoteDecodeVideo, DamagedHeaderAfterPicturesIsAStop) {
  std::vector<uint8_t> clip = support::ReadFile(kQcif);
  const size_t pictures = DecodeWithDecoder(clip).pictures.size();
  clip.insert(clip.end(), {0x12, 0x34, 0x56, 0x78});
  const std::string dir = support::ScratchDir();
  support::WriteFile(dir + "/tail.263", clip);
  const auto [status, output] = RunTool(dir + "/tail.263 " + dir + "/tail.yuv");
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("stopped at picture " + std::to_string(pictures) + ": picture header code"),
            std::string::npos) << output;
  EXPECT_EQ(support::ReadFile(dir + "/tail.yuv").size(), pictures * 176 * 144 * 3 / 2);
}

TEST(ClipnoteDecodeBench, VideoPrintsOneMachineReadableLine) {
  const auto [status, output] = RunTool("video " + kQcif + " --repeat 2", "bench");
  EXPECT_EQ(status, 0) << output;
  unsigned units = 0;
  double seconds = 0, perSecond = 0;
  char end = 0;
  EXPECT_EQ(std::sscanf(output.c_str(), "units=%u seconds=%lf per_second=%lf%c", &units, &seconds,
                        &perSecond, &end), 4) << output;
  EXPECT_EQ(units, 6u);
  EXPECT_GT(seconds, 0);
  EXPECT_EQ(end, '\n');
}

}  // namespace

#endif  // CLIPNOTE_DECODE_PATH
