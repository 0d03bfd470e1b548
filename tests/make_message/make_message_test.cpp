// make-message end to end, as a user runs it: short inputs made here with ffmpeg, the clips
// checked by decoding them with clipnote-decode and by reading them as the player does.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "tools/clipnote-decode/clip_summary.h"

namespace {

namespace fs = std::filesystem;
using support::ReadFile;
using support::RunResult;
using support::RunShell;

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/make-message/make-message";
const std::string kDecoder = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs make-message with the arguments (each quoted), with `environment` before it.
RunResult MakeMessage(const std::vector<std::string>& args, const std::string& environment = "") {
  std::string line = environment + kTool;
  for (const std::string& a : args) line += " " + Quote(a);
  return RunShell(line);
}

void Ffmpeg(const std::string& args) {
  ASSERT_EQ(RunShell("ffmpeg -hide_banner -nostdin -v error -y " + args).status, 0) << args;
}

bool HaveFfmpeg() { return support::HaveTool("ffmpeg"); }

#define REQUIRE_FFMPEG()                                         \
  if (!HaveFfmpeg()) {                                           \
    CLIPNOTE_SKIP_UNLESS_CI("needs ffmpeg to make the inputs");  \
  }

// A minimal player page: what the page's script carries between its markers.
std::string PlayerPage(const std::string& folder) {
  const std::string path = folder + "/page.html";
  support::WriteText(path,
                     "<script>/*clipnote-message-begin*/const builtInFiles = [];\nconst logoBase64 = \"\";"
                     "/*clipnote-message-end*/</script>\n");
  return path;
}

std::string Base64(const std::string& path) { return RunShell("base64 -w0 " + Quote(path)).out; }

// Each frame's kind in a VOICE clip: 0 6.3 kbit/s, 1 5.3, 2 SID, 3 untransmitted.
std::vector<int> FrameKinds(const std::vector<uint8_t>& clip) {
  static constexpr int kLength[4] = {24, 20, 4, 1};
  std::vector<int> kinds;
  for (size_t at = 4; at < clip.size(); at += kLength[clip[at] & 3]) kinds.push_back(clip[at] & 3);
  return kinds;
}

std::vector<int> Gaps(const VideoSummary& video) {
  std::vector<int> gaps;
  for (size_t i = 1; i < video.pictureTicks.size(); ++i) gaps.push_back(video.pictureTicks[i] - video.pictureTicks[i - 1]);
  return gaps;
}

// Three seconds: a still second, a second of fast motion, a still second; a tone with a quiet
// gap in the middle. Made once, with the page and the player, for every case below.
class ShortMessage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    work_ = support::ScratchDir();
    const std::string video = work_ + "/input.y4m";
    Ffmpeg("-f lavfi -i color=c=0x204080:s=352x288:r=30:d=3 -f lavfi -i color=c=orange:s=60x60:r=30:d=3 "
           "-filter_complex \"[0:v][1:v]overlay=x='20+if(between(t,1,2),(t-1)*240,if(gt(t,2),240,0))':y=110,"
           "format=yuv420p\" -frames:v 90 " + Quote(video));
    const std::string audio = work_ + "/input.wav";
    Ffmpeg("-f lavfi -i \"aevalsrc='if(lt(t,0.9)+gt(t,2.1),0.4*sin(2*PI*220*t)*(1+0.6*sin(2*PI*4*t)),0)"
           "+0.003*(random(0)-0.5)':s=16000:d=3\" " + Quote(audio));
    result_ = MakeMessage({video, "--audio", audio, "-o", work_ + "/out", "--html", work_ + "/message.html",
                           "--build-player", work_ + "/players"},
                          "CLIPNOTE_WEB_PAGE=" + Quote(PlayerPage(work_)) + " ");
    movie_ = ReadFile(work_ + "/out/message.263");
    speech_ = ReadFile(work_ + "/out/message.723");
  }
  void SetUp() override {
    if (!HaveFfmpeg()) {
      CLIPNOTE_SKIP_UNLESS_CI("needs ffmpeg to make the inputs");
    }
    ASSERT_EQ(result_.status, 0) << result_.Output();
  }
  static std::string work_;
  static RunResult result_;
  static std::vector<uint8_t> movie_, speech_;
};
std::string ShortMessage::work_;
RunResult ShortMessage::result_;
std::vector<uint8_t> ShortMessage::movie_, ShortMessage::speech_;

TEST_F(ShortMessage, ReportsTheMessageInAPersonsTerms) {
  for (const char* words : {"length:", "a second", "speech:", "the rest is silence", "bytes",
                            "wrote " /* the clips */}) {
    EXPECT_NE(result_.out.find(words), std::string::npos) << words << "\n" << result_.out;
  }
  // Counted and worded as clipnote-decode info says it.
  const RunResult info = RunShell(kDecoder + " info " + Quote(work_ + "/players/clipnote.exe"));
  for (const char* label : {"length:", "pictures:", "size:", "speech:"}) {
    const size_t at = info.out.find(label);
    ASSERT_NE(at, std::string::npos) << info.out;
    const std::string value = info.out.substr(info.out.find_first_not_of(' ', at + strlen(label)),
                                              info.out.find('\n', at) - info.out.find_first_not_of(' ', at + strlen(label)));
    EXPECT_NE(result_.out.find(label + std::string(9 - strlen(label) + 1, ' ') + value), std::string::npos)
        << value << "\n" << result_.out;
  }
}

TEST_F(ShortMessage, WebPageCarriesBothClips) {
  const std::string page = support::ReadText(work_ + "/message.html");
  EXPECT_NE(page.find("const builtInFiles = [{ name: \"message.263\", base64: \"" + Base64(work_ + "/out/message.263") +
                      "\" }, { name: \"message.723\", base64: \"" + Base64(work_ + "/out/message.723") + "\" }];"),
            std::string::npos);
}

TEST_F(ShortMessage, TheWrittenPlayerCarriesBothClips) {
  const std::string exe = work_ + "/players/clipnote.exe";
  EXPECT_NE(result_.out.find("wrote " + exe), std::string::npos) << result_.out;
  const std::string extracted = work_ + "/extracted";
  ASSERT_EQ(RunShell(kDecoder + " extract " + Quote(exe) + " " + Quote(extracted)).status, 0);
  EXPECT_EQ(ReadFile(extracted + "/message.263"), movie_);
  EXPECT_EQ(ReadFile(extracted + "/message.723"), speech_);
}

TEST_F(ShortMessage, EveryPictureDecodesWithThePlannedReferences) {
  const VideoSummary video = SummariseVideo(movie_);
  EXPECT_EQ(video.probeCode, 0);
  EXPECT_EQ((std::pair{video.width, video.height}), (std::pair{176, 144}));
  EXPECT_EQ(video.stoppedPicture, -1);
  EXPECT_EQ(video.headerFailure, 0);
  EXPECT_FALSE(video.endOfSequence);
  EXPECT_GE(video.intraPictures, 1);
  const std::string decoded = work_ + "/decoded.yuv";
  const RunResult run = RunShell(kDecoder + " video " + Quote(work_ + "/out/message.263") + " " + Quote(decoded) +
                                 " --verbose");
  ASSERT_EQ(run.status, 0) << run.Output();
  EXPECT_EQ(fs::file_size(decoded), size_t(video.pictures) * 38016);
  int lines = 0;
  for (size_t at = run.out.find("picture "); at != std::string::npos; at = run.out.find("\npicture ", at + 1)) {
    const size_t end = run.out.find('\n', at + 1);
    const std::string line = run.out.substr(at, end - at);
    EXPECT_NE(line.find("tr " + std::to_string(video.pictureTicks[size_t(lines)] % 256)), std::string::npos) << line;
    EXPECT_NE(line.find(lines == 0 ? "INTRA result 0" : "result 0"), std::string::npos) << line;
    ++lines;
  }
  EXPECT_EQ(lines, video.pictures);
}

TEST_F(ShortMessage, SpacingFollowsTheMotion) {
  const VideoSummary video = SummariseVideo(movie_);
  const std::vector<int> gaps = Gaps(video);
  std::set<int> moving, early, late;
  for (size_t i = 0; i < gaps.size(); ++i) {
    const int t = video.pictureTicks[i], g = gaps[i];
    EXPECT_TRUE(g == 2 || g == 3 || g == 4 || g == 8) << g;
    if (t + g >= 32 && t + g <= 60) moving.insert(g);
    if (t + g <= 28) early.insert(g);
    if (t >= 64) late.insert(g);
  }
  EXPECT_EQ(moving, std::set<int>{2});
  EXPECT_TRUE(early.count(8));
  EXPECT_TRUE(late.count(8));
}

TEST_F(ShortMessage, SpeechHasAllFrameKindsAndEndsWithThePictures) {
  const std::vector<int> kinds = FrameKinds(speech_);
  ASSERT_EQ(kinds.size(), 100u);
  EXPECT_EQ(support::VoiceCapacity(speech_), 480 * (speech_.size() - 4 + 1));
  const std::set<int> seen(kinds.begin(), kinds.end());
  for (int kind : {0, 2, 3}) EXPECT_TRUE(seen.count(kind)) << kind;
  EXPECT_EQ(std::vector<int>(kinds.begin(), kinds.begin() + 25), std::vector<int>(25, 0));  // the tone is speech
  EXPECT_EQ(std::vector<int>(kinds.end() - 25, kinds.end()), std::vector<int>(25, 0));
  // The gap is silence, opened by a SID frame; no untransmitted frame straight after speech.
  EXPECT_TRUE(std::set<int>(kinds.begin() + 30, kinds.begin() + 40).count(2));
  for (size_t i = 1; i < kinds.size(); ++i) {
    if (kinds[i] == 3) {
      EXPECT_TRUE(kinds[i - 1] == 2 || kinds[i - 1] == 3) << i;
    }
  }
  const double lead = SummariseVideo(movie_).lastTick / 30.0 - kinds.size() * 0.03;
  EXPECT_TRUE(lead >= -1e-9 && lead < 1.0 / 30) << lead;
}

TEST_F(ShortMessage, SpeechDecodesToItsFullLength) {
  const std::string wav = work_ + "/speech.wav";
  ASSERT_EQ(RunShell(kDecoder + " audio " + Quote(work_ + "/out/message.723") + " " + Quote(wav) + " --voice").status, 0);
  EXPECT_EQ(fs::file_size(wav), 44u + 100 * 480);
}

// Inputs other than a video with its own sound, and what is refused.
class OtherInputs : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) {
      CLIPNOTE_SKIP_UNLESS_CI("needs ffmpeg to make the inputs");
    }
    clip_ = Out("clip.mkv");
    Ffmpeg("-f lavfi -i testsrc=s=320x240:r=25:d=1 -c:v ffv1 " + Quote(clip_));
  }
  static std::string Out(const std::string& name) { return support::ScratchDir() + "/" + name; }
  std::string clip_;
};

TEST_F(OtherInputs, StillPictureHeldForSpokenText) {
  const std::string image = Out("still.png");
  Ffmpeg("-f lavfi -i testsrc=s=176x144 -frames:v 1 " + Quote(image));
  const std::string text = support::WriteText(Out("said.txt"), "Hello there, this is a still picture.");
  const RunResult run = MakeMessage({image, "--say-file", text, "--speed", "200", "--quantiser", "10", "-o", Out("said")});
  ASSERT_EQ(run.status, 0) << run.Output();
  const std::vector<int> kinds = FrameKinds(ReadFile(Out("said/message.723")));
  const VideoSummary video = SummariseVideo(ReadFile(Out("said/message.263")));
  const std::vector<int> gaps = Gaps(video);
  EXPECT_GT(kinds.size(), 20u);
  ASSERT_GT(gaps.size(), 3u);
  EXPECT_EQ(std::set<int>(gaps.begin(), gaps.end() - 3), std::set<int>{8});  // nothing moves; the end may need shorter
  EXPECT_GE(video.lastTick / 30.0, kinds.size() * 0.03);
}

TEST_F(OtherInputs, NoAudioMakesAnEmptySpeechClip) {
  const RunResult run = MakeMessage({clip_, "--no-audio", "-o", Out("silent")});
  ASSERT_EQ(run.status, 0) << run.Output();
  EXPECT_EQ(ReadFile(Out("silent/message.723")), (std::vector<uint8_t>{0xE0, 0x01, 0, 0}));
}

// Pictures of any shape and names of any characters; one message, one folder.
TEST_F(OtherInputs, AnyShapeAnyNameOneFolder) {
  const std::string portrait = Out("portrait vidéo ü.mkv");
  Ffmpeg("-f lavfi -i testsrc=s=121x201:r=24:d=1 -f lavfi -i sine=d=1 -c:v ffv1 -shortest " + Quote(portrait));
  const std::string folder = Out("ein Ordner/mit Leerzeichen é");
  const RunResult run = MakeMessage({portrait, "--build-player", folder, "-q"});
  ASSERT_EQ(run.status, 0) << run.Output();
  EXPECT_EQ(run.out + run.err, "");  // --quiet
  for (const char* name : {"message.263", "message.723", "clipnote.exe"}) EXPECT_TRUE(fs::exists(folder + "/" + name)) << name;
  const VideoSummary video = SummariseVideo(ReadFile(folder + "/message.263"));
  EXPECT_EQ((std::pair{video.width, video.height}), (std::pair{176, 144}));
  EXPECT_EQ(video.stoppedPicture, -1);
}

TEST_F(OtherInputs, NewOptions) {
  const std::string longer = Out("longer.mkv");
  Ffmpeg("-f lavfi -i testsrc=s=320x240:r=25:d=12 -f lavfi -i sine=d=12 -c:v ffv1 -shortest " + Quote(longer));
  // A part of the video: --start and --duration as ffmpeg's -ss and -t.
  ASSERT_EQ(MakeMessage({longer, "--start", "4", "--duration", "2", "-o", Out("part"), "-q"}).status, 0);
  EXPECT_NEAR(SummariseVideo(ReadFile(Out("part/message.263"))).lastTick, 60, 3);
  // 5.3 kbit/s speech.
  ASSERT_EQ(MakeMessage({longer, "--rate", "5.3", "--duration", "2", "-o", Out("rate"), "-q"}).status, 0);
  const SpeechSummary speech = SummariseSpeech(ReadFile(Out("rate/message.723")), true);
  EXPECT_GT(speech.frames53, 0);
  EXPECT_EQ(speech.frames63, 0);
  // A size budget: the whole executable fits, finer without it; refused with what it needs.
  const RunResult free = MakeMessage({longer, "--build-player", Out("free"), "-q"});
  ASSERT_EQ(free.status, 0) << free.Output();
  const size_t unlimited = fs::file_size(Out("free/clipnote.exe"));
  const int64_t budget = int64_t(unlimited) - 20000;
  const RunResult fitted = MakeMessage({longer, "--max-size", std::to_string(budget), "--build-player", Out("fit")});
  ASSERT_EQ(fitted.status, 0) << fitted.Output();
  EXPECT_LE(int64_t(fs::file_size(Out("fit/clipnote.exe"))), budget);
  const RunResult refused = MakeMessage({longer, "--max-size", "100000", "--build-player", Out("tight")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("needs at least"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(Out("tight/message.263")));
}

// --build-native-player on stand-in source trees whose players are the video clip they were
// given: the copy of the tree, both builds, the players put in place
// (the native one executable), a tree without a native player, a failing build, no tree.
TEST_F(OtherInputs, NativePlayersBuiltFromASourceTree) {
  if (!support::HaveTool("cmake")) {
    CLIPNOTE_SKIP_UNLESS_CI("needs cmake");
  }
  // An executable named clipnote, as the real trees have, overwritten by the clip it was given.
  const std::string player =
      "cmake_minimum_required(VERSION 3.16)\nproject(standin C)\n"
      "if(CMAKE_TOOLCHAIN_FILE)\n  set(folder platform/win32)\n  set(suffix .exe)\nelse()\n%NATIVE%"
      "  set(folder platform/gtk)\n  set(suffix \"\")\nendif()\n"
      "file(WRITE ${CMAKE_BINARY_DIR}/main.c \"int main(void) { return 0; }\\n\")\n"
      "add_executable(clipnote ${CMAKE_BINARY_DIR}/main.c)\n"
      "set_target_properties(clipnote PROPERTIES SUFFIX \"${suffix}\" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})\n"
      "add_custom_command(TARGET clipnote POST_BUILD\n"
      "  COMMAND ${CMAKE_COMMAND} -E %COPY% ${CMAKE_SOURCE_DIR}/resources/message.263 $<TARGET_FILE:clipnote>)\n";
  const auto standIn = [&](const std::string& name, const std::string& native, const std::string& copy) {
    const std::string tree = Out("tree-" + name);
    for (const char* sub : {"/cmake", "/build", "/resources"}) fs::create_directories(tree + sub);
    std::string text = player;
    text.replace(text.find("%NATIVE%"), 8, native);
    text.replace(text.find("%COPY%"), 6, copy);
    support::WriteText(tree + "/CMakeLists.txt", text);
    support::WriteText(tree + "/cmake/mingw-i686.cmake", "");
    support::WriteText(tree + "/build/left-over", "not copied");
    std::error_code ec;
    fs::create_symlink("CMakeLists.txt", tree + "/link", ec);
    return tree;
  };
  const struct {
    std::string tree;
    int status;
    std::vector<std::string> players;
    std::string words;
  } rows[] = {
      {standIn("both", "", "copy"), 0, {"clipnote.exe", "clipnote"}, "built "},
      {standIn("windows", "  return()\n", "copy"), 0, {"clipnote.exe"}, "no native player yet"},
      {standIn("failing", "", "false"), 1, {}, "building clipnote.exe failed:"},
      {Out("no-tree"), 1, {}, "no Clipnote source tree at"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tree);
    const std::string folder = row.tree + "-players";
    const RunResult run = MakeMessage({clip_, "--no-audio", "--build-native-player", folder},
                                      "CLIPNOTE_SOURCE_DIR=" + Quote(row.tree) + " ");
    EXPECT_EQ(run.status, row.status) << run.Output();
    EXPECT_NE(run.err.find(row.words), std::string::npos) << run.err;
    const std::vector<uint8_t> movie = ReadFile(folder + "/message.263");
    for (const char* name : {"clipnote.exe", "clipnote"}) {
      const bool wanted = std::find(row.players.begin(), row.players.end(), name) != row.players.end();
      ASSERT_EQ(fs::exists(folder + "/" + name), wanted) << name;
      if (wanted) {
        EXPECT_EQ(ReadFile(folder + "/" + name), movie) << name;
      }
    }
    if (!row.players.empty() && row.players.back() == "clipnote") {
      EXPECT_NE(fs::status(folder + "/clipnote").permissions() & fs::perms::owner_exec, fs::perms::none);
    }
  }
}

TEST_F(OtherInputs, RefusalsAreClearAndWriteNothing) {
  const std::string garbage = support::WriteText(Out("garbage.mp4"), std::string(190, 'x'));
  const std::string sound = Out("sound.wav");
  Ffmpeg("-f lavfi -i sine=d=1 " + Quote(sound));
  const std::string tooLong = Out("long.mkv");
  Ffmpeg("-f lavfi -i color=s=16x16:r=5:d=400 -c:v ffv1 " + Quote(tooLong));
  const std::string taken = Out("taken");
  fs::create_directories(taken);
  support::WriteText(taken + "/message.263", "old");
  const std::string environment = "CLIPNOTE_WEB_PAGE=" + Quote(Out("no-page.html")) + " ";
  const struct {
    std::vector<std::string> args;
    std::string words;
    std::string output = Out("refused");
  } rows[] = {
      {{Out("missing.mp4"), "--no-audio"}, "cannot read"},
      {{garbage, "--no-audio"}, "not a media file"},
      {{sound, "--no-audio"}, "has no video stream"},
      {{clip_}, "has no sound"},
      {{clip_, "--audio", clip_}, "has no audio stream"},
      {{clip_, "--say", "   "}, "empty"},
      {{tooLong, "--no-audio"}, "up to 300 s: take a part with --start and --duration"},
      {{clip_, "--no-audio", "--decoder", garbage}, "is not an executable"},
      {{clip_, "--no-audio", "--html", Out("no-site.html")}, "browser player's page"},
      {{clip_, "--say", "hello", "--voice", "vulcan"}, "no voice 'vulcan'; the known voices are: af "},
      {{clip_, "--no-audio", "--start", "5"}, "past its end"},
      {{clip_, "--say-file", Out("missing.txt")}, "cannot read"},
      {{clip_, "--no-audio"}, "cannot make the folder", garbage + "/inside"},
      {{clip_, "--no-audio"}, "exists; --force (-y) replaces it", taken},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"-o", row.output});
    const RunResult run = MakeMessage(args, environment);
    EXPECT_EQ(run.status, 1) << run.Output();
    EXPECT_NE(run.err.find("make-message: error: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(row.words), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Out("refused")));
  }
  EXPECT_EQ(support::ReadText(taken + "/message.263"), "old");
}

TEST(MakeMessageCommandLine, UsageHelpAndVersion) {
  const RunResult help = MakeMessage({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* words : {"usage: make-message", "300 s", "--start", "--duration", "--max-size", "--force"}) {
    EXPECT_NE(help.out.find(words), std::string::npos) << words;
  }
  const RunResult version = MakeMessage({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("make-message", 0), 0u) << version.out;
  const std::vector<std::string> rows[] = {
      {},
      {"video.mp4", "--bogus"},
      {"video.mp4", "--quantiser", "1"},
      {"video.mp4", "--quantiser", "32"},
      {"video.mp4", "--rate", "7"},
      {"video.mp4", "--no-audio", "--say", "hi"},
      {"video.mp4", "--duration", "0"},
      {"video.mp4", "--start", "soon"},
      {"video.mp4", "--max-size"},
      {"video.mp4", "--speed", "5"},
      {"a.mp4", "b.mp4"},
  };
  for (const auto& args : rows) {
    const RunResult run = MakeMessage(args);
    EXPECT_EQ(run.status, 2) << run.Output();
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Try 'make-message --help'"), std::string::npos) << run.err;
  }
}

// The run's files are written whole or not at all, and what was there stays.
class OutputSafety : public OtherInputs {};

TEST_F(OutputSafety, FailuresLeaveNothingOfTheRun) {
  REQUIRE_ROOT();
  const std::string out = Out("out");
  fs::create_directories(out);
  {
    // A filesystem too small for the video clip.
    support::SmallFilesystem small(out, 4);
    ASSERT_TRUE(small.mounted());
    const RunResult run = MakeMessage({clip_, "--no-audio", "-o", out});
    EXPECT_EQ(run.status, 1) << run.Output();
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_empty(out));
  }
  {
    // A read-only folder is refused before any work.
    support::SmallFilesystem readOnly(out, 64, "ro");
    ASSERT_TRUE(readOnly.mounted());
    const RunResult run = MakeMessage({clip_, "--no-audio", "-o", out});
    EXPECT_EQ(run.status, 1) << run.Output();
    EXPECT_NE(run.err.find("cannot write in"), std::string::npos) << run.err;
  }
  // A speech clip that cannot be replaced: the new video clip is taken back too, and the video
  // clip it had replaced comes back.
  const std::string kept = support::WriteText(out + "/message.723", "old");
  const std::string older = support::WriteText(out + "/message.263", "older");
  ASSERT_EQ(RunShell("chattr +i " + Quote(kept)).status, 0);
  const RunResult run = MakeMessage({clip_, "--no-audio", "-o", out, "--force"});
  RunShell("chattr -i " + Quote(kept));
  EXPECT_EQ(run.status, 1) << run.Output();
  EXPECT_NE(run.err.find("cannot replace"), std::string::npos) << run.err;
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"message.263", "message.723"}));
  EXPECT_EQ(support::ReadText(kept), "old");
  EXPECT_EQ(support::ReadText(older), "older");
}

// CPU time the process has used, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long user = 0, system = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) user = std::stol(field);
    if (i == 15) {
      system = std::stol(field);
      break;
    }
  }
  return user + system;
}

TEST_F(OutputSafety, ASignalLeavesNothingOfTheRun) {
  // Long enough that the run is still making its message when the signal comes.
  const std::string clip = Out("long.mkv");
  Ffmpeg("-f lavfi -i testsrc=s=320x240:r=25:d=40 -c:v ffv1 " + Quote(clip));
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const std::string out = Out("out" + std::to_string(signal));
    const std::string err = Out("err" + std::to_string(signal));
    support::Process run({"/bin/sh", "-c", "exec " + kTool + " " + Quote(clip) + " --no-audio -o " + Quote(out) +
                                               " 2> " + Quote(err)});
    ASSERT_TRUE(run.Started());
    // Waits until the run is busy making the message.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (CpuTicks(run.Pid()) < 20 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(run.Pid(), signal);
    EXPECT_EQ(run.WaitForExit(60000), 130);
    EXPECT_NE(support::ReadText(err).find("interrupted"), std::string::npos) << support::ReadText(err);
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
  }
}

}  // namespace
