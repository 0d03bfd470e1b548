// The native player with its own message replaced, for the end-to-end tests:
// CLIPNOTE_TEST_MOVIE and CLIPNOTE_TEST_VOICE name files that take the place
// of the compiled-in "MOVIE" and "VOICE" clips; a file that does not exist
// stands for a clip missing from the program. Everything else (window,
// threads, sound, the single-instance rule) is the real player's.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/message_player.h"
#include "app/player_main.h"
#include "platform/gtk/gtk_platform.h"

namespace {

using clipnote::EmbeddedResource;

alignas(4) const uint8_t kNoBytes[4] = {};

void Replace(const char* variable, int type, const char* name, std::vector<uint8_t>& storage,
             std::vector<EmbeddedResource>& replacements) {
  const char* path = std::getenv(variable);
  if (path == nullptr) return;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    replacements.push_back({type, nullptr, 0, name, 0x409, nullptr, 0});
    return;
  }
  storage.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  replacements.push_back({type, nullptr, 0, name, 0x409,
                          storage.empty() ? kNoBytes : storage.data(), storage.size()});
}

std::vector<EmbeddedResource> TestClips() {
  static std::vector<uint8_t> movie, voice;
  std::vector<EmbeddedResource> replacements;
  Replace("CLIPNOTE_TEST_MOVIE", 263, "MOVIE", movie, replacements);
  Replace("CLIPNOTE_TEST_VOICE", 723, "VOICE", voice, replacements);
  return replacements;
}

clipnote::gtk::GtkPlatform platform(TestClips());
clipnote::MessagePlayer player(platform);

}  // namespace

int main() { return clipnote::PlayerWinMain(player, nullptr); }
