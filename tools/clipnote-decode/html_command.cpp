// clipnote-decode html MESSAGE OUT.html
//
// Writes the message as one self-contained web page that plays it in any browser,
// straight from disk: the browser player's page (built under web/, with the decoders
// as WebAssembly inside) with this message in place of its built-in one. The page is
// found at $CLIPNOTE_WEB_PAGE, else at build/web/clipnote_message.html of the checkout
// this program was built in.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/clipnote-decode/atomic_output.h"
#include "tools/clipnote-decode/message_input.h"

namespace {

constexpr const char* kMessageBegin = "/*clipnote-message-begin*/";
constexpr const char* kMessageEnd = "/*clipnote-message-end*/";

std::string Base64(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    const uint32_t group = bytes[i] << 16 | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
    out += kDigits[group >> 18];
    out += kDigits[group >> 12 & 63];
    out += left > 1 ? kDigits[group >> 6 & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}

// The file's name as the page's script may quote it: letters, digits, '.', '_' and '-'.
std::string PageName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-';
    if (!plain) c = '_';
  }
  return name.empty() ? "message" : name;
}

std::filesystem::path PagePath() {
  if (const char* path = std::getenv("CLIPNOTE_WEB_PAGE")) return path;
  // <checkout>/build/<tree>/tools/clipnote-decode/clipnote-decode
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return self.parent_path().parent_path().parent_path().parent_path() / "web" / "clipnote_message.html";
}

}  // namespace

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
  const std::filesystem::path pagePath = PagePath();
  std::ifstream in(pagePath, std::ios::binary);
  const std::string page{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const size_t begin = page.find(kMessageBegin);
  const size_t end = begin == std::string::npos ? begin : page.find(kMessageEnd, begin);
  if (!in || end == std::string::npos) {
    std::fprintf(stderr,
                 "clipnote-decode html: no player page at %s (build web/ first, or name it with "
                 "CLIPNOTE_WEB_PAGE)\n",
                 pagePath.string().c_str());
    return 1;
  }
  const std::string files =
      "const builtInFiles = [{ name: \"" + PageName(argv[1]) + "\", base64: \"" + Base64(message.bytes) + "\" }];";
  const std::string html = page.substr(0, begin + std::string(kMessageBegin).size()) + files + page.substr(end);
  clipnote::tools::OutputFile output;
  bool written = output.Open(argv[2], error);
  if (written) {
    std::fwrite(html.data(), 1, html.size(), output.stream());
    written = output.Finish(error) && clipnote::tools::CommitOutput(output, error);
  }
  if (!written) {
    std::fprintf(stderr, "clipnote-decode html: %s; nothing written\n", error.c_str());
    return 1;
  }
  return 0;
}
