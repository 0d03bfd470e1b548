#include "video/encoder/quantise.h"

#include <algorithm>
#include <cstdlib>

#include "video/recon/dequantise.h"

namespace clipnote::h263 {

namespace {

int8_t Level(int32_t coefficient, int32_t deadZone, int32_t quant) {
  const int32_t magnitude = std::min((std::abs(coefficient) - deadZone) / (2 * quant), 127);
  if (magnitude <= 0) return 0;
  return static_cast<int8_t>(coefficient < 0 ? -magnitude : magnitude);
}

int32_t QuantiseFrom(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                     int32_t first, int32_t deadZone) {
  int32_t count = 0;
  for (int32_t k = first; k < 64; ++k) {
    levels[k] = Level(coefficients[zigzagToRaster[k]], deadZone, quant);
    count += levels[k] != 0;
  }
  return count;
}

}  // namespace

uint8_t IntraDcCode(int32_t dcCoefficient) {
  const int32_t code = (dcCoefficient - 4) >> 3;
  return static_cast<uint8_t>(std::clamp(code, 1, 254));
}

int32_t QuantiseIntra(int8_t levels[64], const int16_t coefficients[64], int32_t quant) {
  quant = std::clamp(quant, 1, 31);
  levels[0] = static_cast<int8_t>(IntraDcCode(coefficients[0]));
  return QuantiseFrom(levels, coefficients, quant, 1, 0);
}

int32_t QuantiseInter(int8_t levels[64], const int16_t coefficients[64], int32_t quant) {
  quant = std::clamp(quant, 1, 31);
  return QuantiseFrom(levels, coefficients, quant, 0, quant / 2);
}

}  // namespace clipnote::h263
