// clipnote-decode html MESSAGE OUT.html
//
// Writes the message as one self-contained web page that plays it in any browser,
// straight from disk: the browser player's page (built under web/, with the decoders
// as WebAssembly inside) with this message in place of its built-in one. The page is
// found at $CLIPNOTE_WEB_PAGE, else at build/web/clipnote_message.html of the checkout
// this program was built in.
//
// The page carries what its script uses of the message, not the whole executable: the
// video clip, the speech clip (named so that the page reads it in the form it has) and
// the message's logo as a .bmp file. A file without a logo (a bare clip) keeps the
// page's own logo.

#include <cstdio>
#include <optional>
#include <string>

#include "tools/clipnote-decode/atomic_output.h"
#include "tools/clipnote-decode/html_page.h"
#include "tools/clipnote-decode/message_input.h"

int RunHtmlCommand(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: clipnote-decode html MESSAGE.exe OUT.html\n");
    return 2;
  }
  MessageInput message;
  std::string error;
  if (!ReadMessageInput(argv[1], clipnote::message::SpeechForm::ByName, message, error)) {
    std::fprintf(stderr, "clipnote-decode html: %s\n", error.c_str());
    return 1;
  }
  const std::optional<std::string> html = MessagePage(message, argv[1], error, [&](const std::string& warning) {
    std::fprintf(stderr, "clipnote-decode html: %s: %s\n", argv[1], warning.c_str());
  });
  if (!html) {
    std::fprintf(stderr, "clipnote-decode html: %s\n", error.c_str());
    return 1;
  }
  clipnote::tools::OutputFile output;
  bool written = output.Open(argv[2], error);
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
