#include "video/recon/dequantise.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "video/parser/video_decoder.h"

namespace {

// The zigzag scan walks the anti-diagonals of the block, alternating direction:
// up and to the right on even diagonals, down and to the left on odd ones.
constexpr std::array<uint8_t, 64> MakeZigzag() {
  std::array<uint8_t, 64> order{};
  int k = 0;
  for (int d = 0; d < 15; ++d) {
    for (int i = 0; i <= d; ++i) {
      const int row = (d % 2 == 0) ? d - i : i;
      const int col = d - row;
      if (row < 8 && col < 8) order[k++] = static_cast<uint8_t>(8 * row + col);
    }
  }
  return order;
}

constexpr std::array<uint8_t, 64> kZigzag = MakeZigzag();

}  // namespace

const uint8_t* const zigzagToRaster = kZigzag.data();

void DequantiseLevels(int16_t coefficients[64], const int8_t levels[64], int quant, bool intra) {
  const int evenCorrection = (quant & 1) ? 0 : 1;
  std::fill(coefficients, coefficients + 64, int16_t{0});
  // Most levels are zero: runs of eight zero levels are passed over at once.
  for (int chunk = 0; chunk < 64; chunk += 8) {
    uint64_t eight;
    std::memcpy(&eight, levels + chunk, sizeof eight);
    if (eight == 0) continue;
    for (int k = chunk; k < chunk + 8; ++k) {
      const int level = levels[k];
      if (level == 0) continue;
      const int magnitude = quant * (2 * (level < 0 ? -level : level) + 1) - evenCorrection;
      int value = level < 0 ? -magnitude : magnitude;
      if (value < -2048) value = -2048;
      if (value > 2047) value = 2047;
      coefficients[zigzagToRaster[k]] = static_cast<int16_t>(value);
    }
  }
  if (intra) {
    const int intraDc = static_cast<uint8_t>(levels[0]);
    coefficients[0] = static_cast<int16_t>(8 * intraDc + 8);
  }
}

void Dequantise(int16_t coefficients[64], const int8_t levels[64]) {
  const uint8_t mbType = videoDecoder.mbType;
  DequantiseLevels(coefficients, levels, videoDecoder.quant, mbType == kMbIntra || mbType == kMbIntraQ);
}
