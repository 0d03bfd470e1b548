#pragma once

// The pictures on screen: the window's display resources, and the paced
// presentation that the video thread runs once per playback.

#include "app/message_player.h"

namespace clipnote {

// One temporal-reference tick of the 30 Hz picture clock, in milliseconds.
inline constexpr double kMillisecondsPerTick = 33.333333;

// Takes the window's device context (its failure is fatal), selects and
// realises a halftone palette into it and opens DrawDib. Once, at creation.
void OpenDisplay(MessagePlayer& player);

// Releases what OpenDisplay took, in reverse. Once, when the window closes,
// after every playback thread has ended.
void CloseDisplay(MessagePlayer& player);

// Restarts the decoder on the clip, shows the first picture as the sound is
// released, then decodes every further picture and draws it at its time, or
// drops it when late. Posts the end of the playback when the pictures run
// out; returns without posting when stopEvent is set.
void PresentVideo(MessagePlayer& player);

// The target time of a picture: start plus ticks x 33.333333 ms, truncated,
// on the wrapping millisecond clock.
uint32_t PictureTargetTime(uint32_t start, int32_t ticks);

// Ticks from one temporal reference to the next (references wrap at 256).
int32_t TicksBetween(uint8_t previous, uint8_t next);

}  // namespace clipnote
