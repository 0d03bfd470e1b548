#include "tools/common/command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef CLIPNOTE_VERSION
#define CLIPNOTE_VERSION "unknown"
#endif

namespace clipnote::tools {
namespace {

constexpr Option kHelpOption = {"help", 'h', nullptr, "show this help and exit"};
constexpr Option kVersionOption = {"version", 0, nullptr, "show the version and exit"};

// The part before the first space: the tool of "clipnote-decode export".
std::string ToolName(const char* program) {
  const char* space = std::strchr(program, ' ');
  return space != nullptr ? std::string(program, space) : std::string(program);
}

const Option* FindLong(const Command& command, std::string_view name) {
  for (const Option& option : command.options) {
    if (name == option.name) return &option;
  }
  if (name == kHelpOption.name) return &kHelpOption;
  if (name == kVersionOption.name) return &kVersionOption;
  return nullptr;
}

const Option* FindAlias(const Command& command, char alias) {
  for (const Option& option : command.options) {
    if (option.alias != 0 && option.alias == alias) return &option;
  }
  if (alias == kHelpOption.alias) return &kHelpOption;
  return nullptr;
}

std::string OptionLabel(const Option& option) {
  std::string label = option.alias != 0 ? std::string("-") + option.alias + ", " : std::string("    ");
  label += "--";
  label += option.name;
  if (option.value != nullptr) label += std::string(" ") + option.value;
  return label;
}

void AppendOptions(std::string& text, std::span<const Option> options) {
  size_t width = 0;
  for (const Option& option : options) width = std::max(width, OptionLabel(option).size());
  for (const Option& option : options) {
    const std::string label = OptionLabel(option);
    text += "  " + label + std::string(width - label.size() + 2, ' ') + option.help + "\n";
  }
}

}  // namespace

bool Arguments::Has(std::string_view name) const {
  for (const Given& g : given_) {
    if (name == g.option->name) return true;
  }
  return false;
}

std::optional<std::string> Arguments::Value(std::string_view name) const {
  std::optional<std::string> value;
  for (const Given& g : given_) {
    if (name == g.option->name) value = g.value;
  }
  return value;
}

std::vector<std::string> Arguments::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const Given& g : given_) {
    if (name == g.option->name) values.push_back(g.value);
  }
  return values;
}

std::optional<int> ParseCommandLine(const Command& command, int argc, char** argv, Arguments& arguments) {
  arguments = Arguments();
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      arguments.operands_.emplace_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    const Option* option = nullptr;
    std::optional<std::string> inlineValue;
    if (word[1] == '-') {
      std::string_view name = word.substr(2);
      const size_t equals = name.find('=');
      if (equals != std::string_view::npos) {
        inlineValue = std::string(name.substr(equals + 1));
        name = name.substr(0, equals);
      }
      option = FindLong(command, name);
    } else {
      option = FindAlias(command, word[1]);
      if (option != nullptr && word.size() > 2) {
        if (option->value == nullptr) option = nullptr;  // "-yq" and the like are not read
        else inlineValue = std::string(word.substr(2));
      }
    }
    if (option == nullptr) return UsageError(command, "unknown option " + std::string(word));
    if (option == &kHelpOption) {
      std::fputs(HelpText(command).c_str(), stdout);
      return kExitOk;
    }
    if (option == &kVersionOption) {
      std::printf("%s\n", VersionLine(ToolName(command.program)).c_str());
      return kExitOk;
    }
    std::string value;
    if (option->value != nullptr) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return UsageError(command, std::string("--") + option->name + " needs a value (" + option->value + ")");
      }
    } else if (inlineValue) {
      return UsageError(command, std::string("--") + option->name + " takes no value");
    }
    arguments.given_.push_back({option, std::move(value)});
  }
  const size_t count = arguments.operands_.size();
  if (count < command.minOperands) {
    return UsageError(command, std::string(count == 0 ? "expects " : "expects more: ") + command.operands);
  }
  if (count > command.maxOperands) {
    return UsageError(command, "unexpected argument " + arguments.operands_[command.maxOperands]);
  }
  return std::nullopt;
}

std::string HelpText(const Command& command) {
  std::string text = std::string("usage: ") + command.program;
  if (!command.options.empty()) text += " [options]";
  if (command.operands != nullptr && command.operands[0] != '\0') text += std::string(" ") + command.operands;
  text += "\n";
  if (command.summary != nullptr) text += std::string(command.summary) + "\n";
  text += "\noptions:\n";
  std::vector<Option> all(command.options.begin(), command.options.end());
  all.push_back(kHelpOption);
  all.push_back(kVersionOption);
  AppendOptions(text, all);
  if (command.details != nullptr) text += std::string("\n") + command.details + "\n";
  return text;
}

std::string VersionLine(std::string_view program) { return std::string(program) + " " + CLIPNOTE_VERSION; }

int UsageError(const char* program, const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, message.c_str(), program);
  return kExitUsage;
}

int Refuse(const char* program, const std::string& reason) {
  std::fprintf(stderr, "%s: %s\n", program, reason.c_str());
  return kExitRefused;
}

std::optional<long long> ParseInteger(std::string_view text, long long min, long long max) {
  const std::string copy(text);
  if (copy.empty() || std::isspace(static_cast<unsigned char>(copy[0]))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(copy.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < min || value > max) return std::nullopt;
  return value;
}

std::optional<double> ParseNumber(std::string_view text, double min, double max) {
  const std::string copy(text);
  if (copy.empty() || std::isspace(static_cast<unsigned char>(copy[0]))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(copy.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < min || value > max) return std::nullopt;
  return value;
}

int RunProgram(const Program& program, int argc, char** argv) {
  if (argc < 2) return UsageError(program.name, "expects a command");
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h") {
    std::string text = std::string("usage: ") + program.name + " COMMAND ...\n" + program.summary + "\n\ncommands:\n";
    for (const Subcommand& command : program.commands) {
      text += std::string("  ") + program.name + " " + command.name + " " + command.synopsis + "\n";
    }
    text += std::string("\n'") + program.name + " COMMAND --help' says more of each.\n";
    if (program.details != nullptr) text += std::string(program.details) + "\n";
    std::fputs(text.c_str(), stdout);
    return kExitOk;
  }
  if (first == "--version") {
    std::printf("%s\n", VersionLine(program.name).c_str());
    return kExitOk;
  }
  for (const Subcommand& command : program.commands) {
    if (first == command.name) return command.run(argc - 1, argv + 1);
  }
  return UsageError(program.name, (first[0] == '-' ? "unknown option " : "unknown command ") + std::string(first));
}

}  // namespace clipnote::tools
