// The native player's entry. As on Windows, the platform and then the global
// player are built by static initialisation before main runs (so the player's
// start-up warnings can appear before any window), and torn down after it
// returns, the player first.

#include "app/message_player.h"
#include "app/player_main.h"
#include "platform/gtk/gtk_platform.h"

namespace {
clipnote::gtk::GtkPlatform platform;
clipnote::MessagePlayer player(platform);
}  // namespace

int main() { return clipnote::PlayerWinMain(player, nullptr); }
