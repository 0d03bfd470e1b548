#pragma once

#include <cstdint>

namespace clipnote::speech {

// The decoder's pseudo-random generator: seed = seed * 521 + 259 modulo 65536. Returns the
// new seed read as a signed 16-bit value.
inline int16_t NextRandom(int16_t& seed) {
  const uint16_t next = static_cast<uint16_t>(static_cast<uint16_t>(seed) * 521u + 259u);
  seed = static_cast<int16_t>(next);
  return seed;
}

}  // namespace clipnote::speech
