#include "video/encoder/quantise.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/encoder/encoder_kernels.h"
#include "video/encoder/macroblock_syntax.h"
#include "video/encoder/vlc_codes.h"
#include "video/recon/dequantise.h"

namespace clipnote::h263 {

namespace {

constexpr int32_t kMaxLevel = 127;

int8_t Level(int32_t coefficient, int32_t deadZone, int32_t quant) {
  const int32_t magnitude = std::min((std::abs(coefficient) - deadZone) / (2 * quant), kMaxLevel);
  if (magnitude <= 0) return 0;
  return static_cast<int8_t>(coefficient < 0 ? -magnitude : magnitude);
}

#if defined(__SSE2__)
// Division by 2 quant as a 16-bit multiplication: n / d == (n x multiplier) >> (16 + shift)
// for every n up to 127 d, the largest magnitude that does not saturate (larger ones are
// held to it first). With multiplier = ceil(2^k / d) = (2^k + e) / d that holds while
// 127 d x e < 2^k; the largest shift whose multiplier still fits 16 bits meets it for every
// quant (checked below).
struct Reciprocal {
  uint16_t multiplier;
  int32_t shift;
};

constexpr std::array<Reciprocal, 32> MakeReciprocals() {
  std::array<Reciprocal, 32> table{};
  for (int32_t quant = 1; quant < 32; ++quant) {
    const int64_t d = 2 * quant;
    for (int32_t shift = 0; shift < 16; ++shift) {
      const int64_t multiplier = ((int64_t{1} << (16 + shift)) + d - 1) / d;
      if (multiplier > 0xFFFF) break;
      table[quant] = {static_cast<uint16_t>(multiplier), shift};
    }
  }
  return table;
}

constexpr std::array<Reciprocal, 32> kReciprocals = MakeReciprocals();

constexpr bool ReciprocalsExact() {
  for (int32_t quant = 1; quant < 32; ++quant) {
    const int64_t d = 2 * quant, k = 16 + kReciprocals[quant].shift;
    const int64_t excess = kReciprocals[quant].multiplier * d - (int64_t{1} << k);
    if (excess < 0 || kMaxLevel * d * excess >= (int64_t{1} << k)) return false;
  }
  return true;
}
static_assert(ReciprocalsExact());
#endif

}  // namespace

int32_t QuantiseLevelsPlain(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                            bool intra) {
  const int32_t deadZone = intra ? 0 : quant / 4;
  int32_t count = 0;
  for (int32_t k = intra ? 1 : 0; k < 64; ++k) {
    levels[k] = Level(coefficients[zigzagToRaster[k]], deadZone, quant);
    count += levels[k] != 0;
  }
  return count;
}

#if defined(__SSE2__)
int32_t QuantiseLevelsSse2(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                           bool intra) {
  // Raster order, eight coefficients a vector, in unsigned 16-bit magnitudes (-32768 has
  // magnitude 32768); then the bytes are put in scan order.
  const Reciprocal reciprocal = kReciprocals[quant];
  const __m128i deadZone = _mm_set1_epi16(static_cast<int16_t>(intra ? 0 : quant / 4));
  const __m128i ceiling = _mm_set1_epi16(static_cast<int16_t>(kMaxLevel * 2 * quant));
  const __m128i multiplier = _mm_set1_epi16(static_cast<int16_t>(reciprocal.multiplier));
  const __m128i shift = _mm_cvtsi32_si128(reciprocal.shift);
  const auto levelsOf = [&](const int16_t* at) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i sign = _mm_srai_epi16(c, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(c, sign), sign);
    __m128i n = _mm_subs_epu16(magnitude, deadZone);
    n = _mm_sub_epi16(n, _mm_subs_epu16(n, ceiling));  // min(n, ceiling)
    const __m128i level = _mm_srl_epi16(_mm_mulhi_epu16(n, multiplier), shift);
    return _mm_sub_epi16(_mm_xor_si128(level, sign), sign);
  };
  alignas(16) int8_t raster[64];
  uint64_t zeros = 0;  // one bit per raster position whose level is zero
  for (int32_t i = 0; i < 64; i += 16) {
    const __m128i packed = _mm_packs_epi16(levelsOf(coefficients + i), levelsOf(coefficients + i + 8));
    _mm_store_si128(reinterpret_cast<__m128i*>(raster + i), packed);
    const int zero = _mm_movemask_epi8(_mm_cmpeq_epi8(packed, _mm_setzero_si128()));
    zeros |= uint64_t{static_cast<uint16_t>(zero)} << i;
  }
  const int32_t first = intra ? 1 : 0;  // scan position 0 is raster position 0
  for (int32_t k = first; k < 64; ++k) levels[k] = raster[zigzagToRaster[k]];
  return 64 - first - std::popcount(zeros >> first);
}
#endif

uint8_t IntraDcCode(int32_t dcCoefficient) {
  const int32_t code = (dcCoefficient - 4) >> 3;
  return static_cast<uint8_t>(std::clamp(code, 1, 254));
}

int32_t QuantiseIntra(int8_t levels[64], const int16_t coefficients[64], int32_t quant) {
  quant = std::clamp(quant, 1, 31);
  levels[0] = static_cast<int8_t>(IntraDcCode(coefficients[0]));
  return EncoderKernelTable().quantiseLevels(levels, coefficients, quant, true);
}

int32_t QuantiseInter(int8_t levels[64], const int16_t coefficients[64], int32_t quant) {
  quant = std::clamp(quant, 1, 31);
  return EncoderKernelTable().quantiseLevels(levels, coefficients, quant, false);
}

TrimmedLevels TrimLevels(int8_t levels[64], const int16_t coefficients[64], int32_t quant,
                         int32_t first, int64_t lambda16) {
  const VlcCodes& codes = EncoderCodes();
  // The most bits lowering a level of magnitude 2 or more by one can save, over the tables.
  static const int32_t mostSaved = [&codes] {
    int32_t most = 0;
    for (int32_t last = 0; last < 2; ++last) {
      for (int32_t run = 0; run < 64; ++run) {
        for (int32_t m = 2; m < 128; ++m) {
          most = std::max(most, codes.tcoefBits[last][run][m] - codes.tcoefBits[last][run][m - 1]);
        }
      }
    }
    return most;
  }();
  const auto bitsOf = [&codes](bool last, int32_t run, int32_t level) -> int32_t {
    return codes.tcoefBits[last][run][level < 0 ? -level : level];
  };
  const int32_t even = (quant & 1) == 0 ? 1 : 0;
  const int32_t one = 3 * quant - even;  // a level +-1 rebuilt
  // The last level kept (-1: none), its run and whether it was counted as the last event;
  // where the run of the level looked at starts.
  int32_t kept = -1;
  int32_t keptRun = 0;
  bool keptLast = false;
  int32_t runStart = first;
  TrimmedLevels left;
  uint64_t mask = NonzeroLevels(levels, first);
  while (mask != 0) {
    const int32_t i = std::countr_zero(mask);
    mask &= mask - 1;
    const bool last = mask == 0;
    const int32_t level = levels[i];
    const int32_t run = i - runStart;
    const int32_t f = std::abs(int32_t{coefficients[zigzagToRaster[i]]});
    int32_t bits = bitsOf(last, run, level);
    int32_t rebuilt = 0;
    if (level == 1 || level == -1) {
      // Zeroing a level before the last saves at most its own bits (a longer run costs the
      // next event no fewer), so most levels are kept on that alone.
      const int64_t added = 16 * int64_t{one} * (2 * f - one);
      rebuilt = one;
      if (last || lambda16 * bits > added) {
        int32_t saved = bits;
        if (!last) {
          // The next event's run takes in this one's.
          const int32_t next = std::countr_zero(mask);
          const bool nextLast = (mask & (mask - 1)) == 0;
          saved += bitsOf(nextLast, next - i - 1, levels[next]) -
                   bitsOf(nextLast, next - runStart, levels[next]);
        } else if (kept >= 0) {
          // The kept level before becomes the last.
          saved += bitsOf(false, keptRun, levels[kept]) - bitsOf(true, keptRun, levels[kept]);
        }
        if (added < lambda16 * saved) {
          levels[i] = 0;
          continue;
        }
      }
    } else {
      const int32_t magnitude = level < 0 ? -level : level;
      rebuilt = quant * (2 * magnitude + 1) - even;
      const int64_t added = 32 * int64_t{quant} * (2 * f - 2 * rebuilt + 2 * quant);
      if (added < lambda16 * mostSaved) {
        const int32_t lower = level < 0 ? level + 1 : level - 1;
        const int32_t lowerBits = bitsOf(last, run, lower);
        if (added < lambda16 * (bits - lowerBits)) {
          levels[i] = static_cast<int8_t>(lower);
          bits = lowerBits;
          rebuilt -= 2 * quant;
        }
      }
    }
    left.bits += bits;
    left.errorChange += int64_t{rebuilt} * (rebuilt - 2 * f);
    kept = i;
    keptRun = run;
    keptLast = last;
    runStart = i + 1;
    ++left.count;
  }
  // Levels after the last one kept were zeroed: it becomes the last event.
  if (kept >= 0 && !keptLast) {
    left.bits += bitsOf(true, keptRun, levels[kept]) - bitsOf(false, keptRun, levels[kept]);
  }
  return left;
}

}  // namespace clipnote::h263
