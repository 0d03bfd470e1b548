// clipnote-decode video, run as a separate process on committed clips.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "clip_decoding.h"

#ifdef CLIPNOTE_DECODE_PATH

namespace {

struct ToolRun {
  int status;
  std::string output;  // stdout and stderr together
};

ToolRun RunTool(const std::string& arguments) {
  const std::string command = std::string(CLIPNOTE_DECODE_PATH) + " video " + arguments + " 2>&1";
  ToolRun run{-1, ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string DataClip(const char* name) {
  return std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_recon/data/" + name;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(ClipnoteDecodeVideo, WritesY4mAndRawFramesMatchingTheDecoder) {
  const std::string dir = ScratchDirectory("tool");
  const DecodedClip expected = DecodeWithDecoder(ReadFileBytes(DataClip("small_qcif.263")));
  ASSERT_EQ(expected.pictures.size(), 6u);

  const ToolRun y4m = RunTool(DataClip("small_qcif.263") + " " + dir + "/out.y4m --verbose");
  ASSERT_EQ(y4m.status, 0) << y4m.output;
  EXPECT_NE(y4m.output.find("picture 0 tr 0 INTRA result 0"), std::string::npos) << y4m.output;
  EXPECT_NE(y4m.output.find("picture 5 tr 5 INTER result 0"), std::string::npos) << y4m.output;
  const std::vector<uint8_t> file = ReadFileBytes(dir + "/out.y4m");
  const std::string header = "YUV4MPEG2 W176 H144 F30000:1001 Ip A12:11 C420jpeg\n";
  ASSERT_GE(file.size(), header.size());
  EXPECT_EQ(std::string(file.begin(), file.begin() + static_cast<long>(header.size())), header);
  std::vector<uint8_t> joined(file.begin(), file.begin() + static_cast<long>(header.size()));
  for (const auto& picture : expected.pictures) {
    const std::string frame = "FRAME\n";
    joined.insert(joined.end(), frame.begin(), frame.end());
    joined.insert(joined.end(), picture.begin(), picture.end());
  }
  EXPECT_EQ(file, joined);

  const ToolRun yuv = RunTool(DataClip("small_cif.263") + " " + dir + "/out.yuv");
  ASSERT_EQ(yuv.status, 0) << yuv.output;
  EXPECT_EQ(ReadFileBytes(dir + "/out.yuv").size(), 3u * 352 * 288 * 3 / 2);
}

TEST(ClipnoteDecodeVideo, DecodesTheSameWayEveryTime) {
  const std::string dir = ScratchDirectory("tool");
  ASSERT_EQ(RunTool(DataClip("small_qcif.263") + " " + dir + "/a.yuv").status, 0);
  ASSERT_EQ(RunTool(DataClip("small_qcif.263") + " " + dir + "/b.yuv").status, 0);
  EXPECT_EQ(ReadFileBytes(dir + "/a.yuv"), ReadFileBytes(dir + "/b.yuv"));
}

TEST(ClipnoteDecodeVideo, ClearErrorsForBadInput) {
  const std::string dir = ScratchDirectory("tool");
  ToolRun run = RunTool(dir + "/missing.263 " + dir + "/out.y4m");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("cannot open"), std::string::npos) << run.output;

  WriteFile(dir + "/empty.263", {});
  run = RunTool(dir + "/empty.263 " + dir + "/out.y4m");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("is empty"), std::string::npos) << run.output;

  run = RunTool(dir + " " + dir + "/out.y4m");  // a directory cannot be read
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("cannot"), std::string::npos) << run.output;

  WriteFile(dir + "/text.263", {'h', 'e', 'l', 'l', 'o'});
  run = RunTool(dir + "/text.263 " + dir + "/out.y4m");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("not a baseline H.263"), std::string::npos) << run.output;

  run = RunTool(DataClip("small_qcif.263") + " " + dir + "/out.png");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find(".y4m or .yuv"), std::string::npos) << run.output;

  run = RunTool(DataClip("small_qcif.263"));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("usage"), std::string::npos) << run.output;
}

TEST(ClipnoteDecodeVideo, TruncatedClipWritesWhatDecodedAndSaysWhere) {
  const std::string dir = ScratchDirectory("tool");
  std::vector<uint8_t> clip = ReadFileBytes(DataClip("small_qcif.263"));
  const DecodedClip full = DecodeWithDecoder(clip);
  clip.resize(clip.size() / 2);  // cuts a picture in the middle
  WriteFile(dir + "/cut.263", clip);
  const DecodedClip cut = DecodeWithDecoder(clip);
  ASSERT_TRUE(cut.macroblockError);

  const ToolRun run = RunTool(dir + "/cut.263 " + dir + "/cut.yuv");
  EXPECT_EQ(run.status, 1);
  const std::string where = "stopped in picture " + std::to_string(cut.pictures.size() - 1) +
                            " at macroblock " + std::to_string(cut.failedMacroblock);
  EXPECT_NE(run.output.find(where), std::string::npos) << run.output;
  const std::vector<uint8_t> written = ReadFileBytes(dir + "/cut.yuv");
  EXPECT_EQ(written.size(), cut.pictures.size() * 176 * 144 * 3 / 2);
  // Everything before the damaged picture matches the full clip.
  for (size_t i = 0; i + 1 < cut.pictures.size(); ++i) EXPECT_EQ(cut.pictures[i], full.pictures[i]);
}

}  // namespace

#endif  // CLIPNOTE_DECODE_PATH
