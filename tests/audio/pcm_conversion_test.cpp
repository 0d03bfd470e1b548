#include "audio/pcm_conversion.h"

#include <gtest/gtest.h>

#include <limits>

namespace clipnote::speech {

namespace {

TEST(PcmConversion, RoundsHalfAwayFromZeroClipsAndZeroesNan) {
  EXPECT_EQ(ToPcmSample(2.5f), 3);
  EXPECT_EQ(ToPcmSample(-2.5f), -3);
  EXPECT_EQ(ToPcmSample(0.49999997f), 0);
  EXPECT_EQ(ToPcmSample(32766.5f), 32767);
  EXPECT_EQ(ToPcmSample(1e9f), 32767);
  EXPECT_EQ(ToPcmSample(-32767.5f), -32768);
  EXPECT_EQ(ToPcmSample(-1e9f), -32768);
  EXPECT_EQ(ToPcmSample(std::numeric_limits<float>::quiet_NaN()), 0);
}

}  // namespace

}  // namespace clipnote::speech
