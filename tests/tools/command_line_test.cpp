// The tools' shared command line: what each way of writing a command line gives, the exit codes
// of help, version and usage errors, the output policy, and the progress line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"
#include "tools/common/progress.h"

namespace {

using namespace clipnote::tools;

constexpr Option kOptions[] = {
    kForceOption,
    kQuietOption,
    {"output", 'o', "DIR", "write into DIR"},
    {"repeat", 0, "N", "do it N times"},
};
constexpr Command kCommand = {"tool run", "IN [OUT]", "Runs.", kOptions, 1, 2};

struct Parsed {
  std::optional<int> exit;
  Arguments arguments;
  std::string out, err;
};

Parsed Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "run");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  Parsed parsed;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  parsed.exit = ParseCommandLine(kCommand, static_cast<int>(argv.size()), argv.data(), parsed.arguments);
  parsed.out = testing::internal::GetCapturedStdout();
  parsed.err = testing::internal::GetCapturedStderr();
  return parsed;
}

std::string Describe(const Arguments& arguments) {
  std::string text;
  for (const auto& given : arguments.given()) text += std::string(given.option->name) + "=" + given.value + " ";
  for (const auto& operand : arguments.operands()) text += "[" + operand + "] ";
  return text;
}

TEST(CommandLine, ReadsEachWayOfWritingOptions) {
  const struct {
    std::vector<std::string> words;
    std::string read;
  } rows[] = {
      {{"in"}, "[in] "},
      {{"in", "out", "--force"}, "force= [in] [out] "},
      {{"-y", "in"}, "force= [in] "},
      {{"--output", "d", "in"}, "output=d [in] "},
      {{"--output=d e", "in"}, "output=d e [in] "},
      {{"-o", "d", "in"}, "output=d [in] "},
      {{"-od", "in"}, "output=d [in] "},
      {{"--output=", "in"}, "output= [in] "},
      {{"in", "--repeat", "3", "--repeat", "4"}, "repeat=3 repeat=4 [in] "},
      {{"--", "-y", "--force"}, "[-y] [--force] "},
      {{"-", "-q"}, "quiet= [-] "},
      {{"in", "-o", "-y"}, "output=-y [in] "},  // a value may look like an option
  };
  for (const auto& row : rows) {
    const Parsed parsed = Parse(row.words);
    EXPECT_FALSE(parsed.exit) << row.read << parsed.err;
    EXPECT_EQ(Describe(parsed.arguments), row.read);
    EXPECT_EQ(parsed.err, "");
  }
  const Parsed repeated = Parse({"in", "--repeat", "3", "--repeat", "4"});
  EXPECT_EQ(repeated.arguments.Value("repeat"), "4");
  EXPECT_EQ(repeated.arguments.Values("repeat").size(), 2u);
  EXPECT_FALSE(repeated.arguments.Value("output"));
  EXPECT_FALSE(repeated.arguments.Has("force"));
}

TEST(CommandLine, UsageErrorsAreOneLineAndAPointerToHelp) {
  const struct {
    std::vector<std::string> words;
    std::string message;
  } rows[] = {
      {{}, "tool run: expects IN [OUT]"},
      {{"in", "--frobnicate"}, "tool run: unknown option --frobnicate"},
      {{"in", "-x"}, "tool run: unknown option -x"},
      {{"in", "-yq"}, "tool run: unknown option -yq"},
      {{"in", "--output"}, "tool run: --output needs a value (DIR)"},
      {{"in", "--force=yes"}, "tool run: --force takes no value"},
      {{"a", "b", "c"}, "tool run: unexpected argument c"},
  };
  for (const auto& row : rows) {
    const Parsed parsed = Parse(row.words);
    EXPECT_EQ(parsed.exit, kExitUsage) << row.message;
    EXPECT_EQ(parsed.err, row.message + "\nTry 'tool run --help'.\n");
    EXPECT_EQ(parsed.out, "");
  }
}

TEST(CommandLine, HelpAndVersionGoToStandardOutputAndEndTheCommand) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"--help"}, {"-h"}, {"in", "--frobnicate", "--help"}}) {
    const Parsed parsed = Parse(words);
    if (words.size() == 3) {  // the first fault is the one reported
      EXPECT_EQ(parsed.exit, kExitUsage);
      continue;
    }
    EXPECT_EQ(parsed.exit, kExitOk);
    EXPECT_EQ(parsed.err, "");
    EXPECT_EQ(parsed.out.rfind("usage: tool run [options] IN [OUT]\nRuns.\n", 0), 0u) << parsed.out;
    for (const char* line : {"  -y, --force ", "  -o, --output DIR ", "      --repeat N ", "  -h, --help ", "      --version "}) {
      EXPECT_NE(parsed.out.find(line), std::string::npos) << line << " in\n" << parsed.out;
    }
  }
  const Parsed version = Parse({"--version"});
  EXPECT_EQ(version.exit, kExitOk);
  EXPECT_EQ(version.out, VersionLine("tool") + "\n");
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1);
}

TEST(CommandLine, NumbersAreWholeAndInRange) {
  EXPECT_EQ(ParseInteger("12", 1, 100), 12);
  EXPECT_EQ(ParseInteger("-3", -5, 5), -3);
  for (const char* bad : {"", " 1", "1 ", "1x", "0", "101", "1e2", "99999999999999999999"}) {
    EXPECT_FALSE(ParseInteger(bad, 1, 100)) << bad;
  }
  EXPECT_EQ(ParseNumber("6.3", 0, 10), 6.3);
  for (const char* bad : {"", "nan", "inf", "6.3s", "-1", "11"}) EXPECT_FALSE(ParseNumber(bad, 0, 10)) << bad;
}

TEST(OutputPolicy, AnExistingOutputIsReplacedOnlyWhenForced) {
  const std::string file = support::WriteText(support::Scratch("there.txt"), "kept");
  const std::string folder = support::Scratch("folder");
  std::filesystem::create_directories(folder);
  std::string error;
  EXPECT_TRUE(MayWriteOutput(support::Scratch("new.txt"), false, error));
  EXPECT_TRUE(MayWriteOutput(file, true, error));
  EXPECT_FALSE(MayWriteOutput(file, false, error));
  EXPECT_EQ(error, file + " exists; --force (-y) replaces it");
  for (bool force : {false, true}) {
    EXPECT_FALSE(MayWriteOutput(folder, force, error));
    EXPECT_EQ(error, folder + " is a folder, not a file");
  }
  EXPECT_TRUE(MakeOutputFolders(support::Scratch("a/b/out.txt"), error));
  EXPECT_TRUE(std::filesystem::is_directory(support::Scratch("a/b")));
  EXPECT_FALSE(MakeOutputFolders(file + "/inside/out.txt", error));
  EXPECT_NE(error.find("cannot make the folder"), std::string::npos) << error;
}

TEST(Progress, LineFitsTheTerminalAndSaysTheTimeLeft) {
  const struct {
    const char* stage;
    double fraction;
    std::optional<double> left;
    int columns;
    std::string line;
  } rows[] = {
      {"exporting", 0.0, std::nullopt, 80, "exporting [----------------------------------------]   0%"},
      {"exporting", 0.5, 12.4, 80, "exporting [####################--------------------]  50%  0:12 left"},
      {"exporting", 1.5, 0.0, 80, "exporting [########################################] 100%  0:00 left"},
      {"x", 0.25, 3725.0, 40, "x [####------------]  25%  1:02:05 left"},
      {"a long stage name", 0.5, 61.0, 30, "a long stage  50%  1:01 left"},
      {"stage", 0.5, std::nullopt, 3, "st"},
  };
  for (const auto& row : rows) {
    const std::string line = ProgressLine(row.stage, row.fraction, row.left, row.columns);
    EXPECT_EQ(line, row.line);
    EXPECT_LT(static_cast<int>(line.size()), row.columns);
  }
  EXPECT_FALSE(EstimateSecondsLeft(0.1, 0.01));  // too little to go on
  EXPECT_FALSE(EstimateSecondsLeft(5, 0));
  EXPECT_DOUBLE_EQ(*EstimateSecondsLeft(10, 0.25), 30);
  EXPECT_DOUBLE_EQ(*EstimateSecondsLeft(10, 1), 0);
}

TEST(Progress, RedrawsInPlaceAtMostTenTimesASecondAndClearsWhenDone) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  double now = 0;
  {
    Progress progress(out, 80, [&now] { return now; });
    progress.Stage("work", 100);
    for (int i = 1; i <= 100; ++i) {
      now += 0.01;  // a tenth of a second each ten units: ten redraws, and the first and last
      progress.Update(i);
    }
    progress.Done();
    progress.Done();  // a second clear writes nothing
  }
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  const size_t draws = std::count(text.begin(), text.end(), '\r');
  EXPECT_GE(draws, 10u);
  EXPECT_LE(draws, 13u);
  EXPECT_NE(text.find("work [########################################] 100%"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");

  Progress quiet(true);  // asked for quiet: nothing, whatever standard error is
  EXPECT_FALSE(quiet.active());
}

}  // namespace
