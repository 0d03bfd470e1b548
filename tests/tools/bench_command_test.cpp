// clipnote-decode bench: the one machine-readable line, and refusals.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/test_support.h"

namespace {

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";
const std::string kHello = std::string(CLIPNOTE_SOURCE_DIR) + "/tests/audio/data/hello_63.723";

support::RunResult RunBench(const std::string& arguments) { return support::RunShell(kTool + " " + arguments); }

// A VOICE clip made of the raw frames and a prefix of `capacity` bytes.
std::string VoiceClip(const char* name, uint32_t capacity) {
  return support::WriteFile(support::Scratch(name), support::MakeVoiceClip(capacity, support::ReadFile(kHello)));
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
    const support::RunResult output = RunBench("bench audio " + row.arguments);
    ASSERT_EQ(output.status, 0) << row.arguments;
    std::smatch match;
    ASSERT_TRUE(std::regex_match(output.out, match,
                                 std::regex(R"(units=(\d+) seconds=([0-9.]+) per_second=([0-9.]+)\n)")))
        << output.out;
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
  const std::string cut = support::WriteText(support::Scratch("bench_cut.723"), "ab");
  EXPECT_EQ(RunBench("bench audio '" + cut + "' --voice").status, 1);
  EXPECT_EQ(RunBench("bench video '" + kHello + "'").status, 1);
}

}  // namespace
