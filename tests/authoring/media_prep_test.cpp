// Letterboxing, the tick grid, speech at 8 kHz and what the encoders are handed.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "authoring/encoder_feed.h"
#include "authoring/letterbox.h"
#include "authoring/speech_pcm.h"

namespace clipnote::authoring {
namespace {

struct GeometryCase {
  int width, height;
  LetterboxGeometry expected;
};

class Geometry : public testing::TestWithParam<GeometryCase> {};

// Rows checked against the scale and pad filters make-message has always used.
TEST_P(Geometry, KeepsTheAspectCentredOnEvenOffsets) {
  const GeometryCase c = GetParam();
  const LetterboxGeometry g = LetterboxFor(c.width, c.height);
  EXPECT_EQ(g.x, c.expected.x);
  EXPECT_EQ(g.y, c.expected.y);
  EXPECT_EQ(g.width, c.expected.width);
  EXPECT_EQ(g.height, c.expected.height);
}

INSTANTIATE_TEST_SUITE_P(Sources, Geometry,
                         testing::Values(GeometryCase{176, 144, {0, 0, 176, 144}},
                                         GeometryCase{320, 240, {0, 6, 176, 132}},
                                         GeometryCase{1920, 1080, {0, 22, 176, 98}},
                                         GeometryCase{1080, 1920, {46, 0, 80, 144}},   // portrait
                                         GeometryCase{88, 72, {0, 0, 176, 144}},       // enlarged
                                         GeometryCase{1, 1, {16, 0, 144, 144}},
                                         GeometryCase{10000, 2, {0, 70, 176, 2}},
                                         GeometryCase{321, 241, {0, 6, 176, 132}},
                                         GeometryCase{0, 480, {0, 0, 0, 0}}));

struct Planes {
  int w, h;
  std::vector<uint8_t> y, cb, cr;
  Planes(int w_, int h_, uint8_t luma) : w(w_), h(h_), y(size_t(w) * h, luma),
      cb(size_t((w + 1) / 2) * ((h + 1) / 2), 90), cr(cb.size(), 200) {}
  SourcePicture Picture() const { return {w, h, y, cb, cr, w, (w + 1) / 2, (w + 1) / 2}; }
};

TEST(Letterbox, FlatPictureKeepsItsColoursInsideBlackBars) {
  const Planes source(321, 241, 180);  // odd sizes: chroma rounds up
  QcifPicture out;
  ASSERT_TRUE(Letterbox(source.Picture(), out));
  const LetterboxGeometry g = LetterboxFor(321, 241);
  EXPECT_EQ(out.y[0], 16);                                    // bar
  EXPECT_EQ(out.y[(g.y + g.height / 2) * 176 + 88], 180);     // picture, unchanged by the filter
  EXPECT_EQ(out.y[(g.y + g.height) * 176 + 88], 16);          // bar below
  EXPECT_EQ(out.cb[(g.y / 2 + 10) * 88 + 44], 90);
  EXPECT_EQ(out.cr[(g.y / 2 + 10) * 88 + 44], 200);
  EXPECT_EQ(out.cr[0], 128);
}

TEST(Letterbox, ShrinkingAveragesFineDetailInsteadOfAliasing) {
  Planes source(704, 576, 0);  // 4x QCIF: one-pixel stripes must become mid-grey
  for (int y = 0; y < 576; ++y) {
    for (int x = 0; x < 704; ++x) source.y[size_t(y) * 704 + x] = (x % 2) ? 240 : 16;
  }
  QcifPicture out;
  ASSERT_TRUE(Letterbox(source.Picture(), out));
  for (int x = 4; x < 172; x += 7) EXPECT_NEAR(out.y[72 * 176 + x], 128, 2) << x;
}

TEST(Letterbox, RefusesPlanesSmallerThanTheirSize) {
  Planes source(64, 48, 100);
  source.y.resize(64 * 47);
  QcifPicture out;
  out.y[0] = 7;
  EXPECT_FALSE(Letterbox(source.Picture(), out));
  EXPECT_EQ(out.y[0], 7);
}

QcifPicture Flat(uint8_t luma) {
  QcifPicture p;
  std::fill(p.y.begin(), p.y.end(), luma);
  return p;
}

TEST(TickGrid, PicturesFallOnTheNearestTickAndAreHeld) {
  TickGrid grid;
  // 25 Hz source: 0, 40, 80, 120 ms fall on ticks 0, 1, 2, 4; 12.5 Hz's gap is held.
  const double times[] = {0.0, 0.04, 0.08, 0.12, 0.2};
  for (int i = 0; i < 5; ++i) grid.Add(times[i], Flat(static_cast<uint8_t>(10 * (i + 1))));
  std::vector<int> luma;
  for (const QcifPicture& p : grid.Frames()) luma.push_back(p.y[0]);
  EXPECT_EQ(luma, (std::vector<int>{10, 20, 30, 30, 40, 40, 50}));
  // A first picture late in the stream stands for the ticks before it.
  TickGrid late;
  late.Add(0.1, Flat(99));
  EXPECT_EQ(late.Frames().size(), 4u);
  EXPECT_EQ(TickOf(-1.0), 0);
}

double ToneAmplitude(const std::vector<int16_t>& s, double hz) {
  double re = 0, im = 0;
  const size_t from = s.size() / 4, to = s.size() * 3 / 4;  // away from the edges
  for (size_t n = from; n < to; ++n) {
    re += s[n] * std::cos(2 * std::numbers::pi * hz * n / kSpeechRate);
    im += s[n] * std::sin(2 * std::numbers::pi * hz * n / kSpeechRate);
  }
  return 2 * std::hypot(re, im) / double(to - from);
}

struct RateCase {
  int rate, channels;
  double toneHz;
  double minAmplitude, maxAmplitude;  // of the tone at 8 kHz (input amplitude 10000)
};

class Resample : public testing::TestWithParam<RateCase> {};

// Speech passes at full level; what lies above 4 kHz is removed, not folded back.
TEST_P(Resample, PassesSpeechAndStopsWhatWouldAlias) {
  const RateCase c = GetParam();
  const int frames = c.rate;  // one second
  std::vector<int16_t> in;
  for (int n = 0; n < frames; ++n) {
    const double v = 10000 * std::sin(2 * std::numbers::pi * c.toneHz * n / c.rate);
    for (int ch = 0; ch < c.channels; ++ch) in.push_back(static_cast<int16_t>(std::lround(v)));
  }
  const std::vector<int16_t> out = ToSpeechRate(in, c.channels, c.rate);
  ASSERT_EQ(out.size(), 8000u);
  // Where a tone above 4 kHz would fold to.
  const double seen = c.toneHz < 4000 ? c.toneHz : 8000 - c.toneHz;
  const double amplitude = ToneAmplitude(out, seen);
  EXPECT_GE(amplitude, c.minAmplitude);
  EXPECT_LE(amplitude, c.maxAmplitude);
}

INSTANTIATE_TEST_SUITE_P(Rates, Resample,
                         testing::Values(RateCase{48000, 2, 1000, 9900, 10100},
                                         RateCase{44100, 1, 3000, 9900, 10100},
                                         RateCase{16000, 1, 440, 9900, 10100},
                                         RateCase{11025, 6, 2000, 9900, 10100},
                                         RateCase{8000, 1, 1000, 9990, 10010},
                                         RateCase{48000, 1, 5000, 0, 5},     // would fold to 3 kHz
                                         RateCase{44100, 2, 7000, 0, 5},     // would fold to 1 kHz
                                         RateCase{16000, 1, 4500, 0, 5}));

TEST(Resample, MixesChannelsAndRefusesNonsense) {
  const std::vector<int16_t> stereo = {1000, -1000, 3000, 1000};
  EXPECT_EQ(ToSpeechRate(stereo, 2, 8000), (std::vector<int16_t>{0, 2000}));
  EXPECT_TRUE(ToSpeechRate(stereo, 0, 8000).empty());
  EXPECT_TRUE(ToSpeechRate(stereo, 2, 0).empty());
  // Full-scale input clips rather than wrapping (away from the edges, which fade in).
  const std::vector<int16_t> loud(4800, 32767);
  const std::vector<int16_t> out = ToSpeechRate(loud, 1, 48000);
  for (size_t i = 20; i + 20 < out.size(); ++i) EXPECT_GT(out[i], 32000) << i;
}

TEST(Level, PeakGoesToMinusThreeDecibelsAndSilenceStays) {
  std::vector<int16_t> quiet = {0, 100, -200, 50};
  NormalisePeak(quiet);
  EXPECT_EQ(quiet, (std::vector<int16_t>{0, 11599, -23198, 5799}));
  std::vector<int16_t> silent(10, 0);
  NormalisePeak(silent);
  EXPECT_EQ(silent, std::vector<int16_t>(10, 0));
}

struct RecordingSinks : PictureSink, SpeechSink {
  std::vector<int> ticks, luma;
  std::vector<bool> first;
  std::vector<int16_t> lastFrame;
  int frames = 0;
  int stopAfter = 1000;
  bool Picture(int tick, const QcifPicture& p, bool isFirst) override {
    ticks.push_back(tick);
    luma.push_back(p.y[0]);
    first.push_back(isFirst);
    return int(ticks.size()) < stopAfter;
  }
  bool Frame(std::span<const int16_t, 240> s) override {
    lastFrame.assign(s.begin(), s.end());
    return ++frames < stopAfter;
  }
};

TEST(Feed, HandsScheduledPicturesAndWholeSpeechFrames) {
  const std::vector<QcifPicture> frames = {Flat(1), Flat(2), Flat(3)};
  const std::vector<int> ticks = {0, 2, 4};  // tick 4 is past the frames: the last is held
  RecordingSinks sinks;
  EXPECT_TRUE(FeedPictures(frames, ticks, sinks));
  EXPECT_EQ(sinks.ticks, ticks);
  EXPECT_EQ(sinks.luma, (std::vector<int>{1, 3, 3}));
  EXPECT_EQ(sinks.first, (std::vector<bool>{true, false, false}));

  const std::vector<int16_t> samples(500, 7);
  EXPECT_TRUE(FeedSpeech(samples, sinks));
  EXPECT_EQ(sinks.frames, 3);
  EXPECT_EQ(sinks.lastFrame[19], 7);
  EXPECT_EQ(sinks.lastFrame[20], 0);  // padded with silence

  RecordingSinks stopping;
  stopping.stopAfter = 1;
  EXPECT_FALSE(FeedPictures(frames, ticks, stopping));
  EXPECT_EQ(stopping.ticks.size(), 1u);
  EXPECT_FALSE(FeedPictures({}, ticks, stopping));
}

}  // namespace
}  // namespace clipnote::authoring
