#pragma once

// Where each control of the player window sits in each state, in client
// pixels. Controls that are not wanted are moved outside the client area
// (x >= 380) rather than hidden.

#include "app/message_player.h"

namespace clipnote {

struct ControlPlace {
  int x, y, width, height;
  bool repaint;
};

namespace layout {
// At creation.
inline constexpr ControlPlace kPlayButton{0, 289, 44, 28, true};
inline constexpr ControlPlace kSizeButton{45, 289, 44, 28, true};
inline constexpr ControlPlace kLogo{90, 289, 260, 28, true};
inline constexpr ControlPlace kFrameCreated{380, 57, 190, 158, false};
inline constexpr ControlPlace kMakerCreated{58, 34, 238, 218, true};
inline constexpr ControlPlace kWaitParked{398, 120, 154, 28, false};
// Idle repaint.
inline constexpr ControlPlace kFrameIdle{380, 57, 190, 158, false};
inline constexpr ControlPlace kMakerIdle{56, 34, 238, 218, true};
// Size switch.
inline constexpr ControlPlace kFrameSwitch{380, 57, 190, 158, true};
inline constexpr ControlPlace kMakerAway{456, 34, 238, 218, true};
inline constexpr ControlPlace kWaitShown{98, 120, 154, 28, false};
// Start of a presentation at native size.
inline constexpr ControlPlace kFramePresenting{80, 58, 190, 158, true};
}  // namespace layout

inline void Place(Platform& os, Hwnd control, const ControlPlace& place) {
  os.MoveWindow(control, place.x, place.y, place.width, place.height, place.repaint);
}

}  // namespace clipnote
