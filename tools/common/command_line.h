// The command-line conventions every Clipnote tool shares. Each command describes its options in
// one table; the parser answers --help (usage on standard output, exit 0) and --version (one line,
// exit 0) itself, and turns anything it cannot read into a usage error: one line on standard
// error, then "Try 'PROGRAM --help'.", exit 2. Input a command refuses (a file that is no message,
// an output that exists without --force) exits 1 with the reason.
//
//   constexpr clipnote::tools::Option kOptions[] = {
//       clipnote::tools::kForceOption,
//       {"repeat", 0, "N", "decode N times and keep the best time"},
//   };
//   constexpr clipnote::tools::Command kCommand = {
//       "clipnote-decode bench", "video|audio FILE", "Times the decoders on FILE.", kOptions, 2, 2};
//   clipnote::tools::Arguments args;
//   if (auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace clipnote::tools {

// Exit codes of every tool.
constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;  // the input or an output was refused, or the work failed
constexpr int kExitUsage = 2;    // the command line could not be read

struct Option {
  const char* name;            // the long name, without "--"
  char alias;                  // a one-letter alias ('y' for -y), or 0
  const char* value;           // what the value is called in the help ("BYTES"); nullptr for a flag
  const char* help;            // one line
};

// The options most tools share, so each says the same everywhere.
inline constexpr Option kForceOption = {"force", 'y', nullptr, "replace outputs that already exist"};
inline constexpr Option kQuietOption = {"quiet", 'q', nullptr, "show no progress"};

struct Command {
  const char* program;          // as it is typed: "clipnote-decode export"
  const char* operands;         // "MESSAGE OUT.mp4|OUT.webm|OUT.mkv"
  const char* summary;          // what the command does, one or more lines of the help
  std::span<const Option> options;
  size_t minOperands = 0;
  size_t maxOperands = 0;
  const char* details = nullptr;  // more help text after the options, or nothing
};

// What a command line gave, option by option in the order given.
class Arguments {
 public:
  struct Given {
    const Option* option;
    std::string value;  // empty for a flag
  };

  bool Has(std::string_view name) const;
  // The value the option was last given, or nothing when it was not.
  std::optional<std::string> Value(std::string_view name) const;
  std::vector<std::string> Values(std::string_view name) const;
  const std::vector<Given>& given() const { return given_; }
  const std::vector<std::string>& operands() const { return operands_; }

 private:
  friend std::optional<int> ParseCommandLine(const Command&, int, char**, Arguments&);
  std::vector<Given> given_;
  std::vector<std::string> operands_;
};

// Reads argv (argv[0] is the command's own name, which is not read) against the command's table.
// Options and operands may come in any order; "--name=value" and "--name value", "-y", "-o VALUE"
// are all read; "--" ends the options and a lone "-" is an operand. Returns the exit code when the
// command is done already (--help, --version: 0; a usage error: 2, said on standard error), and
// nothing when the command should run.
std::optional<int> ParseCommandLine(const Command& command, int argc, char** argv, Arguments& arguments);

// The help text --help prints.
std::string HelpText(const Command& command);
// "PROGRAM VERSION", the line --version prints; `program` is the tool's name ("clipnote-decode").
std::string VersionLine(std::string_view program);

// Says "PROGRAM: message" and "Try 'PROGRAM --help'." on standard error; returns kExitUsage.
int UsageError(const char* program, const std::string& message);
inline int UsageError(const Command& command, const std::string& message) {
  return UsageError(command.program, message);
}
// Says "PROGRAM: reason" on standard error; returns kExitRefused.
int Refuse(const char* program, const std::string& reason);

// Whole numbers and decimals as option values: nothing unless the whole text is one within
// [min, max].
std::optional<long long> ParseInteger(std::string_view text, long long min, long long max);
std::optional<double> ParseNumber(std::string_view text, double min, double max);

// A tool made of commands ("clipnote-decode video ..."): its name, a line for each command, and
// the function that runs each.
struct Subcommand {
  const char* name;
  const char* synopsis;  // the operands and main options, for the tool's own help
  int (*run)(int argc, char** argv);  // argv[0] is the command's name
};
struct Program {
  const char* name;
  const char* summary;
  std::span<const Subcommand> commands;
  const char* details = nullptr;
};
// Runs the command argv[1] names with the rest; answers "TOOL --help" and "TOOL --version", and a
// missing or unknown command is a usage error.
int RunProgram(const Program& program, int argc, char** argv);

}  // namespace clipnote::tools
