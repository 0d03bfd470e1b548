#include "video/recon/dequantise.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/parser/video_decoder.h"
#include "video/recon/recon_kernels.h"

namespace clipnote::h263 {

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

namespace {

// quant x (2|L| + 1), minus 1 for an even quant, with the level's sign, clamped to
// -2048..2047; 0 for level 0.
int16_t LevelValue(int level, int quant) {
  if (level == 0) return 0;
  const int evenCorrection = (quant & 1) ? 0 : 1;
  const int magnitude = quant * (2 * (level < 0 ? -level : level) + 1) - evenCorrection;
  return static_cast<int16_t>(std::clamp(level < 0 ? -magnitude : magnitude, -2048, 2047));
}

// The value of every level (indexed by its byte) for each quant the decoder can hold,
// each table filled the first time its quant is used.
constexpr int kQuants = 32;
int16_t levelValues[kQuants][256];
bool levelValuesFilled[kQuants];

void DequantiseWithTable(int16_t coefficients[64], const int8_t levels[64], int quant) {
  int16_t* values = levelValues[quant];
  if (!levelValuesFilled[quant]) {
    for (int byte = 0; byte < 256; ++byte) values[byte] = LevelValue(static_cast<int8_t>(byte), quant);
    levelValuesFilled[quant] = true;
  }
  // Most levels are zero: runs of eight zero levels are passed over at once.
  for (int chunk = 0; chunk < 64; chunk += 8) {
    uint64_t eight;
    std::memcpy(&eight, levels + chunk, sizeof eight);
    if (eight == 0) continue;
    for (int k = chunk; k < chunk + 8; ++k) {
      coefficients[zigzagToRaster[k]] = values[static_cast<uint8_t>(levels[k])];
    }
  }
}

}  // namespace

namespace {

// Everything after the clear of the coefficients.
inline void DequantiseIntoCleared(int16_t coefficients[64], const int8_t levels[64], int quant,
                                  bool intra) {
  if (quant >= 0 && quant < kQuants) {
    DequantiseWithTable(coefficients, levels, quant);
  } else {
    for (int k = 0; k < 64; ++k) coefficients[zigzagToRaster[k]] = LevelValue(levels[k], quant);
  }
  if (intra) {
    const int intraDc = static_cast<uint8_t>(levels[0]);
    coefficients[0] = static_cast<int16_t>(8 * intraDc + 8);
  }
}

}  // namespace

void DequantiseLevelsPlain(int16_t coefficients[64], const int8_t levels[64], int quant,
                           bool intra) {
  std::fill(coefficients, coefficients + 64, int16_t{0});
  DequantiseIntoCleared(coefficients, levels, quant, intra);
}

#if defined(__SSE2__)
void DequantiseLevelsSse2(int16_t coefficients[64], const int8_t levels[64], int quant,
                          bool intra) {
  // Eight wide stores, written out: as a loop or a fill the compiler makes a slow
  // string store of it.
  auto* wide = reinterpret_cast<__m128i*>(coefficients);
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(wide + 0, zero);
  _mm_storeu_si128(wide + 1, zero);
  _mm_storeu_si128(wide + 2, zero);
  _mm_storeu_si128(wide + 3, zero);
  _mm_storeu_si128(wide + 4, zero);
  _mm_storeu_si128(wide + 5, zero);
  _mm_storeu_si128(wide + 6, zero);
  _mm_storeu_si128(wide + 7, zero);
  DequantiseIntoCleared(coefficients, levels, quant, intra);
}
#endif

void DequantiseLevels(int16_t coefficients[64], const int8_t levels[64], int quant, bool intra) {
  reconKernels.dequantiseLevels(coefficients, levels, quant, intra);
}

void Dequantise(int16_t coefficients[64], const int8_t levels[64]) {
  const uint8_t mbType = videoDecoder.mbType;
  DequantiseLevels(coefficients, levels, videoDecoder.quant, mbType == kMbIntra || mbType == kMbIntraQ);
}

}  // namespace clipnote::h263
