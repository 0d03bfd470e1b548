#pragma once

// Inputs for comparing two versions of a float kernel bit for bit: pools of values (of the
// size speech has, any bit pattern at all, the extreme values in every order, and the PCM
// rounding and clipping edges), and the bytes of a result with every NaN made one NaN.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace support {

// Appends a value's bytes; every NaN is written as one NaN, since the hardware may carry
// either operand's payload through a sum.
template <typename T>
inline void Append(std::vector<uint8_t>& out, T value) {
  if (value != value) value = std::numeric_limits<T>::quiet_NaN();
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

// Input pools: values of the size speech has, any bit pattern at all, the extreme values
// in every order, and the PCM rounding and clipping edges.
inline std::vector<float> SpeechRange() {
  std::vector<float> v(20000);
  uint32_t seed = 5;
  for (float& s : v) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<float>(static_cast<int32_t>(seed)) * (34000.0f / 2147483648.0f);
  }
  return v;
}

inline std::vector<float> AnyBitPattern() {
  std::vector<float> v;
  for (uint64_t bits = 0; bits < (1ull << 32); bits += 4093) {
    const uint32_t pattern = static_cast<uint32_t>(bits);
    float f;
    std::memcpy(&f, &pattern, sizeof f);
    v.push_back(f);
  }
  return v;
}

inline std::vector<float> Extremes() {
  using L = std::numeric_limits<float>;
  const float values[] = {0.0f, -0.0f, L::infinity(), -L::infinity(), L::quiet_NaN(),
                          L::max(), -L::max(), L::min(), -L::min(), L::denorm_min(),
                          -L::denorm_min(), 32767.5f, -32767.5f, 32766.5f, -32768.5f,
                          std::nextafter(32766.5f, 0.0f), std::nextafter(-32767.5f, 0.0f),
                          0.5f, -0.5f, 8388608.0f, 16777217.0f, 1e20f, -1e20f};
  constexpr size_t kCount = sizeof values / sizeof values[0];
  std::vector<float> v(8000);
  uint32_t seed = 17;
  for (float& s : v) {
    seed = seed * 1664525u + 1013904223u;
    s = values[(seed >> 8) % kCount];
  }
  return v;
}

inline std::vector<float> RoundingEdges() {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> v;
  for (int k = -32800; k <= 32800; ++k) {
    const float half = static_cast<float>(k) + 0.5f;
    v.push_back(half);
    v.push_back(std::nextafter(half, -inf));
    v.push_back(std::nextafter(half, inf));
  }
  return v;
}

struct FloatPool {
  std::string name;
  std::vector<float> values;
};

inline std::vector<FloatPool> FloatPools() {
  return {{"speech range", SpeechRange()},
          {"any bit pattern", AnyBitPattern()},
          {"extremes", Extremes()},
          {"rounding edges", RoundingEdges()}};
}

}  // namespace support
