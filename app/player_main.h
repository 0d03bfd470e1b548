#pragma once

// What the entry function does once the global player exists.

#include "app/message_player.h"

namespace clipnote {

inline constexpr char kWindowTitle[] = "Tarvany Clipnote Player";
inline constexpr char kDialogTemplate[] = "DISPLAYBOX";

// The player the window procedure and the thread procedures work on; set by
// PlayerWinMain before the window opens.
MessagePlayer& ActivePlayer();

// Refuses a second instance (brings the running window forward instead),
// stores the instance, creates the six playback events and runs the player
// window. Always returns 0.
int PlayerWinMain(MessagePlayer& player, Hinstance instance);

}  // namespace clipnote
