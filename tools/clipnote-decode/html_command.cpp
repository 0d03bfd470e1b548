// clipnote-decode html MESSAGE OUT.html [--force]
//
// Writes the message as one self-contained web page that plays it in any browser,
// straight from disk (html_page.h says how the page is made and where it is found;
// `scripts/run --web` builds it).

#include <cstdio>
#include <optional>
#include <string>

#include "tools/clipnote-decode/html_page.h"
#include "tools/clipnote-decode/message_input.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"

namespace {

constexpr clipnote::tools::Option kOptions[] = {clipnote::tools::kForceOption};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode html", "MESSAGE OUT.html",
    "Writes the message as one self-contained web page that plays it in any browser, from disk.",
    kOptions, 2, 2,
    "The player's page is found at $CLIPNOTE_WEB_PAGE, else in the build tree this program was\n"
    "built in (`scripts/run --web` builds it). Exit codes: 0 written; 1 refused; 2 usage."};

}  // namespace

int RunHtmlCommand(int argc, char** argv) {
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const char* inPath = args.operands()[0].c_str();
  const char* outPath = args.operands()[1].c_str();
  MessageInput message;
  std::string error;
  if (!clipnote::tools::MayWriteOutput(outPath, args.Has("force"), error)) {
    return clipnote::tools::Refuse(kCommand.program, error);
  }
  if (!ReadMessageInput(inPath, clipnote::message::SpeechForm::ByName, message, error)) {
    std::fprintf(stderr, "clipnote-decode html: %s\n", error.c_str());
    return 1;
  }
  const std::optional<std::string> html = MessagePage(message, inPath, error, [&](const std::string& warning) {
    std::fprintf(stderr, "clipnote-decode html: %s: %s\n", inPath, warning.c_str());
  });
  if (!html) {
    std::fprintf(stderr, "clipnote-decode html: %s\n", error.c_str());
    return 1;
  }
  clipnote::tools::OutputFile output;
  bool written = output.Open(outPath, error);
  if (written) {
    std::fwrite(html->data(), 1, html->size(), output.stream());
    written = output.Finish(error) && clipnote::tools::CommitOutput(output, error);
  }
  if (!written) {
    std::fprintf(stderr, "clipnote-decode html: %s; nothing written\n", error.c_str());
    return 1;
  }
  return 0;
}
