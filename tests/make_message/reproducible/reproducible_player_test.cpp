// Message executables anyone can verify: the Windows player make-message --build-native-player
// builds around a message's clips, from a copy of the tree in a folder of its own, is byte for
// byte the clipnote.exe of the project's own build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_support.h"
#include "tools/make-message/native_player.h"

namespace {

TEST(ReproduciblePlayer, TheSameClipsGiveTheSameExecutableInAnotherFolder) {
  const std::string built = CLIPNOTE_WIN32_EXE;
  if (!std::filesystem::exists(built) || !support::HaveTool("i686-w64-mingw32-g++")) {
    CLIPNOTE_SKIP_UNLESS_CI("needs the Windows build's clipnote.exe and the mingw-w64 cross compiler");
  }
  const std::string resources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";
  std::vector<std::pair<std::string, std::string>> players;
  std::string error;
  ASSERT_TRUE(makemessage::BuildPlayers(CLIPNOTE_SOURCE_DIR, support::ReadFile(resources + "message.263"),
                                        support::ReadFile(resources + "message.723"), support::ScratchDir(), players,
                                        [](const std::string&) {}, error))
      << error;
  ASSERT_FALSE(players.empty());
  EXPECT_EQ(players[0].first, "clipnote.exe");
  const std::vector<uint8_t> rebuilt = support::ReadFile(players[0].second);
  EXPECT_EQ(support::Fnv1a(rebuilt), support::Fnv1a(support::ReadFile(built)));
  EXPECT_EQ(rebuilt.size(), support::ReadFile(built).size());
}

}  // namespace
