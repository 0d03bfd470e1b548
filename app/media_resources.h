#pragma once

// Finding the two embedded clips. Both are looked up in the executable's own
// module; the locked bytes are read-only and live as long as the process.

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace clipnote {

inline constexpr char kVideoClipName[] = "MOVIE";
inline constexpr char kVideoClipType[] = "#263";
inline constexpr char kAudioClipName[] = "VOICE";
inline constexpr char kAudioClipType[] = "#723";

inline constexpr char kVideoNotFoundText[] = "Unable to find video resource!";
inline constexpr char kVideoNotLoadedText[] = "Unable to load video resource!";
inline constexpr char kVideoNotLockedText[] = "Unable to lock video resource!";
inline constexpr char kAudioNotFoundText[] = "Unable to find audio resource!";
inline constexpr char kAudioNotLoadedText[] = "Unable to load audio resource!";
inline constexpr char kAudioNotLockedText[] = "Unable to lock audio resource!";

inline constexpr char kAudioOnlyText[] = "This message contains audio only!";
inline constexpr char kAudioOnlyCaption[] = "Audio only";
inline constexpr char kVideoOnlyText[] = "This message contains video only!";
inline constexpr char kVideoOnlyCaption[] = "Video only";

// Bytes before the coded speech: the little-endian count of PCM bytes to reserve.
inline constexpr uint32_t kAudioPrefixBytes = 4;

struct LockedClip {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

// The video clip. A clip of size 0 shows the "Audio only" warning and is
// returned with size 0 (the message has no video). Failures raise
// StartupFailure with the matching text.
LockedClip LocateVideoClip(Platform& os);

// The audio clip, whole (prefix included). A clip without coded frames (4
// bytes, or too short even for the prefix) sets audioAbsent to 1, then shows
// the "Video only" warning. Failures raise StartupFailure.
LockedClip LocateAudioClip(Platform& os, std::atomic<int>& audioAbsent);

}  // namespace clipnote
