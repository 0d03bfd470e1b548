// Every clipnote-decode command that writes files writes them whole or not at all: on a full
// filesystem, onto an output that cannot be replaced, or when stopped by a signal mid-write, it
// fails, leaves what was there untouched and leaves nothing of its own behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "message/pe_builder.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using support::ReadFile;
using support::RunShell;
using support::SmallFilesystem;
using support::WriteFile;

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";
const std::string kResources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";

// A folder in the test's scratch folder.
std::string Scratch(const std::string& name) {
  const std::string directory = support::Scratch(name);
  fs::create_directories(directory);
  return directory;
}

support::RunResult RunTool(const std::string& arguments) { return RunShell(kTool + " " + arguments); }

size_t FileCount(const std::string& directory) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

// Name and contents of every file in a folder.
std::map<std::string, std::vector<uint8_t>> Listing(const std::string& directory) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return files;
}

// The default message as an executable, so that extract and export have every part to write.
std::string MessageExecutable() {
  const std::string path = Scratch("input") + "/message.exe";
  if (!fs::exists(path)) {
    std::vector<uint8_t> logo = ReadFile(kResources + "logo.bmp");
    logo.erase(logo.begin(), logo.begin() + 14);
    WriteFile(path, pe_builder::Build({{263, "MOVIE", 0x409, ReadFile(kResources + "message.263")},
                                       {723, "VOICE", 0x409, ReadFile(kResources + "message.723")},
                                       {"WAVE", 150, 0x409, ReadFile(kResources + "startup_chime.wav")},
                                       {2, 147, 0x409, logo}})
                        .bytes);
  }
  return path;
}

bool ExportBuilt() { return RunTool("export").Output().find("no ffmpeg libraries") == std::string::npos; }

// One row per command that writes: its arguments before the output, the output (a file, or the
// folder extract fills), a file of its outputs, and a filesystem too small for all it writes
// (extract's holds the first clip, not the second).
struct Writer {
  const char* name;
  std::string arguments;
  std::string output;   // appended to the folder
  std::string oneFile;  // one of the files written
  int kilobytes;
  std::string earlier = {};  // a file the same run puts in place before oneFile
};

std::vector<Writer> Writers() {
  const std::string message = MessageExecutable();
  std::vector<Writer> writers = {
      {"video", "video --force '" + kResources + "message.263' ", "out.y4m", "out.y4m", 64},
      {"audio", "audio --force --voice '" + kResources + "message.723' ", "out.wav", "out.wav", 64},
      {"extract", "extract --force '" + message + "' ", ".", "message.723", 172, "message.263"},
  };
  if (ExportBuilt()) writers.push_back({"export", "export --force '" + message + "' ", "out.mp4", "out.mp4", 64});
  // A stand-in for the browser player's page: markers the message goes between.
  const std::string page = Scratch("input") + "/page.html";
  const std::string text = "<script>/*clipnote-message-begin*/const builtInFiles = [];/*clipnote-message-end*/</script>";
  support::WriteText(page, text);
  setenv("CLIPNOTE_WEB_PAGE", page.c_str(), 1);
  writers.push_back({"html", "html --force '" + message + "' ", "out.html", "out.html", 64});
  return writers;
}

TEST(OutputSafety, AFullFilesystemLeavesNothingBehind) {
  REQUIRE_ROOT();
  for (const Writer& writer : Writers()) {
    SCOPED_TRACE(writer.name);
    const std::string directory = Scratch(std::string("full-") + writer.name);
    SmallFilesystem small(directory, writer.kilobytes);
    ASSERT_TRUE(small.mounted());
    const support::RunResult run = RunTool(writer.arguments + "'" + directory + "/" + writer.output + "'");
    EXPECT_NE(run.status, 0) << run.Output();
    EXPECT_NE(run.Output().find("No space left on device"), std::string::npos) << run.Output();
    EXPECT_TRUE(Listing(directory).empty()) << run.Output();
  }
}

TEST(OutputSafety, AnOutputThatCannotBeReplacedStaysAsItWas) {
  REQUIRE_ROOT();
  for (const Writer& writer : Writers()) {
    SCOPED_TRACE(writer.name);
    const std::string directory = Scratch(std::string("immutable-") + writer.name);
    fs::remove_all(directory);
    fs::create_directories(directory);
    const std::string kept = directory + "/" + writer.oneFile;
    WriteFile(kept, {'o', 'l', 'd'});
    std::map<std::string, std::vector<uint8_t>> expected = {{writer.oneFile, {'o', 'l', 'd'}}};
    if (!writer.earlier.empty()) {
      WriteFile(directory + "/" + writer.earlier, {'o', 'l', 'd', 'e', 'r'});
      expected[writer.earlier] = {'o', 'l', 'd', 'e', 'r'};
    }
    ASSERT_EQ(RunShell("chattr +i '" + kept + "'").status, 0);
    const support::RunResult run = RunTool(writer.arguments + "'" + directory + "/" + writer.output + "'");
    RunShell("chattr -i '" + kept + "'");
    EXPECT_NE(run.status, 0) << run.Output();
    EXPECT_NE(run.Output().find("cannot replace"), std::string::npos) << run.Output();
    // Extract's other files, put in place before this one, are taken away again, and the
    // files they had replaced come back.
    EXPECT_EQ(Listing(directory), expected) << run.Output();
  }
}

TEST(OutputSafety, ASignalMidWriteRemovesTheUnfinishedFile) {
  if (!support::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg makes the long clip";
  const std::string directory = Scratch("signal");
  const std::string clip = Scratch("input") + "/long_cif.263";
  // A clip long enough that writing its pictures takes a while: 40 s of CIF.
  if (!fs::exists(clip)) {
    ASSERT_TRUE(RunShell("ffmpeg -v error -y -f lavfi -i testsrc=size=352x288:rate=30000/1001 -t 40 -c:v h263 -f h263 "
                         "-q:v 20 '" + clip + "'").status == 0);
  }
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    fs::remove_all(directory);
    fs::create_directories(directory);
    const std::string out = directory + "/out.y4m";
    WriteFile(out, {'o', 'l', 'd'});
    support::Process tool({kTool, "video", clip, out, "--force"});
    ASSERT_TRUE(tool.Started());
    // Stopped as soon as its unfinished file appears, so the signal surely comes mid-write.
    bool seen = false;
    for (int i = 0; i < 10000 && !seen; ++i) {
      seen = FileCount(directory) > 1;
      if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(tool.Pid(), SIGSTOP);
    const bool unfinished = FileCount(directory) > 1;
    kill(tool.Pid(), signal);
    kill(tool.Pid(), SIGCONT);
    const std::optional<int> status = tool.WaitForExit(-1);
    ASSERT_TRUE(seen && unfinished) << "the output was complete before the signal could come";
    EXPECT_EQ(status, 128 + signal);
    const std::map<std::string, std::vector<uint8_t>> expected = {{"out.y4m", {'o', 'l', 'd'}}};
    EXPECT_EQ(Listing(directory), expected);
  }
}

}  // namespace
