#pragma once

// The player window: a modal dialog made from the "DISPLAYBOX" template.

#include <cstdint>

#include "app/message_player.h"

namespace clipnote {

inline constexpr uint16_t kPlayCommand = 1000;  // the Play/Stop button
inline constexpr uint16_t kSizeCommand = 1002;  // the CIF/QCIF size switch

// Notification code (high word of wParam) of the play/stop command that a
// playback thread posts when the playback has ended by itself. It tells that
// command apart from a click (BN_CLICKED, 0) and from the start-up command, so
// that one arriving after the playback was stopped starts nothing.
inline constexpr uint16_t kPlaybackEndedNotification = 0x4C45;

inline constexpr uintptr_t MakeCommand(uint16_t id, uint16_t notification) {
  return static_cast<uintptr_t>(id) | (static_cast<uintptr_t>(notification) << 16);
}

// Posts the end-of-playback command to the player window.
void PostPlaybackEnded(MessagePlayer& player);

// The dialog procedure of the player window (works on ActivePlayer()).
intptr_t DisplayBoxProc(Hwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Sizes the window for the fixed layout and places every control.
void LayoutWindow(MessagePlayer& player);

// Centres the window on the desktop without resizing or activating it.
void CentreWindow(Platform& os, Hwnd window);

}  // namespace clipnote
