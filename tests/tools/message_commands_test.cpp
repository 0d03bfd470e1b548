// clipnote-decode on message executables: extract, info, and video/audio taking a
// message as input; damaged and hostile files refused with their reason.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "message/pe_builder.h"
#include "tools/tool_run.h"

namespace {

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";
const std::string kSource = CLIPNOTE_SOURCE_DIR;

std::string Scratch(const std::string& name) {
  const std::string directory = std::string(CLIPNOTE_BINARY_DIR) + "/tests/tools/scratch/message";
  std::filesystem::create_directories(directory);
  return directory + "/" + name;
}

std::vector<uint8_t> Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = Scratch(name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

ToolRun RunTool(const std::string& arguments, const std::string& environment = "") {
  return RunCommandLine(environment + kTool + " " + arguments);
}

// A message made here from small real clips: 6 QCIF pictures and 68 speech frames.
struct SmallMessage {
  std::vector<uint8_t> movie = Read(kSource + "/tests/video_recon/data/small_qcif.263");
  std::vector<uint8_t> voice;
  pe_builder::Layout pe;
  std::string path;
  SmallMessage() {
    const std::vector<uint8_t> frames = Read(kSource + "/tests/audio/data/hello_63.723");
    const uint32_t capacity = static_cast<uint32_t>(frames.size() / 24 * 480);
    voice = {static_cast<uint8_t>(capacity), static_cast<uint8_t>(capacity >> 8), static_cast<uint8_t>(capacity >> 16), 0};
    voice.insert(voice.end(), frames.begin(), frames.end());
    std::vector<uint8_t> logo = Read(kSource + "/resources/logo.bmp");
    logo.erase(logo.begin(), logo.begin() + 14);
    pe = pe_builder::Build({{263, "MOVIE", 0x409, movie},
                            {723, "VOICE", 0x409, voice},
                            {"WAVE", 150, 0x409, Read(kSource + "/resources/startup_chime.wav")},
                            {2, 147, 0x409, logo}});
    path = Write("small.exe", pe.bytes);
  }
};

TEST(MessageCommands, ExtractGivesTheCarriedFilesByteForByte) {
  const SmallMessage small;
  std::filesystem::remove_all(Scratch("out"));
  ToolRun run = RunTool("extract '" + small.path + "' '" + Scratch("out") + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Read(Scratch("out/message.263")), small.movie);
  EXPECT_EQ(Read(Scratch("out/message.723")), small.voice);
  EXPECT_EQ(Read(Scratch("out/startup.wav")), Read(kSource + "/resources/startup_chime.wav"));
  EXPECT_EQ(Read(Scratch("out/logo.bmp")), Read(kSource + "/resources/logo.bmp"));

#ifdef CLIPNOTE_WIN32_EXE
  if (!std::filesystem::exists(CLIPNOTE_WIN32_EXE)) GTEST_SKIP() << CLIPNOTE_WIN32_EXE << " is not built";
  run = RunTool(std::string("extract '") + CLIPNOTE_WIN32_EXE + "' '" + Scratch("built") + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  for (const auto& [carried, source] : {std::pair{"message.263", "message.263"}, {"message.723", "message.723"},
                                        {"startup.wav", "startup_chime.wav"}, {"logo.bmp", "logo.bmp"}}) {
    EXPECT_EQ(Read(Scratch(std::string("built/") + carried)), Read(kSource + "/resources/" + source)) << carried;
  }
#endif
}

// video and audio give from a message executable what they give from its clips.
TEST(MessageCommands, VideoAndAudioReadTheClipsOfAMessage) {
  const SmallMessage small;
  const std::string movie = Write("small.263", small.movie);
  const std::string voice = Write("small.723", small.voice);
  ASSERT_EQ(RunTool("video '" + small.path + "' '" + Scratch("from_exe.y4m") + "'").status, 0);
  ASSERT_EQ(RunTool("video '" + movie + "' '" + Scratch("from_clip.y4m") + "'").status, 0);
  EXPECT_EQ(Read(Scratch("from_exe.y4m")), Read(Scratch("from_clip.y4m")));
  EXPECT_EQ(Read(Scratch("from_exe.y4m")).size(), 51u + 6 * (6 + 38016));
  ASSERT_EQ(RunTool("audio '" + small.path + "' '" + Scratch("from_exe.wav") + "'").status, 0);
  ASSERT_EQ(RunTool("audio '" + voice + "' '" + Scratch("from_clip.wav") + "'").status, 0);  // .723: a VOICE clip
  ASSERT_EQ(RunTool("audio --voice '" + movie + "' '" + Scratch("forced.wav") + "'").status, 0);
  EXPECT_EQ(Read(Scratch("from_exe.wav")), Read(Scratch("from_clip.wav")));
  EXPECT_EQ(Read(Scratch("from_exe.wav")).size(), 44u + 68 * 480);
}

// The message goes between the page's markers, in place of its built-in one, and
// nothing else of the page changes.
TEST(MessageCommands, HtmlPutsTheMessageIntoThePlayerPage) {
  const SmallMessage small;
  const std::string before = "<script>/*clipnote-message-begin*/";
  const std::string after = "/*clipnote-message-end*/ play();</script>";
  const std::string page = Write("page.html", [&] {
    const std::string text = before + "const builtInFiles = [];" + after;
    return std::vector<uint8_t>(text.begin(), text.end());
  }());
  const std::string out = Scratch("message.html");
  const ToolRun run = RunTool("html '" + small.path + "' '" + out + "'", "CLIPNOTE_WEB_PAGE='" + page + "' ");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::vector<uint8_t> written = Read(out);
  const std::string text(written.begin(), written.end());
  EXPECT_EQ(text.substr(0, before.size()), before);
  EXPECT_EQ(text.substr(text.size() - after.size()), after);
  // The whole executable, base64 ("MZ\0" is "TVoA").
  const std::string statement = "const builtInFiles = [{ name: \"small.exe\", base64: \"TVoA";
  EXPECT_EQ(text.substr(before.size(), statement.size()), statement);
  const size_t encoded = (small.pe.bytes.size() + 2) / 3 * 4;
  EXPECT_EQ(text.size(), before.size() + statement.size() - 4 + encoded + std::string("\" }];").size() + after.size());
  EXPECT_EQ(RunTool("html '" + small.path + "' '" + out + "'", "CLIPNOTE_WEB_PAGE=/nonexistent ").status, 1);
}

TEST(MessageCommands, InfoReportsBothTracks) {
  const SmallMessage small;
  ToolRun run = RunTool("info --json '" + small.path + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  for (const char* field : {"\"kind\": \"message executable\"", "\"startup_sound\": true", "\"logo\": true",
                            "\"width\": 176, \"height\": 144, \"pictures\": 6, \"intra_pictures\": 1, \"ticks\": 5",
                            "\"tick_gaps\": {\"1\": 5}", "\"end_of_sequence\": false",
                            "\"frames\": 68, \"frames_6_3\": 68, \"frames_5_3\": 0, \"frames_sid\": 0",
                            "\"duration_ms\": 2040.000", "\"pcm_capacity\": 32640", "\"tracks_agree\": false"}) {
    EXPECT_NE(run.output.find(field), std::string::npos) << field << "\n" << run.output;
  }
  run = RunTool("info '" + Write("small.tco", small.voice) + "'");  // a raw stream by its name
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("raw G.723.1 stream"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("PCM capacity"), std::string::npos) << run.output;
}

// Files that are no message: each command says why and ends with its failure code,
// never a crash or a hang (the test would not end) or a huge allocation.
TEST(MessageCommands, FilesThatAreNoMessageAreRefusedWithTheirReason) {
  using pe_builder::Layout;
  const SmallMessage small;
  auto damaged = [&](const char* name, auto damage) {
    Layout pe = small.pe;
    damage(pe);
    return Write(name, pe.bytes);
  };
  const std::string truncated = damaged("truncated.exe", [](Layout& pe) { pe.bytes.resize(300); });
  const std::string pastEnd =
      damaged("past_end.exe", [](Layout& pe) { pe.Put32(pe.dataEntries[0], 0x7FFF0000); });
  const std::string loop = damaged("loop.exe", [](Layout& pe) { pe.Put32(Layout::kRoot + 16 + 4, 0x80000000); });
  const std::string huge = damaged("huge.exe", [](Layout& pe) { pe.Put32(pe.dataEntries[1] + 4, 0xFFFFFFF0); });
  const std::string empty = Write("empty.exe", {});
  const std::string png = Write("picture.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13});
  const std::string directory = std::filesystem::path(Scratch("x")).parent_path().string();
  const std::string sparse = Write("sparse.exe", {'M', 'Z'});
  std::filesystem::resize_file(sparse, 3ull << 30);  // 3 GiB that take no room
  const std::string icons = Write("icons.exe", pe_builder::Build({{3, 1, 0x409, {1, 2, 3}}}).bytes);
  const struct {
    std::string file;
    const char* reason;
  } files[] = {
      {truncated, "a truncated Windows executable"},
      {pastEnd, "resource 263/\"MOVIE\""},
      {loop, "(a loop?)"},
      {huge, "2 GiB or more"},
      {empty, "empty"},
      {png, "not a message"},
      {directory, "cannot read"},
      {icons, "an executable without a message"},
      {sparse, "larger than 2 GiB"},
  };
  std::vector<std::string> commands = {"info", "extract", "audio", "video", "html"};
  if (RunTool("export").output.find("no ffmpeg libraries") == std::string::npos) commands.push_back("export");
  for (const auto& [file, reason] : files) {
    for (const std::string& command : commands) {
      if (command == "video" && file == png) continue;  // taken as a clip: the decoder refuses it
      const std::string output = command == "info"      ? ""
                                 : command == "extract" ? " '" + Scratch("refused") + "'"
                                 : command == "export"  ? " '" + Scratch("refused.mp4") + "'"
                                 : command == "html"    ? " '" + Scratch("refused.html") + "'"
                                                        : " '" + Scratch("refused.y4m") + "'";
      const ToolRun run = RunTool(command + " '" + file + "'" + output);
      // video keeps its own codes: 2 for input it cannot read, 1 for decoding stopped part-way.
      EXPECT_EQ(run.status, command == "video" ? 2 : 1) << command << " " << file << ": " << run.output;
      EXPECT_NE(run.output.find(reason), std::string::npos) << command << " " << file << ": " << run.output;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused")));
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused.mp4")));
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused.html")));
  std::filesystem::remove(sparse);
  const ToolRun bare = RunTool("extract '" + Write("clip.263", small.movie) + "' '" + Scratch("refused") + "'");
  EXPECT_EQ(bare.status, 1);
  EXPECT_NE(bare.output.find("a bare H.263 clip, not a message executable"), std::string::npos) << bare.output;
}

}  // namespace
