// The whole pipeline: the streamed schedule against the schedule of every tick at once, the
// size budget, the check with our decoders and what is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

#include "authoring/message_pipeline.h"
#include "authoring/picture_schedule.h"
#include "resources/player_template.h"

namespace clipnote::authoring {
namespace {

// A source picture of w x h: a bright bar at x on a ramp.
struct Frame {
  int w, h;
  std::vector<uint8_t> y, cb, cr;
  Frame(int w_, int h_, double x) : w(w_), h(h_), y(size_t(w) * h), cb(size_t((w + 1) / 2) * ((h + 1) / 2), 128),
                                    cr(cb.size(), 128) {
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) y[size_t(r) * w + c] = std::abs(c - x) < w / 10.0 ? 230 : uint8_t(40 + (c * 100) / w);
    }
  }
  SourcePicture Picture() const { return {w, h, y, cb, cr, w, (w + 1) / 2, (w + 1) / 2}; }
};

// The bar's place at time t: still, then fast, then slow.
double BarAt(double t, int w) { return t < 0.5 ? w / 4.0 : t < 1.2 ? w / 4.0 + (t - 0.5) * w : w * 0.95 - (t - 1.2) * 4; }

std::vector<int16_t> Tone(double seconds, int rate, int channels) {
  std::vector<int16_t> s(size_t(seconds * rate) * channels);
  for (size_t i = 0; i < s.size(); ++i) {
    const double t = double(i / channels) / rate;
    s[i] = int16_t((std::fmod(t, 1.0) < 0.6 ? 8000 : 30) * std::sin(2 * std::numbers::pi * 300 * t));
  }
  return s;
}

struct StreamCase {
  double fps;
  int frames;
  double soundSeconds;  // 0: a message without sound
  bool beside = false;  // the speech made on a second thread: the same bytes as in turn
};

class Streamed : public testing::TestWithParam<StreamCase> {};

// The schedule decided a few ticks behind the newest picture is the one the whole recording
// at once would get, and both clips decode as planned.
AuthoredMessage StreamedMessage(const StreamCase& c, bool beside, TickGrid* grid) {
  MessageSettings settings;
  settings.speech = c.soundSeconds > 0;
  if (beside) {
    settings.runBeside = [](std::function<void()> task) {
      auto worker = std::make_shared<std::thread>(std::move(task));
      return std::function<void()>([worker] { worker->join(); });
    };
  }
  MessagePipeline pipeline(settings);
  for (int i = 0; i < c.frames; ++i) {
    const double t = i / c.fps;
    const Frame frame(160, 120, BarAt(t, 160));
    EXPECT_TRUE(pipeline.AddPicture(t, frame.Picture()));
    QcifPicture q;
    EXPECT_TRUE(Letterbox(frame.Picture(), q));
    if (grid != nullptr) grid->Add(t, q);
  }
  if (settings.speech) {
    EXPECT_TRUE(pipeline.AddSound(Tone(c.soundSeconds, 44100, 2), 2, 44100));
  }
  AuthoredMessage out;
  std::string reason;
  EXPECT_TRUE(pipeline.Finish(out, reason)) << reason;
  return out;
}

TEST_P(Streamed, ScheduleIsTheWholeRecordingsSchedule) {
  const StreamCase c = GetParam();
  MessageSettings settings;
  settings.speech = c.soundSeconds > 0;
  TickGrid grid;
  const AuthoredMessage out = StreamedMessage(c, c.beside, &grid);
  ASSERT_FALSE(out.ticks.empty());
  std::string reason;
  if (c.beside) {
    const AuthoredMessage inTurn = StreamedMessage(c, false, nullptr);
    EXPECT_EQ(out.movie, inTurn.movie);
    EXPECT_EQ(out.voice, inTurn.voice);
    EXPECT_EQ(out.activeFrames, inTurn.activeFrames);
  }

  std::vector<std::vector<uint8_t>> analysis;
  for (const QcifPicture& q : grid.Frames()) analysis.push_back(AnalysisFrame(q.y));
  const double seconds = std::max(grid.Frames().size() / 30.0, c.soundSeconds);
  const int speechFrames = int(std::ceil(seconds / 0.03 - 1e-6));
  const int lastTick = settings.speech ? std::max(2, (speechFrames * 9 + 9) / 10)
                                       : std::max(2, int(std::ceil(seconds * 30 - 1e-6)));
  EXPECT_EQ(out.ticks, Schedule(FrameSpeeds(analysis), lastTick));
  EXPECT_TRUE(CheckClips(out.movie, out.ticks, out.voice, reason)) << reason;
  EXPECT_EQ(out.speechFrames, settings.speech ? speechFrames : 0);
  EXPECT_TRUE(out.executable.empty());  // no template, no executable
}

INSTANTIATE_TEST_SUITE_P(Recordings, Streamed,
                         testing::Values(StreamCase{30, 90, 0}, StreamCase{25, 50, 0}, StreamCase{12, 37, 0},
                                         StreamCase{60, 130, 0}, StreamCase{30, 1, 0}, StreamCase{30, 9, 0},
                                         StreamCase{30, 10, 0}, StreamCase{30, 17, 0},
                                         StreamCase{30, 30, 2.5},    // the speech is longer: the last picture held
                                         StreamCase{24, 60, 1.0},    // the pictures are longer
                                         StreamCase{30, 30, 2.5, true}, StreamCase{24, 60, 1.0, true},
                                         StreamCase{30, 90, 0, true}));

TEST(Pipeline, RefusesWhatMakesNoMessage) {
  const Frame frame(64, 48, 10);
  std::string reason;
  {
    MessagePipeline p({});
    AuthoredMessage out;
    EXPECT_FALSE(p.Finish(out, reason));
    EXPECT_EQ(reason, "no pictures");
  }
  {
    MessagePipeline p({});
    ASSERT_TRUE(p.AddPicture(0, frame.Picture()));
    AuthoredMessage out;
    EXPECT_FALSE(p.Finish(out, reason));
    EXPECT_EQ(reason, "no sound");
  }
  {
    MessagePipeline p({});
    ASSERT_TRUE(p.AddPicture(0, frame.Picture()));
    const std::vector<int16_t> quiet(8000 * 301, 0);
    ASSERT_TRUE(p.AddSound(quiet, 1, 8000));
    EXPECT_FALSE(p.AddSound(quiet, 2, 8000));   // another channel count
    EXPECT_FALSE(p.AddSound(quiet, 1, 16000));  // another rate
    AuthoredMessage out;
    EXPECT_FALSE(p.Finish(out, reason));
    EXPECT_NE(reason.find("up to 300 s"), std::string::npos) << reason;
  }
  {
    MessagePipeline p({});
    SourcePicture cut = frame.Picture();
    cut.y = cut.y.first(100);
    EXPECT_FALSE(p.AddPicture(0, cut));
    EXPECT_EQ(p.PictureSeconds(), 0);
  }
  {
    MessageSettings budget;
    budget.maxBytes = 100000;  // without the player there is nothing to fit
    MessagePipeline p(budget);
    ASSERT_TRUE(p.AddPicture(0, frame.Picture()));
    ASSERT_TRUE(p.AddSound(Tone(1, 8000, 1), 1, 8000));
    AuthoredMessage out;
    EXPECT_FALSE(p.Finish(out, reason));
  }
}

TEST(Pipeline, TheCheckRefusesDamagedClips) {
  MessageSettings settings;
  MessagePipeline p(settings);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(p.AddPicture(i / 10.0, Frame(96, 64, 10 + i * 3).Picture()));
  ASSERT_TRUE(p.AddSound(Tone(2, 8000, 1), 1, 8000));
  AuthoredMessage out;
  std::string reason;
  ASSERT_TRUE(p.Finish(out, reason)) << reason;
  ASSERT_TRUE(CheckClips(out.movie, out.ticks, out.voice, reason)) << reason;
  std::vector<int> shifted = out.ticks;
  shifted.back() += 2;
  EXPECT_FALSE(CheckClips(out.movie, shifted, out.voice, reason));
  std::vector<uint8_t> cut = out.movie;
  cut.resize(cut.size() / 2);
  EXPECT_FALSE(CheckClips(cut, out.ticks, out.voice, reason));
  std::vector<uint8_t> voice = out.voice;
  voice.push_back(0);  // a last frame cut short
  EXPECT_FALSE(CheckClips(out.movie, out.ticks, voice, reason)) << reason;
  EXPECT_FALSE(CheckClips(out.movie, out.ticks, std::vector<uint8_t>{1, 2}, reason));
}

// Ten seconds of motion and speech, into the player under a budget: long enough that the
// speech rate moves the executable by more than the writer's alignment.
bool Budgeted(int64_t maxBytes, AuthoredMessage& out, std::string& reason) {
  MessageSettings settings;
  settings.maxBytes = maxBytes;
  const auto player = PlayerTemplate();
  settings.playerTemplate.assign(player.begin(), player.end());
  MessagePipeline p(settings);
  for (int i = 0; i < 150; ++i) p.AddPicture(i / 15.0, Frame(160, 120, BarAt(i / 15.0, 160)).Picture());
  p.AddSound(Tone(10, 16000, 1), 1, 16000);
  return p.Finish(out, reason);
}

TEST(Pipeline, BudgetChoosesQuantiserSpacingAndRateOrSaysWhatItNeeds) {
  AuthoredMessage free;
  std::string reason;
  ASSERT_TRUE(Budgeted(int64_t{1} << 40, free, reason)) << reason;
  EXPECT_EQ(free.quantiser, 2);  // room for the finest
  EXPECT_EQ(free.rate, SpeechRate::k63);
  AuthoredMessage none;
  ASSERT_FALSE(Budgeted(1, none, reason));
  const size_t at = reason.find("needs at least ");
  ASSERT_NE(at, std::string::npos) << reason;
  const int64_t need = std::stoll(reason.substr(at + 15));
  // Exactly what it said it needs, and not a byte less: coarse pictures, 5.3 kbit/s speech.
  AuthoredMessage smallest;
  ASSERT_TRUE(Budgeted(need, smallest, reason)) << reason;
  EXPECT_EQ(int64_t(smallest.executable.size()), need);
  EXPECT_EQ(smallest.rate, SpeechRate::k53);
  EXPECT_GT(smallest.quantiser, 16);  // near the coarsest: the writer aligns sizes, so a few finer fit too
  EXPECT_FALSE(Budgeted(need - 1, none, reason));
  // Between the two: 6.3 kbit/s speech and all of it within the budget.
  const int64_t middle = (need + int64_t(free.executable.size())) / 2;
  AuthoredMessage fitted;
  ASSERT_TRUE(Budgeted(middle, fitted, reason)) << reason;
  EXPECT_LE(int64_t(fitted.executable.size()), middle);
  EXPECT_EQ(fitted.rate, SpeechRate::k63);
  EXPECT_TRUE(CheckClips(fitted.movie, fitted.ticks, fitted.voice, reason)) << reason;
}

struct CoarserCase {
  std::vector<int> ticks;
  int minGap;
  std::vector<int> expected;
};

class Coarser : public testing::TestWithParam<CoarserCase> {};

TEST_P(Coarser, LeavesPicturesOutKeepingAllowedGaps) {
  const CoarserCase c = GetParam();
  EXPECT_EQ(CoarserSchedule(c.ticks, c.minGap), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Schedules, Coarser,
                         testing::Values(CoarserCase{{0, 2, 4, 6, 8, 10, 12, 14, 16}, 4, {0, 4, 8, 12, 16}},
                                         CoarserCase{{0, 2, 4, 6, 8, 10, 12, 14, 16}, 8, {0, 8, 16}},
                                         CoarserCase{{0, 2, 5, 8}, 4, {0, 8}},       // 5 is no gap: on to 8
                                         CoarserCase{{0, 3, 6}, 8, {0, 3, 6}},       // nothing else reaches 6
                                         CoarserCase{{0, 2, 4, 6, 8, 10}, 8, {0, 8, 10}},
                                         CoarserCase{{0, 8, 16}, 4, {0, 8, 16}},
                                         CoarserCase{{0}, 4, {0}}, CoarserCase{{}, 4, {}}));

TEST(Pipeline, VoiceClipReservesAFramePerBytePlusOne) {
  const std::vector<uint8_t> frames(31, 0);
  const std::vector<uint8_t> clip = VoiceClipOf(frames);
  ASSERT_EQ(clip.size(), 35u);
  EXPECT_EQ(clip[0] | clip[1] << 8 | clip[2] << 16 | clip[3] << 24, 480 * 32);
  EXPECT_EQ(VoiceClipOf({}), (std::vector<uint8_t>{0xE0, 0x01, 0, 0}));
}

}  // namespace
}  // namespace clipnote::authoring
