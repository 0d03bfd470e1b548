// The browser player's page with a message in place of its built-in one (see html_page.h).

#include "tools/clipnote-decode/html_page.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "message/bitmap_file.h"

namespace {

constexpr const char* kMessageBegin = "/*clipnote-message-begin*/";
constexpr const char* kMessageEnd = "/*clipnote-message-end*/";
constexpr const char* kLogoStatement = "const logoBase64 = \"";

std::string Base64(clipnote::message::Bytes bytes) {
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

// The name the page gives a carried clip: the message's name with the extension that
// tells the page's reader the clip's form.
std::string ClipName(const std::string& messageName, const char* extension) {
  const size_t dot = messageName.rfind('.');
  return (dot == std::string::npos || dot == 0 ? messageName : messageName.substr(0, dot)) + extension;
}

// The page's built-in files statement: the clips the message carries (an empty clip
// plays as no clip at all, so it is left out).
std::string FilesStatement(const MessageInput& input, const std::string& messageName) {
  const clipnote::message::MessageFile& message = input.message;
  std::string entries;
  auto add = [&](const std::optional<clipnote::message::ByteRange>& range, const char* extension) {
    if (!range || input.Clip(*range).empty()) return;
    if (!entries.empty()) entries += ", ";
    entries += "{ name: \"" + ClipName(messageName, extension) + "\", base64: \"" + Base64(input.Clip(*range)) + "\" }";
  };
  add(message.video, ".263");
  add(message.speech, message.speechHasPrefix ? ".723" : ".g723");
  return "const builtInFiles = [" + entries + "];";
}

}  // namespace

std::filesystem::path PagePath() {
  if (const char* path = std::getenv("CLIPNOTE_WEB_PAGE")) return path;
  // <checkout>/build/<tree>/tools/clipnote-decode/clipnote-decode
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return self.parent_path().parent_path().parent_path().parent_path() / "web" / "clipnote_message.html";
}


bool HavePlayerPage(std::string& error) {
  const std::filesystem::path pagePath = PagePath();
  std::ifstream in(pagePath, std::ios::binary);
  const std::string page{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const size_t begin = page.find(kMessageBegin);
  if (in && begin != std::string::npos && page.find(kMessageEnd, begin) != std::string::npos) return true;
  error = "no player page at " + pagePath.string() + " (scripts/run --web builds it; CLIPNOTE_WEB_PAGE names another)";
  return false;
}

std::optional<std::string> MessagePage(const MessageInput& message, const std::string& name, std::string& error,
                                       const std::function<void(const std::string&)>& warning) {
  const std::filesystem::path pagePath = PagePath();
  std::ifstream in(pagePath, std::ios::binary);
  const std::string page{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const size_t begin = page.find(kMessageBegin);
  const size_t end = begin == std::string::npos ? begin : page.find(kMessageEnd, begin);
  if (!in || end == std::string::npos) {
    error = "no player page at " + pagePath.string() + " (scripts/run --web builds it; CLIPNOTE_WEB_PAGE names another)";
    return std::nullopt;
  }
  // The page's logo statement follows its files statement between the markers; the
  // message's own logo takes its place. A page whose logo lies outside the markers keeps
  // it (a second statement would stop the page's script).
  const size_t content = begin + std::string(kMessageBegin).size();
  const size_t logoAt = page.find(kLogoStatement, content);
  std::string logo = logoAt < end ? page.substr(logoAt, end - logoAt) : "";
  if (message.message.logo && !logo.empty()) {
    std::string reason;
    if (const auto bitmap = clipnote::message::BitmapFileFromResource(message.Clip(*message.message.logo), reason)) {
      logo = kLogoStatement + Base64(*bitmap) + "\";";
    } else {
      if (warning) warning(reason + ": the page keeps its own logo");
    }
  }
  const std::string files = FilesStatement(message, PageName(name));
  return page.substr(0, content) + files + (logo.empty() ? "" : "\n" + logo) + page.substr(end);
}
