#pragma once

// The native millisecond clock: timeGetTime's values, which the sound player
// also uses to say when a sound is heard.

#include <chrono>
#include <cstdint>

namespace clipnote::gtk {

inline uint32_t MillisecondClock() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace clipnote::gtk
