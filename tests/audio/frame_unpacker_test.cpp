#include "audio/frame_unpacker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "audio/frame_packer.h"

namespace clipnote::speech {

namespace {

using test_frames::ActiveCodes;

FrameParams Unpack(const std::vector<uint8_t>& bytes, FrameType& type, Rate& rate,
                   bool lost = false) {
  uint8_t frame[kMaxCodedFrameBytes] = {};
  std::memcpy(frame, bytes.data(), bytes.size());
  return UnpackFrame(frame, lost, type, rate);
}

TEST(FrameUnpacker, SidFrameBitsAreReadLeastSignificantFirst) {
  // Bits 0-1 kind 2, bits 2-25 the LSP word, bits 26-31 the gain index, laid out by hand.
  const uint32_t lsp = 0xA5C33C;
  const uint32_t gain = 0x2B;
  const uint32_t word = 2u | (lsp << 2) | (gain << 26);
  const std::vector<uint8_t> bytes = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                                      static_cast<uint8_t>(word >> 16),
                                      static_cast<uint8_t>(word >> 24)};
  FrameType type = FrameType::Active;
  Rate rate = Rate::Rate53;
  const FrameParams p = Unpack(bytes, type, rate);
  EXPECT_EQ(type, FrameType::Sid);
  EXPECT_EQ(p.erased, 0);
  EXPECT_EQ(p.lspIndex, static_cast<int32_t>(lsp));
  EXPECT_EQ(p.sub[0].amplitudeIndex, static_cast<int32_t>(gain));
  EXPECT_EQ(rate, Rate::Rate53);  // only active frames set the rate
}

TEST(FrameUnpacker, UntransmittedFrameHasNoParametersAndKeepsTheRate) {
  FrameType type = FrameType::Active;
  Rate rate = Rate::Rate63;
  // Stale bytes behind the first one must not leak into the parameters.
  std::vector<uint8_t> bytes(24, 0xFF);
  const FrameParams p = Unpack(bytes, type, rate);
  EXPECT_EQ(type, FrameType::Untransmitted);
  EXPECT_EQ(p.lspIndex, 0);
  EXPECT_EQ(p.erased, 0);
  EXPECT_EQ(rate, Rate::Rate63);
}

TEST(FrameUnpacker, LostFrameReadsNothing) {
  FrameType type = FrameType::Sid;
  Rate rate = Rate::Rate53;
  const FrameParams p = Unpack(test_frames::PackActive(ActiveCodes{}, Rate::Rate63), type, rate,
                               /*lost=*/true);
  EXPECT_NE(p.erased, 0);
  EXPECT_EQ(type, FrameType::Sid);
  EXPECT_EQ(rate, Rate::Rate53);
  EXPECT_EQ(p.lspIndex, 0);
}

TEST(FrameUnpacker, EveryFieldOfRandomActiveFramesAtBothRates) {
  std::mt19937 random(7);
  for (Rate rate : {Rate::Rate63, Rate::Rate53}) {
    for (int trial = 0; trial < 200; ++trial) {
      const ActiveCodes c = test_frames::RandomActiveCodes(random, rate);
      FrameType type = FrameType::Sid;
      Rate decodedRate = rate == Rate::Rate63 ? Rate::Rate53 : Rate::Rate63;
      const FrameParams p = Unpack(test_frames::PackActive(c, rate), type, decodedRate);
      ASSERT_EQ(p.erased, 0);
      EXPECT_EQ(type, FrameType::Active);
      EXPECT_EQ(decodedRate, rate);
      EXPECT_EQ(p.lspIndex, static_cast<int32_t>(c.lspIndex));
      EXPECT_EQ(p.openLoopLag[0], static_cast<int32_t>(c.lagCode[0] + 18));
      EXPECT_EQ(p.openLoopLag[1], static_cast<int32_t>(c.lagCode[1] + 18));
      EXPECT_EQ(p.sub[0].lagDelta, 1);
      EXPECT_EQ(p.sub[1].lagDelta, static_cast<int32_t>(c.lagDelta[0]));
      EXPECT_EQ(p.sub[2].lagDelta, 1);
      EXPECT_EQ(p.sub[3].lagDelta, static_cast<int32_t>(c.lagDelta[1]));
      for (int s = 0; s < 4; ++s) {
        const bool shortLag = rate == Rate::Rate63 && p.openLoopLag[s / 2] < 58;
        const uint32_t word = shortLag ? c.gainWord[s] & 0x7FF : c.gainWord[s];
        EXPECT_EQ(p.sub[s].pulseTrain, shortLag ? static_cast<int32_t>(c.gainWord[s] >> 11) : 0);
        EXPECT_EQ(p.sub[s].gainIndex, static_cast<int32_t>(word / 24));
        EXPECT_EQ(p.sub[s].amplitudeIndex, static_cast<int32_t>(word % 24));
        EXPECT_EQ(p.sub[s].grid, static_cast<int32_t>(c.grid[s]));
        EXPECT_EQ(p.sub[s].signs, static_cast<int32_t>(c.signs[s]));
      }
      if (rate == Rate::Rate53) {
        for (int s = 0; s < 4; ++s) {
          EXPECT_EQ(p.sub[s].positions, static_cast<int32_t>(c.positionLow[s]));
        }
      }
    }
  }
}

TEST(FrameUnpacker, SixPointThreePositionWordSplitsInMixedRadix) {
  ActiveCodes c;
  c.positionHigh = 3 * 810 + 7 * 90 + 5 * 9 + 2;
  c.positionLow[0] = 0x1234;
  c.positionLow[1] = 0x0321;
  c.positionLow[2] = 0xFFFF;
  c.positionLow[3] = 0x3FFF;
  FrameType type;
  Rate rate = Rate::Rate53;
  const FrameParams p = Unpack(test_frames::PackActive(c, Rate::Rate63), type, rate);
  EXPECT_EQ(p.sub[0].positions, (3 << 16) + 0x1234);
  EXPECT_EQ(p.sub[1].positions, (7 << 14) + 0x0321);
  EXPECT_EQ(p.sub[2].positions, (5 << 16) + 0xFFFF);
  EXPECT_EQ(p.sub[3].positions, (2 << 14) + 0x3FFF);
}

TEST(FrameUnpacker, LagCodesAbove123MarkTheFrameErased) {
  for (int half = 0; half < 2; ++half) {
    ActiveCodes c;
    c.lagCode[half] = 123;
    FrameType type;
    Rate rate = Rate::Rate63;
    FrameParams p = Unpack(test_frames::PackActive(c, Rate::Rate53), type, rate);
    EXPECT_EQ(p.erased, 0);
    EXPECT_EQ(p.openLoopLag[half], 141);
    for (uint32_t bad = 124; bad <= 127; ++bad) {
      c.lagCode[half] = bad;
      rate = Rate::Rate63;
      p = Unpack(test_frames::PackActive(c, Rate::Rate53), type, rate);
      EXPECT_NE(p.erased, 0) << bad;
      EXPECT_EQ(type, FrameType::Active);
      EXPECT_EQ(rate, Rate::Rate53);  // the rate is taken before the check
    }
  }
}

TEST(FrameUnpacker, GainLimitAndPulseTrainDependOnLagBelow58At63Only) {
  // Lag 57 (code 39) at 6.3 kbit/s: bit 11 is the pulse-train flag, gain indices 0..84.
  ActiveCodes c;
  c.lagCode[0] = 39;
  c.lagCode[1] = 40;  // lag 58 in the second half frame
  c.gainWord[0] = (1u << 11) | (84 * 24 + 23);
  c.gainWord[1] = 84 * 24;
  c.gainWord[2] = (1u << 11) | 5;  // lag 58: bit 11 belongs to the gain index
  c.gainWord[3] = 169 * 24 + 23;
  FrameType type;
  Rate rate = Rate::Rate53;
  FrameParams p = Unpack(test_frames::PackActive(c, Rate::Rate63), type, rate);
  ASSERT_EQ(p.erased, 0);
  EXPECT_EQ(p.sub[0].pulseTrain, 1);
  EXPECT_EQ(p.sub[0].gainIndex, 84);
  EXPECT_EQ(p.sub[0].amplitudeIndex, 23);
  EXPECT_EQ(p.sub[1].pulseTrain, 0);
  EXPECT_EQ(p.sub[2].pulseTrain, 0);
  EXPECT_EQ(p.sub[2].gainIndex, (2048 + 5) / 24);
  EXPECT_EQ(p.sub[3].gainIndex, 169);

  c.gainWord[1] = 85 * 24;  // at the 85 limit
  p = Unpack(test_frames::PackActive(c, Rate::Rate63), type, rate);
  EXPECT_NE(p.erased, 0);

  c.gainWord[1] = 84 * 24;
  c.gainWord[3] = 170 * 24;  // at the 170 limit
  p = Unpack(test_frames::PackActive(c, Rate::Rate63), type, rate);
  EXPECT_NE(p.erased, 0);

  // The same short lag at 5.3 kbit/s: no pulse train, the 170 limit applies.
  c.gainWord[3] = 0;
  c.gainWord[0] = (1u << 11) | (10 * 24);
  p = Unpack(test_frames::PackActive(c, Rate::Rate53), type, rate);
  ASSERT_EQ(p.erased, 0);
  EXPECT_EQ(p.sub[0].pulseTrain, 0);
  EXPECT_EQ(p.sub[0].gainIndex, (2048 + 240) / 24);
}

}  // namespace

}  // namespace clipnote::speech
