// clipnote-decode bench: the one machine-readable line, and refusals.

#include <gtest/gtest.h>

#include <cstdio>
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

TEST(BenchCommand, AudioPrintsUnitsBestTimeAndRate) {
  const Output output = RunBench("bench audio '" + kHello + "' --repeat 3");
  ASSERT_EQ(output.status, 0);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(output.text, match,
                               std::regex(R"(units=(\d+) seconds=([0-9.]+) per_second=([0-9.]+)\n)")))
      << output.text;
  EXPECT_EQ(match[1].str(), "16320");  // 68 frames of 240 samples
}

TEST(BenchCommand, RefusesBadArguments) {
  EXPECT_EQ(RunBench("bench audio '" + kHello + "' --repeat 0").status, 2);
  EXPECT_EQ(RunBench("bench audio '" + kHello + "' --repeat x").status, 2);
  EXPECT_EQ(RunBench("bench audio").status, 2);
  EXPECT_EQ(RunBench("bench sound '" + kHello + "'").status, 2);
  EXPECT_EQ(RunBench("bench audio /no/such/file").status, 1);
}

}  // namespace
