// clipnote-decode bench: the one machine-readable line, and refusals.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>

namespace {

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";
const std::string kHello = std::string(CLIPNOTE_SOURCE_DIR) + "/tests/audio/data/hello_63.723";

struct Output {
  int status = -1;
  std::string text;
};

Output RunBench(const std::string& arguments) {
  Output output;
  FILE* pipe = popen((kTool + " " + arguments + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[256];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) output.text += buffer;
  const int raw = pclose(pipe);
  output.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

// A VOICE clip made of the raw frames and a prefix of `capacity` bytes.
std::string VoiceClip(const char* name, uint32_t capacity) {
  const std::string path = std::string(CLIPNOTE_BINARY_DIR) + "/tests/tools/" + name;
  std::ifstream in(kHello, std::ios::binary);
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < 4; ++i) out.put(static_cast<char>(capacity >> (8 * i)));
  out << in.rdbuf();
  return path;
}

TEST(BenchCommand, AudioPrintsUnitsBestTimeAndRate) {
  const struct {
    std::string arguments;
    const char* units;
  } rows[] = {
      {"'" + kHello + "' --repeat 3", "16320"},  // 68 frames of 240 samples
      {"'" + VoiceClip("bench_whole.723", 32640) + "' --voice", "16320"},
      // As the player: the prefix and one frame more, however many frames follow.
      {"'" + VoiceClip("bench_short.723", 480) + "' --voice", "480"},
  };
  for (const auto& row : rows) {
    const Output output = RunBench("bench audio " + row.arguments);
    ASSERT_EQ(output.status, 0) << row.arguments;
    std::smatch match;
    ASSERT_TRUE(std::regex_match(output.text, match,
                                 std::regex(R"(units=(\d+) seconds=([0-9.]+) per_second=([0-9.]+)\n)")))
        << output.text;
    EXPECT_EQ(match[1].str(), row.units) << row.arguments;
  }
}

TEST(BenchCommand, RefusesBadArguments) {
  EXPECT_EQ(RunBench("bench audio '" + kHello + "' --repeat 0").status, 2);
  EXPECT_EQ(RunBench("bench audio '" + kHello + "' --repeat x").status, 2);
  EXPECT_EQ(RunBench("bench audio").status, 2);
  EXPECT_EQ(RunBench("bench sound '" + kHello + "'").status, 2);
  EXPECT_EQ(RunBench("bench audio /no/such/file").status, 1);
  EXPECT_EQ(RunBench("bench audio '" + kHello + "' --repeat").status, 2);
  EXPECT_EQ(RunBench("bench audio '" + kHello + "' --repeat 1000001").status, 2);
  EXPECT_EQ(RunBench("bench audio '" + kHello + "' --repeat 2x").status, 2);
  EXPECT_EQ(RunBench("bench video '" + kHello + "' --voice").status, 2);  // --voice is for speech
  // Inputs that cannot be measured: a VOICE clip shorter than its prefix, speech as video.
  const std::string cut = std::string(CLIPNOTE_BINARY_DIR) + "/tests/tools/bench_cut.723";
  std::ofstream(cut, std::ios::binary) << "ab";
  EXPECT_EQ(RunBench("bench audio '" + cut + "' --voice").status, 1);
  EXPECT_EQ(RunBench("bench video '" + kHello + "'").status, 1);
}

}  // namespace
