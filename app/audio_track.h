#pragma once

// The speech track: decoded once into an in-memory WAVE file by the audio
// preparation thread, then played from memory by one thread per playback.

#include "app/message_player.h"

namespace clipnote {

inline constexpr uint32_t kAudioPrepThreadExitCode = 100;
inline constexpr uint32_t kAudioPlayThreadExitCode = 103;
inline constexpr uint16_t kStartupSoundId = 150;
inline constexpr uint32_t kWavImageHeaderBytes = 44;
// Header, then pcmCapacity bytes of samples, then room for one more frame.
inline constexpr uint32_t kWavImageExtraBytes = 44 + 480;

// Starts the preparation thread (raised priority). Called once, while the
// window is created. If the thread cannot be created, that is reported and
// the preparation counts as finished (the message then plays without speech).
void StartAudioPreparation(MessagePlayer& player);

// Builds the WavImage: finds the audio clip, allocates the image and decodes
// the whole clip into it. Failures end in the fatal report. An abort request
// (prepAbortEvent) leaves audioReady false.
void PrepareAudio(MessagePlayer& player);

// Plays the WavImage once; for an audio-only message, posts the end of the
// playback when the speech has played out without being stopped.
void PlayAudio(MessagePlayer& player);

uint32_t AudioPrepThread(void* player);
uint32_t AudioPlayThread(void* player);

}  // namespace clipnote
