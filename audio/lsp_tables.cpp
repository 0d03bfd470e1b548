#include "audio/lsp_tables.h"

#include <cmath>

namespace clipnote::speech {

const LspVector LspMeanTable = {24.4608994f, 36.8828011f, 60.0780983f, 84.4218979f, 108.375f,
                                128.867004f, 154.311996f, 173.906006f, 199.093994f, 216.546997f};

namespace {

// The cosine on the same 2^-15 grid as the fixed-point tables it stands in for, so that
// results do not depend on the platform's cosine beyond its last bits.
std::array<float, kCosineTableSize> MakeCosineTable() {
  constexpr double kPi = 3.14159265358979323846;
  std::array<float, kCosineTableSize> table{};
  for (int k = 0; k < kCosineTableSize; ++k) {
    const double value = std::cos(2.0 * kPi * k / kCosineTableSize);
    table[k] = static_cast<float>(std::round(value * 32768.0) / 32768.0);
  }
  return table;
}

}  // namespace

const std::array<float, kCosineTableSize> CosineTable = MakeCosineTable();

}  // namespace clipnote::speech
