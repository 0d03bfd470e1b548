// The player window's geometry: its size, its place on the desktop, its icon,
// and where each control sits in each state.

#include <map>

#include "player_harness.h"
#include "resources/resource_ids.h"

namespace clipnote::testing {
namespace {

using WindowLayoutTest = PlayerTest;

struct Place {
  int x, y, width, height;
  bool repaint;
  bool operator==(const Place&) const = default;
};

Place PlaceOf(const MoveRecord& move) {
  return {move.x, move.y, move.width, move.height, move.repaint};
}

// The moves of each control, in order.
std::map<int, std::vector<Place>> MovesByControl(const std::vector<MoveRecord>& moves) {
  std::map<int, std::vector<Place>> byControl;
  for (const MoveRecord& move : moves) byControl[move.controlId].push_back(PlaceOf(move));
  return byControl;
}

TEST_F(WindowLayoutTest, WindowIsSizedForTheLayoutCentredAndGivenItsIcon) {
  MessagePlayer player(fake, video, speech);
  fake.WhenIdle([&] { fake.PostClose(); });
  EXPECT_EQ(RunPlayer(player), 0);

  const auto moves = MovesByControl(fake.Moves());
  // 2 x border + 354 wide; 2 x border + caption + 317 high (border 1, caption 22).
  ASSERT_FALSE(moves.at(0).empty());
  EXPECT_EQ(moves.at(0)[0], (Place{0, 0, 356, 341, true}));
  // Centred on the 1024 x 768 desktop.
  const WindowState window = fake.Control(0);
  EXPECT_EQ(window.x, 512 - 356 / 2);
  EXPECT_EQ(window.y, 384 - 341 / 2);
  EXPECT_EQ(window.width, 356);
  EXPECT_EQ(player.clientRect.right, 350);
  EXPECT_EQ(player.clientRect.bottom, 316);

  const auto calls = fake.Calls();
  const auto icon = std::find(calls.begin(), calls.end(), "LoadIconA");
  ASSERT_NE(icon, calls.end());
  EXPECT_EQ(*(icon + 1), "SendMessageA");  // WM_SETICON right after loading icon 128
  // Hidden while laid out, shown after the display is open and the preparation started.
  const auto show = std::find(calls.begin(), calls.end(), "ShowWindow");
  const auto layout = std::find(calls.begin(), calls.end(), "MoveWindow");
  const auto showAgain = std::find(show + 1, calls.end(), "ShowWindow");
  const auto prep = std::find(calls.begin(), calls.end(), "CreateThread");
  EXPECT_LT(show, layout);
  EXPECT_LT(prep, showAgain);
}

TEST_F(WindowLayoutTest, ControlsTakeTheirPlacesInEveryState) {
  MessagePlayer player(fake, video, speech);
  size_t afterFirstPlayback = 0;
  fake.WhenIdle([&] {
    afterFirstPlayback = fake.Moves().size();
    fake.Click(IDC_SIZE_BUTTON);
  });
  fake.WhenIdle([&] { fake.PostClose(); });
  EXPECT_EQ(RunPlayer(player), 0);
  const std::vector<MoveRecord> all = fake.Moves();

  // Creation, then the first (idle) paint, then the native presentation's start.
  const std::vector<MoveRecord> first(all.begin(), all.begin() + afterFirstPlayback);
  const auto moves = MovesByControl(first);
  EXPECT_EQ(moves.at(IDC_PLAY_BUTTON), (std::vector<Place>{{0, 289, 44, 28, true}}));
  EXPECT_EQ(moves.at(IDC_SIZE_BUTTON), (std::vector<Place>{{45, 289, 44, 28, true}}));
  EXPECT_EQ(moves.at(IDC_LOGO), (std::vector<Place>{{90, 289, 260, 28, true}}));
  EXPECT_EQ(moves.at(IDC_VIDEO_FRAME),
            (std::vector<Place>{{380, 57, 190, 158, false},   // creation
                                {380, 57, 190, 158, false},   // idle paint
                                {80, 58, 190, 158, true}}));  // presentation, native
  EXPECT_EQ(moves.at(IDC_MAKER_TEXT),
            (std::vector<Place>{{58, 34, 238, 218, true},
                                {56, 34, 238, 218, true},
                                {456, 34, 238, 218, true}}));
  EXPECT_EQ(moves.at(IDC_WAIT_TEXT),
            (std::vector<Place>{{398, 120, 154, 28, false},
                                {398, 120, 154, 28, false},
                                {398, 120, 154, 28, false}}));

  // The size switch, then the doubled presentation's start: only the waiting
  // text moves back out.
  const std::vector<MoveRecord> second(all.begin() + afterFirstPlayback, all.end());
  const auto switched = MovesByControl(second);
  EXPECT_EQ(switched.at(IDC_VIDEO_FRAME), (std::vector<Place>{{380, 57, 190, 158, true}}));
  EXPECT_EQ(switched.at(IDC_MAKER_TEXT), (std::vector<Place>{{456, 34, 238, 218, true}}));
  EXPECT_EQ(switched.at(IDC_WAIT_TEXT),
            (std::vector<Place>{{98, 120, 154, 28, false}, {398, 120, 154, 28, false}}));
  EXPECT_EQ(switched.count(IDC_PLAY_BUTTON), 0u);
}

TEST_F(WindowLayoutTest, WhilePlayingOnlyStopIsEnabled) {
  MessagePlayer player(fake, video, speech);
  WindowState playDuring, sizeDuring;
  fake.AfterDraw(2, [&] {
    playDuring = fake.Control(IDC_PLAY_BUTTON);
    sizeDuring = fake.Control(IDC_SIZE_BUTTON);
  });
  fake.WhenIdle([&] { fake.PostClose(); });
  EXPECT_EQ(RunPlayer(player), 0);
  EXPECT_EQ(playDuring.text, "Stop");
  EXPECT_TRUE(playDuring.enabled);
  EXPECT_FALSE(sizeDuring.enabled);
}

}  // namespace
}  // namespace clipnote::testing
