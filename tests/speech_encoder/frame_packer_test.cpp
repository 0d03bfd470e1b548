// The encoder's bit packing against the decoder's unpacking: every field of every frame kind
// written and read back, at the ends of its range and at random valid values.

#include <gtest/gtest.h>

#include <random>

#include "audio/encoder/frame_packer.h"
#include "audio/excitation_tables.h"
#include "audio/frame_packer.h"

namespace clipnote::speech {

namespace {

void ExpectSameFields(const FrameParams& a, const FrameParams& b, FrameType type, Rate rate,
                      const char* name) {
  EXPECT_EQ(a.erased, 0) << name;
  if (type == FrameType::Untransmitted) return;
  EXPECT_EQ(a.lspIndex, b.lspIndex) << name;
  if (type == FrameType::Sid) {
    EXPECT_EQ(a.sub[0].amplitudeIndex, b.sub[0].amplitudeIndex) << name;
    return;
  }
  EXPECT_EQ(a.openLoopLag[0], b.openLoopLag[0]) << name;
  EXPECT_EQ(a.openLoopLag[1], b.openLoopLag[1]) << name;
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(a.sub[s].lagDelta, b.sub[s].lagDelta) << name << " subframe " << s;
    EXPECT_EQ(a.sub[s].gainIndex, b.sub[s].gainIndex) << name << " subframe " << s;
    EXPECT_EQ(a.sub[s].amplitudeIndex, b.sub[s].amplitudeIndex) << name << " subframe " << s;
    EXPECT_EQ(a.sub[s].grid, b.sub[s].grid) << name << " subframe " << s;
    EXPECT_EQ(a.sub[s].pulseTrain, b.sub[s].pulseTrain) << name << " subframe " << s;
    EXPECT_EQ(a.sub[s].positions, b.sub[s].positions) << name << " subframe " << s;
    EXPECT_EQ(a.sub[s].signs, b.sub[s].signs) << name << " subframe " << s;
  }
  (void)rate;
}

// Packs, checks the length and the kind bits, unpacks and compares every field.
void RoundTrip(const FrameParams& params, FrameType type, Rate rate, const char* name) {
  uint8_t frame[kMaxCodedFrameBytes];
  const int length = PackFrame(params, type, rate, frame);
  EXPECT_EQ(length, CodedFrameLength(frame[0])) << name;
  for (int i = length; i < kMaxCodedFrameBytes; ++i) EXPECT_EQ(frame[i], 0) << name << " byte " << i;
  FrameType unpackedType = FrameType::Active;
  Rate unpackedRate = rate == Rate::Rate63 ? Rate::Rate53 : Rate::Rate63;
  const FrameParams unpacked = UnpackFrame(frame, false, unpackedType, unpackedRate);
  EXPECT_EQ(unpackedType, type) << name;
  if (type == FrameType::Active) {
    EXPECT_EQ(unpackedRate, rate) << name;
  }
  ExpectSameFields(unpacked, params, type, rate, name);
}

// Active parameters with every field at the given corner: the smallest or the largest code
// each field can hold for the lags and rate.
FrameParams Corner(Rate rate, int lag0, int lag1, bool largest) {
  FrameParams p;
  p.lspIndex = largest ? 0xFFFFFF : 0;
  p.openLoopLag[0] = lag0;
  p.openLoopLag[1] = lag1;
  for (int s = 0; s < 4; ++s) {
    SubframeParams& sub = p.sub[s];
    const bool shortLag = rate == Rate::Rate63 && p.openLoopLag[s / 2] < 58;
    sub.lagDelta = s % 2 == 0 ? 1 : (largest ? 3 : 0);
    sub.gainIndex = largest ? (shortLag ? 84 : 169) : 0;
    sub.amplitudeIndex = largest ? 23 : 0;
    sub.grid = largest ? 1 : 0;
    sub.pulseTrain = shortLag && largest ? 1 : 0;
    if (rate == Rate::Rate63) {
      sub.positions = largest ? MaxPositionTable[s] - 1 : 0;
      sub.signs = largest ? (s % 2 == 0 ? 63 : 31) : 0;
    } else {
      sub.positions = largest ? 4095 : 0;
      sub.signs = largest ? 15 : 0;
    }
  }
  return p;
}

TEST(FramePacker, EveryFieldAtBothEndsOfItsRange) {
  struct Row {
    const char* name;
    Rate rate;
    int lag0, lag1;
  };
  const Row rows[] = {
      {"6.3 shortest lags", Rate::Rate63, 18, 18},
      {"6.3 lag 57 / 58", Rate::Rate63, 57, 58},
      {"6.3 lag 58 / 57", Rate::Rate63, 58, 57},
      {"6.3 longest lags", Rate::Rate63, 141, 141},
      {"5.3 shortest lags", Rate::Rate53, 18, 18},
      {"5.3 lag 57 / 141", Rate::Rate53, 57, 141},
  };
  for (const Row& row : rows) {
    for (bool largest : {false, true}) {
      RoundTrip(Corner(row.rate, row.lag0, row.lag1, largest), FrameType::Active, row.rate, row.name);
    }
  }
  for (int gain : {0, 1, 62, 63}) {
    FrameParams sid;
    sid.lspIndex = gain % 2 ? 0xFFFFFF : 0x123456;
    sid.sub[0].amplitudeIndex = gain;
    RoundTrip(sid, FrameType::Sid, Rate::Rate63, "SID");
  }
  RoundTrip(FrameParams{}, FrameType::Untransmitted, Rate::Rate53, "untransmitted");
}

// Random valid frames of both rates: the same fields come back, and the bytes are those of
// the tests' own independent packer.
TEST(FramePacker, RandomFramesMatchTheTestPacker) {
  std::mt19937 random(23);
  for (Rate rate : {Rate::Rate63, Rate::Rate53}) {
    for (int i = 0; i < 2000; ++i) {
      const test_frames::ActiveCodes codes = test_frames::RandomActiveCodes(random, rate);
      const std::vector<uint8_t> expected = test_frames::PackActive(codes, rate);
      uint8_t buffer[kMaxCodedFrameBytes] = {};
      std::copy(expected.begin(), expected.end(), buffer);
      FrameType type = FrameType::Active;
      Rate unpackedRate = rate;
      const FrameParams params = UnpackFrame(buffer, false, type, unpackedRate);
      ASSERT_EQ(params.erased, 0);
      uint8_t frame[kMaxCodedFrameBytes];
      const int length = PackFrame(params, FrameType::Active, rate, frame);
      ASSERT_EQ(length, static_cast<int>(expected.size()));
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frame)) << "frame " << i;
    }
  }
}

}  // namespace

}  // namespace clipnote::speech
