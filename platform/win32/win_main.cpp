// The executable's entry: the platform and the global player are built here,
// in this order, by static initialisation before WinMain runs, and torn down
// after it returns (the player first).

#include <windows.h>

#include "app/message_player.h"
#include "app/player_main.h"
#include "platform/win32/win32_platform.h"

namespace {
clipnote::Win32Platform platform;
clipnote::MessagePlayer player(platform);
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*showCommand*/) {
  return clipnote::PlayerWinMain(player, reinterpret_cast<clipnote::Hinstance>(instance));
}
