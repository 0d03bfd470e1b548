#pragma once

#include <cstdint>

namespace clipnote::speech {

// Tables of the excitation decoder. The adaptive-codebook and pitch-sharpening tables are
// generated from the G.723.1 table file into excitation_tables.cpp with
//   scripts/generate_g723_tables.py g723-tables.txt audio/excitation_tables.cpp
//     audio/excitation_tables.h AdaptiveGainTable85 AdaptiveGainTable170
//     SharpeningLagTable SharpeningGainTable
// the small ones are given here.

// Fixed-codebook pulse amplitude by amplitudeIndex.
inline constexpr int kFixedGainCount = 24;
inline constexpr float FixedGainTable[kFixedGainCount] = {
    2,    4,    6,    8,    12,   18,   26,   36,   52,   76,   110,  160,
    230,  332,  480,  696,  1004, 1452, 2100, 3034, 4386, 6340, 9164, 13246};

// 6.3 kbit/s multipulse codebook: pulses per subframe, and the number of ways to place them
// in the subframe's 30 slots (a position code at or above it is invalid).
inline constexpr int PulseCountTable[4] = {6, 5, 6, 5};
inline constexpr int32_t MaxPositionTable[4] = {593775, 142506, 593775, 142506};

// Number of ways to choose 5 - r items out of 29 - t (row r, column t): the weights of the
// combinatorial position code.
inline constexpr int kBinomialRows = 6;
inline constexpr int kBinomialColumns = 30;
struct BinomialRows {
  int32_t value[kBinomialRows][kBinomialColumns];
};
inline constexpr BinomialRows MakeBinomialTable() {
  BinomialRows table{};
  for (int r = 0; r < kBinomialRows; ++r) {
    for (int t = 0; t < kBinomialColumns; ++t) {
      const int n = 29 - t;
      const int k = 5 - r;
      int64_t c = 1;  // C(n, k), 0 when k > n
      if (k > n) {
        c = 0;
      } else {
        for (int i = 1; i <= k; ++i) c = c * (n - k + i) / i;
      }
      table.value[r][t] = static_cast<int32_t>(c);
    }
  }
  return table;
}
inline constexpr BinomialRows BinomialTable = MakeBinomialTable();

// Adaptive-codebook gain vectors: 20 values per entry, of which the first five are the taps
// of the pitch predictor. The 85-entry table serves 6.3 kbit/s half frames with a lag below
// 58; the 170-entry table everything else. Entry 0 of both is all zeros.
inline constexpr int kAdaptiveGainColumns = 20;
inline constexpr int kAdaptiveTaps = 5;
extern const float AdaptiveGainTable85[85][kAdaptiveGainColumns];
extern const float AdaptiveGainTable170[170][kAdaptiveGainColumns];

// 5.3 kbit/s pitch sharpening, by gainIndex: the offset added to the subframe's lag (60 turns
// sharpening off) and the sharpening gain.
extern const int SharpeningLagTable[170];
extern const float SharpeningGainTable[170];

}  // namespace clipnote::speech
