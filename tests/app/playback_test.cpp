// Whole playbacks on the fake platform: the event protocol between the window,
// the preparation, video and audio threads, the pacing of the pictures, and
// how a playback starts, stops and ends by itself.

#include <algorithm>
#include <string>

#include "app/audio_track.h"
#include "app/display_box.h"
#include "player_harness.h"
#include "resources/resource_ids.h"

namespace clipnote::testing {
namespace {

class PlaybackTest : public PlayerTest {
 protected:
  // The preparation takes 10 ms of virtual time a frame, so the first
  // playback always starts before the speech is ready.
  PlaybackTest() { speech.pace = 10; }

  int Run(MessagePlayer& player) {
    const int result = RunPlayer(player);
    EXPECT_FALSE(fake.Deadlocked());
    EXPECT_EQ(fake.LiveThreads(), 0u);
    return result;
  }

  void CloseWhenIdle() {
    fake.WhenIdle([this] { fake.PostClose(); });
  }

  std::vector<int> DrawTimes() {
    std::vector<int> times;
    const auto draws = fake.Draws();
    for (const DrawRecord& draw : draws) times.push_back(static_cast<int>(draw.time - draws[0].time));
    return times;
  }

  std::vector<SoundRecord> SoundsOf(SoundRecord::Kind kind) {
    std::vector<SoundRecord> found;
    for (const SoundRecord& sound : fake.Sounds()) {
      if (sound.kind == kind) found.push_back(sound);
    }
    return found;
  }

  int CountCalls(const std::string& name) {
    const auto calls = fake.Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
  }

  bool NothingDrawnAfterCloseDisplay() {
    const auto calls = fake.Calls();
    const auto close = std::find(calls.begin(), calls.end(), "DrawDibClose");
    return close != calls.end() && std::find(close, calls.end(), "DrawDibDraw") == calls.end();
  }
};

TEST_F(PlaybackTest, FirstPlaybackReleasesSpeechWithPictureZeroAndPacesEveryPicture) {
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  EXPECT_EQ(Run(player), 0);

  // Start-up sound requested and cut at once, before the speech is ready.
  const auto sounds = fake.Sounds();
  ASSERT_GE(sounds.size(), 3u);
  EXPECT_EQ(sounds[0].kind, SoundRecord::kResource);
  EXPECT_EQ(sounds[0].resourceId, 150u);
  EXPECT_EQ(sounds[0].flags, kSndResource | kSndAsync);
  EXPECT_EQ(sounds[1].kind, SoundRecord::kStop);
  EXPECT_EQ(sounds[1].time, sounds[0].time);

  // The speech starts at the moment picture 0 is drawn, after the preparation.
  const auto speechPlayed = SoundsOf(SoundRecord::kMemory);
  ASSERT_EQ(speechPlayed.size(), 1u);
  const auto draws = fake.Draws();
  ASSERT_EQ(draws.size(), 4u);  // three pictures, the last shown again when decoding fails
  EXPECT_EQ(speechPlayed[0].time, draws[0].time);
  EXPECT_EQ(draws[0].time, 1000u + 4 * 10);
  EXPECT_EQ(speechPlayed[0].flags, kSndMemory);
  EXPECT_FALSE(speechPlayed[0].cut);
  ASSERT_EQ(speechPlayed[0].samples.size(), 4u * 480);
  EXPECT_EQ(speechPlayed[0].samples[3 * 480], 3);  // the decoder's own bytes

  EXPECT_EQ(DrawTimes(), (std::vector<int>{0, 66, 133, 133}));
  EXPECT_EQ(draws[1].imageHash, NativeHashOfPicture(1));
  EXPECT_EQ(draws[2].imageHash, NativeHashOfPicture(2));
  EXPECT_TRUE(player.audioReady);
  EXPECT_EQ(player.playing, 0);
  EXPECT_EQ(fake.Control(IDC_PLAY_BUTTON).text, "Play");
  EXPECT_TRUE(fake.Control(IDC_PLAY_BUTTON).enabled);
  EXPECT_TRUE(fake.Control(IDC_SIZE_BUTTON).enabled);
  EXPECT_TRUE(NothingDrawnAfterCloseDisplay());
  // Preparation 100, video 102, audio playback 103; above-normal for the first two.
  EXPECT_EQ(fake.ThreadExitCodes(), (std::vector<uint32_t>{100, 102, 103}));
  EXPECT_EQ(fake.ThreadPriorities(),
            (std::vector<int>{kThreadPriorityAboveNormal, kThreadPriorityAboveNormal,
                              kThreadPriorityNormal}));
}

TEST_F(PlaybackTest, PicturesStartWhenASoundOutputThatLagsIsHeard) {
  // A backend that knows its sound is heard 250 ms after release: picture 0
  // waits for it, and every later picture is paced from that moment.
  fake.SetSoundOutputDelay(250);
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  Run(player);
  const auto speechPlayed = SoundsOf(SoundRecord::kMemory);
  ASSERT_EQ(speechPlayed.size(), 1u);
  const auto draws = fake.Draws();
  ASSERT_EQ(draws.size(), 4u);
  EXPECT_EQ(draws[0].time, speechPlayed[0].time + 250);
  EXPECT_EQ(DrawTimes(), (std::vector<int>{0, 66, 133, 133}));
}

TEST_F(PlaybackTest, DecoderIsGivenTheClipSize) {
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  Run(player);
  EXPECT_EQ(video.clipSizeGiven, 1234u);
  // The image holds the prefix plus header and one spare frame.
  EXPECT_EQ(speech.areaGiven, 480u * 10 + 480);
  EXPECT_EQ(speech.codedBytesGiven, 40u);
}

TEST_F(PlaybackTest, DrawsEachPictureAtItsTargetWhateverTheGapAndWrap) {
  // Gaps 2, 3, 4, 8, the reference wrapping from 250 to 2 (8 ticks), and a
  // repeated reference (no step).
  video.SetPictures(Pictures({0, 2, 5, 9, 17, 250, 2, 2}));
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  Run(player);
  // Targets are counted from the first picture: ticks x 33.333333, truncated.
  EXPECT_EQ(DrawTimes(),
            (std::vector<int>{0, 66, 166, 299, 566, 8333, 8599, 8599, 8599}));
}

TEST(PlaybackClockWrap, PicturesAcrossTheWrapAreDrawnOnTime) {
  FakePlatform fake(0xFFFFFF00u);
  fake.SetResource("#263", "MOVIE", std::vector<uint8_t>(100, 0));
  fake.SetResource("#723", "VOICE", VoiceClipBytes(4800, 40));
  ScriptedVideo video(fake, Pictures({0, 4, 8, 12, 16}));
  ScriptedSpeech speech(4, 0);
  MessagePlayer player(fake, video, speech);
  fake.WhenIdle([&] { fake.PostClose(); });
  EXPECT_EQ(RunPlayer(player), 0);
  const auto draws = fake.Draws();
  ASSERT_EQ(draws.size(), 6u);
  const uint32_t start = draws[0].time;
  for (size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(draws[i].time - start, static_cast<uint32_t>(i * 4 * 33.333333)) << i;
  }
  EXPECT_LT(draws[4].time, start);  // the clock has wrapped meanwhile
}

TEST_F(PlaybackTest, LatePictureIsDecodedButNotDrawnAndTheNextOnTimeIsDrawn) {
  std::vector<ScriptedPicture> pictures = Pictures({0, 2, 4, 6});
  pictures[2].decodeMs = 100;  // done at 66 + 100, after its target 133
  video.SetPictures(pictures);
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  Run(player);

  const auto draws = fake.Draws();
  EXPECT_EQ(DrawTimes(), (std::vector<int>{0, 66, 199, 199}));  // 6 x 33.333333 = 199.99999
  ASSERT_GE(draws.size(), 3u);
  EXPECT_EQ(draws[2].imageHash, NativeHashOfPicture(3));
  EXPECT_EQ(video.decodes, 5);  // the late picture was still decoded
}

TEST_F(PlaybackTest, StopDuringSpeechCutsTheSoundAndNothingIsPosted) {
  video.SetPictures(Pictures({0, 2, 4, 6, 8, 10, 12}));
  speech.frames = 40;  // 1.2 s of speech
  MessagePlayer player(fake, video, speech);
  // The user presses Stop 80 ms after picture 0, while picture 2 is awaited.
  size_t callsBeforeStop = 0;
  fake.AfterDraw(1, [&] {
    fake.At(fake.Now() + 80, [&] {
      callsBeforeStop = fake.Calls().size();
      fake.Click(IDC_PLAY_BUTTON);
    });
  });
  CloseWhenIdle();
  Run(player);

  const auto speechPlayed = SoundsOf(SoundRecord::kMemory);
  ASSERT_EQ(speechPlayed.size(), 1u);
  EXPECT_TRUE(speechPlayed[0].cut);
  EXPECT_EQ(speechPlayed[0].playedMs, 80u);
  // The pacing wait in progress and its drawing ran to their end; the next
  // decode saw the stop.
  EXPECT_EQ(DrawTimes(), (std::vector<int>{0, 66, 133}));
  EXPECT_EQ(video.decodes, 4);
  EXPECT_EQ(CountCalls("PostMessageA"), 2);  // the start-up command and the close only
  EXPECT_EQ(fake.Control(IDC_PLAY_BUTTON).text, "Play");
  EXPECT_TRUE(fake.Control(IDC_PLAY_BUTTON).enabled);
  EXPECT_TRUE(fake.Control(IDC_SIZE_BUTTON).enabled);
  // Stop's order: prepAbortEvent (the first event made), the cut, stopEvent (the second).
  const auto calls = fake.Calls();
  const auto fromStop = calls.begin() + static_cast<long>(callsBeforeStop);
  const auto abort = std::find(fromStop, calls.end(), "SetEvent 1");
  const auto cut = std::find(abort, calls.end(), "PlaySoundA");
  const auto stop = std::find(fromStop, calls.end(), "SetEvent 2");
  ASSERT_NE(stop, calls.end());
  EXPECT_LT(abort, cut);
  EXPECT_LT(cut, stop) << "stopEvent was set before the sound was cut";
}

TEST_F(PlaybackTest, ReplayStartsAtOnceWithoutStartupSoundOrNewPreparation) {
  MessagePlayer player(fake, video, speech);
  fake.WhenIdle([&] { fake.Click(IDC_PLAY_BUTTON); });
  CloseWhenIdle();
  Run(player);

  EXPECT_EQ(video.inits, 2);
  EXPECT_EQ(speech.runs, 1);
  EXPECT_EQ(SoundsOf(SoundRecord::kResource).size(), 1u);
  const auto speechPlayed = SoundsOf(SoundRecord::kMemory);
  ASSERT_EQ(speechPlayed.size(), 2u);
  const auto draws = fake.Draws();
  ASSERT_EQ(draws.size(), 8u);
  EXPECT_EQ(speechPlayed[1].time, draws[4].time);
  EXPECT_EQ(draws[7].time - draws[4].time, 133u);
  EXPECT_EQ(fake.ThreadExitCodes(), (std::vector<uint32_t>{100, 102, 103, 102, 103}));
}

TEST_F(PlaybackTest, SizeSwitchReplaysDoubledFromTheOriginAndBack) {
  MessagePlayer player(fake, video, speech);
  size_t movesBeforeSwitch = 0;
  fake.WhenIdle([&] {
    movesBeforeSwitch = fake.Moves().size();
    fake.Click(IDC_SIZE_BUTTON);
  });
  WindowState labelWhileDoubled;
  fake.WhenIdle([&] {
    labelWhileDoubled = fake.Control(IDC_SIZE_BUTTON);
    fake.Click(IDC_SIZE_BUTTON);
  });
  CloseWhenIdle();
  Run(player);

  EXPECT_EQ(labelWhileDoubled.text, "QCIF");
  EXPECT_EQ(fake.Control(IDC_SIZE_BUTTON).text, "CIF");
  EXPECT_EQ(player.nativeSize, 1);

  // The switch parks the frame and the maker's text and shows the waiting text.
  const auto moves = fake.Moves();
  ASSERT_GE(moves.size(), movesBeforeSwitch + 3);
  EXPECT_EQ(moves[movesBeforeSwitch].controlId, IDC_VIDEO_FRAME);
  EXPECT_EQ((std::vector<int>{moves[movesBeforeSwitch].x, moves[movesBeforeSwitch].y}),
            (std::vector<int>{380, 57}));
  EXPECT_TRUE(moves[movesBeforeSwitch].repaint);
  EXPECT_EQ(moves[movesBeforeSwitch + 1].controlId, IDC_MAKER_TEXT);
  EXPECT_EQ(moves[movesBeforeSwitch + 1].x, 456);
  EXPECT_EQ(moves[movesBeforeSwitch + 2].controlId, IDC_WAIT_TEXT);
  EXPECT_EQ((std::vector<int>{moves[movesBeforeSwitch + 2].x, moves[movesBeforeSwitch + 2].y,
                              moves[movesBeforeSwitch + 2].width,
                              moves[movesBeforeSwitch + 2].height}),
            (std::vector<int>{98, 120, 154, 28}));
  EXPECT_EQ(fake.Control(IDC_WAIT_TEXT).text, "One moment please ...");

  const auto draws = fake.Draws();
  ASSERT_EQ(draws.size(), 12u);
  // First playback native, centred 20 pixels above the middle of the client area.
  EXPECT_EQ((std::vector<int>{draws[0].x, draws[0].y, draws[0].sourceWidth, draws[0].sourceHeight}),
            (std::vector<int>{350 / 2 - 88, 316 / 2 - 92, 176, 144}));
  // Second playback doubled, from the client origin.
  for (size_t i = 4; i < 8; ++i) {
    EXPECT_EQ((std::vector<int>{draws[i].x, draws[i].y, draws[i].sourceWidth,
                                draws[i].sourceHeight, draws[i].headerWidth,
                                draws[i].headerHeight}),
              (std::vector<int>{0, 0, 352, 288, 352, 288}));
    EXPECT_EQ(draws[i].destWidth, -1);
    EXPECT_EQ(draws[i].flags, kDdfSameHdc | kDdfSameDraw);
  }
  EXPECT_EQ(draws[5].imageHash, DoubledHashOfPicture(1));
  // Third playback native again.
  EXPECT_EQ(draws[8].sourceWidth, 176);
  EXPECT_EQ(draws[8].headerHeight, 144);
}

TEST_F(PlaybackTest, CloseDuringTheFirstDecodingAbandonsItAndEndsEveryThreadFirst) {
  speech.frames = 100;
  speech.onFrame = [&](uint32_t frame) {
    if (frame == 3) fake.PostClose();
  };
  MessagePlayer player(fake, video, speech);
  EXPECT_EQ(Run(player), 0);

  EXPECT_EQ(speech.framesDecoded, 4u);  // abandoned at the next frame
  EXPECT_FALSE(player.audioReady);
  EXPECT_TRUE(SoundsOf(SoundRecord::kMemory).empty());  // no speech after the stop
  EXPECT_TRUE(fake.Draws().empty());                    // nor a picture
  EXPECT_EQ(video.inits, 0);
  EXPECT_EQ(fake.ThreadExitCodes(), (std::vector<uint32_t>{100, 102, 103}));
  EXPECT_TRUE(NothingDrawnAfterCloseDisplay());
  // Every thread had ended before the display went (and the buffers after it).
  const auto calls = fake.Calls();
  EXPECT_EQ(calls.back(), "EndDialog");
}

TEST_F(PlaybackTest, CloseAtTheVeryStartOfThePreparationEndsCleanly) {
  speech.frames = 100;
  MessagePlayer player(fake, video, speech);
  speech.onFrame = [&](uint32_t frame) {
    if (frame == 0) fake.PostClose();
  };
  EXPECT_EQ(Run(player), 0);
  EXPECT_LE(speech.framesDecoded, 2u);
  EXPECT_FALSE(player.audioReady);
  EXPECT_TRUE(NothingDrawnAfterCloseDisplay());
}

TEST_F(PlaybackTest, CloseWhilePictureZeroIsDecodedKeepsTheSpeechFromStarting) {
  MessagePlayer player(fake, video, speech);
  // The speech is ready; the window closes while the first picture is decoded.
  video.onDecode = [&](size_t picture) {
    if (picture != 0) return;
    fake.PostClose();
    fake.WaitForSingleObject(player.events.stopEvent, kInfinite);
  };
  EXPECT_EQ(Run(player), 0);

  EXPECT_TRUE(player.audioReady);
  EXPECT_TRUE(SoundsOf(SoundRecord::kMemory).empty());
  EXPECT_EQ(fake.Draws().size(), 1u);  // the picture being decoded still goes up
  EXPECT_EQ(video.decodes, 2);         // the next decode saw the stop
  EXPECT_TRUE(NothingDrawnAfterCloseDisplay());
  EXPECT_EQ(fake.ThreadExitCodes(), (std::vector<uint32_t>{100, 102, 103}));
}

TEST_F(PlaybackTest, AudioOnlyMessageEndsByItselfWhenTheSpeechHasPlayedOut) {
  fake.SetResource("#263", "MOVIE", {});
  // The prefix claims far more than the frames give: the end must not wait for it.
  fake.SetResource("#723", "VOICE", VoiceClipBytes(480 * 5000, 40));
  MessagePlayer player(fake, video, speech);
  // What the playback left once everything settled, before the window closes.
  int playingWhenSettled = -1;
  uint32_t settledAt = 0;
  int postsWhenSettled = 0;
  fake.WhenIdle([&] {
    playingWhenSettled = player.playing;
    settledAt = fake.Now();
    postsWhenSettled = CountCalls("PostMessageA");
    fake.PostClose();
  });
  EXPECT_EQ(Run(player), 0);

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  EXPECT_EQ(fake.MessageBoxes()[0].caption, "Audio only");
  const auto speechPlayed = SoundsOf(SoundRecord::kMemory);
  ASSERT_EQ(speechPlayed.size(), 1u);
  EXPECT_FALSE(speechPlayed[0].cut);
  EXPECT_EQ(speechPlayed[0].playedMs, 120u);
  // The end command was posted as the decoded speech ran out, and the
  // playback had ended by itself before any close.
  EXPECT_EQ(postsWhenSettled, 2);  // the start-up command and the end
  EXPECT_EQ(playingWhenSettled, 0);
  EXPECT_EQ(settledAt, speechPlayed[0].time + 120);
  EXPECT_TRUE(fake.Draws().empty());
  EXPECT_EQ(video.inits, 0);
  EXPECT_EQ(fake.Control(IDC_PLAY_BUTTON).text, "Play");
  EXPECT_FALSE(fake.Control(IDC_SIZE_BUTTON).enabled);  // never enabled without video
  EXPECT_EQ(fake.ThreadExitCodes(), (std::vector<uint32_t>{100, 103}));
}

TEST_F(PlaybackTest, AudioOnlyStopEarlyPostsNothing) {
  fake.SetResource("#263", "MOVIE", {});
  fake.SetResource("#723", "VOICE", VoiceClipBytes(480 * 100, 400));
  speech.frames = 100;  // 3 s of speech, ready at 2000
  MessagePlayer player(fake, video, speech);
  fake.At(1000 + 100 * 10 + 500, [&] { fake.Click(IDC_PLAY_BUTTON); });
  CloseWhenIdle();
  EXPECT_EQ(Run(player), 0);
  const auto speechPlayed = SoundsOf(SoundRecord::kMemory);
  ASSERT_EQ(speechPlayed.size(), 1u);
  EXPECT_TRUE(speechPlayed[0].cut);
  EXPECT_EQ(CountCalls("PostMessageA"), 2);
}

TEST_F(PlaybackTest, VideoOnlyMessagePlaysThePicturesAndEndsByItself) {
  fake.SetResource("#723", "VOICE", VoiceClipBytes(0, 0));
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  EXPECT_EQ(Run(player), 0);

  ASSERT_EQ(fake.MessageBoxes().size(), 1u);
  EXPECT_EQ(fake.MessageBoxes()[0].text, "This message contains video only!");
  EXPECT_EQ(fake.MessageBoxes()[0].caption, "Video only");
  EXPECT_EQ(fake.MessageBoxes()[0].owner, nullptr);
  EXPECT_EQ(player.audioAbsent, 1);
  EXPECT_EQ(speech.runs, 0);
  EXPECT_EQ(fake.Draws().size(), 4u);
  // The empty image is handed over and plays nothing.
  for (const SoundRecord& sound : SoundsOf(SoundRecord::kMemory)) EXPECT_TRUE(sound.samples.empty());
  // The image: header and one spare frame, zero data bytes.
  const uint8_t* image = player.wavImage;
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), 4), "RIFF");
  EXPECT_EQ(image[40] | image[41] << 8, 0);
}

TEST_F(PlaybackTest, EmptyMessageWarnsTwiceThenSaysSoAndCloses) {
  fake.SetResource("#263", "MOVIE", {});
  fake.SetResource("#723", "VOICE", VoiceClipBytes(0, 0));
  // The user reads each warning for a while, so the preparation (held by its
  // "Video only" box) always ends after the first Start has run: the empty
  // message is found only once the audio clip has been examined.
  fake.HoldMessageBoxes(100);
  MessagePlayer player(fake, video, speech);
  EXPECT_EQ(Run(player), 0);  // closes by itself

  std::vector<std::string> captions;
  for (const auto& box : fake.MessageBoxes()) captions.push_back(box.caption);
  EXPECT_EQ(captions,
            (std::vector<std::string>{"Audio only", "Video only", "No Video and No Audio"}));
  ASSERT_EQ(fake.MessageBoxes().size(), 3u);
  EXPECT_EQ(fake.MessageBoxes()[2].text, "This clip contains no information!");
  EXPECT_EQ(fake.MessageBoxes()[2].type, kMbIconWarning | kMbSetForeground);
  EXPECT_EQ(fake.MessageBoxes()[2].owner, nullptr);
}

TEST_F(PlaybackTest, EndOfSequenceCodeEndsThePlayback) {
  std::vector<ScriptedPicture> pictures = Pictures({0, 2, 4, 6, 8});
  pictures[2].endOfSequence = true;
  video.SetPictures(pictures);
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  Run(player);
  // The iteration that met the code is still paced and drawn; nothing is decoded after it.
  EXPECT_EQ(DrawTimes(), (std::vector<int>{0, 66, 133}));
  EXPECT_EQ(video.decodes, 3);
}

TEST_F(PlaybackTest, FailedFirstDecodeShowsOnePictureAndCutsTheSpeech) {
  video.SetPictures({});
  speech.frames = 40;
  MessagePlayer player(fake, video, speech);
  CloseWhenIdle();
  Run(player);

  EXPECT_EQ(fake.Draws().size(), 1u);
  EXPECT_EQ(video.decodes, 1);
  // The speech, if it started at all before the stop, was cut at once or at
  // the next re-cut; it never played out.
  for (const SoundRecord& sound : SoundsOf(SoundRecord::kMemory)) {
    EXPECT_TRUE(sound.cut);
    EXPECT_LE(sound.playedMs, 50u);
  }
  EXPECT_EQ(fake.Control(IDC_PLAY_BUTTON).text, "Play");
}

TEST_F(PlaybackTest, UserStopRacingTheLastPictureNeverReplays) {
  video.SetPictures(Pictures({0, 2, 4}));
  MessagePlayer player(fake, video, speech);
  // The click comes at the last picture's time, just as the pictures run out.
  fake.AfterDraw(1, [&] { fake.At(fake.Now() + 133, [&] { fake.Click(IDC_PLAY_BUTTON); }); });
  CloseWhenIdle();
  Run(player);
  EXPECT_EQ(video.inits, 1);
  EXPECT_EQ(player.playing, 0);
}

TEST_F(PlaybackTest, LateEndOfPlaybackCommandIsIgnoredWhileIdle) {
  MessagePlayer player(fake, video, speech);
  fake.WhenIdle([&] {
    fake.PostMessageA(fake.DialogWindow(), kWmCommand,
                      MakeCommand(kPlayCommand, kPlaybackEndedNotification), 0);
  });
  CloseWhenIdle();
  Run(player);
  EXPECT_EQ(video.inits, 1);
}

TEST_F(PlaybackTest, EscapeAndUnknownCommandsDoNothing) {
  MessagePlayer player(fake, video, speech);
  size_t callsBefore = 0;
  fake.WhenIdle([&] {
    callsBefore = fake.Calls().size();
    fake.PostMessageA(fake.DialogWindow(), kWmCommand, kIdCancel, 0);
    fake.PostMessageA(fake.DialogWindow(), kWmCommand, 4321, 0);
  });
  size_t callsAfter = 0;
  fake.WhenIdle([&] {
    callsAfter = fake.Calls().size();
    fake.PostClose();
  });
  Run(player);
  EXPECT_EQ(callsAfter, callsBefore + 2);  // just the two posts
  EXPECT_EQ(video.inits, 1);
}

TEST_F(PlaybackTest, PaletteMessagesRealiseAndRepaintOnlyWhenTheMappingChanged) {
  MessagePlayer player(fake, video, speech);
  int realisesBefore = 0;
  int invalidatesBefore = 0;
  fake.WhenIdle([&] {
    realisesBefore = CountCalls("DrawDibRealize");
    invalidatesBefore = CountCalls("InvalidateRect");
    fake.PostMessageA(fake.DialogWindow(), kWmQueryNewPalette, 0, 0);
    // Caused by the player window itself: ignored.
    fake.PostMessageA(fake.DialogWindow(), kWmPaletteChanged,
                      reinterpret_cast<uintptr_t>(fake.DialogWindow()), 0);
  });
  int realisesMiddle = 0;
  int invalidatesMiddle = 0;
  fake.WhenIdle([&] {
    realisesMiddle = CountCalls("DrawDibRealize");
    invalidatesMiddle = CountCalls("InvalidateRect");
    fake.SetRealizeResult(1);
    fake.PostMessageA(fake.DialogWindow(), kWmPaletteChanged, 0x99999, 0);
  });
  CloseWhenIdle();
  Run(player);

  EXPECT_EQ(realisesMiddle, realisesBefore + 1);
  EXPECT_EQ(invalidatesMiddle, invalidatesBefore);
  EXPECT_EQ(CountCalls("DrawDibRealize"), realisesMiddle + 1);
  // The change repaints the window (and that idle paint invalidates once more).
  EXPECT_GE(CountCalls("InvalidateRect"), invalidatesMiddle + 1);
}

// A playback thread that cannot be created ends the playback before anything
// is seen or heard, however long the report stays up.
TEST_F(PlaybackTest, ThreadThatCannotBeCreatedIsReportedAndNothingPlays) {
  for (const int failingCall : {2, 3}) {  // the first video thread, the first audio thread
    SCOPED_TRACE(failingCall);
    FakePlatform fake;
    fake.SetResource("#263", "MOVIE", std::vector<uint8_t>(1234, 0));
    fake.SetResource("#723", "VOICE", VoiceClipBytes(480 * 40, 400));
    fake.FailCreateThreadCall(failingCall);
    fake.HoldMessageBoxes(5000);
    ScriptedVideo video(fake, Pictures({0, 2, 4, 6, 8, 10}));
    ScriptedSpeech speech(40, 10);
    MessagePlayer player(fake, video, speech);
    fake.WhenIdle([&] { fake.PostClose(); });
    EXPECT_EQ(RunPlayer(player), 0);
    EXPECT_FALSE(fake.Deadlocked());
    EXPECT_EQ(fake.LiveThreads(), 0u);

    std::vector<std::string> captions;
    for (const auto& box : fake.MessageBoxes()) captions.push_back(box.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{"Thread Error"}));
    for (const SoundRecord& sound : fake.Sounds()) EXPECT_NE(sound.kind, SoundRecord::kMemory);
    EXPECT_TRUE(fake.Draws().empty());
    EXPECT_EQ(player.playing, 0);
    EXPECT_EQ(fake.Control(IDC_PLAY_BUTTON).text, "Play");
    EXPECT_TRUE(fake.Control(IDC_PLAY_BUTTON).enabled);
  }
}

// However soon the report of a thread that could not be created is dismissed,
// the speech preparation goes on (only closing the window abandons it): the
// next playback has all of its speech.
TEST_F(PlaybackTest, ThreadErrorDismissedAtOnceLeavesTheSpeechForTheNextPlayback) {
  for (const int failingCall : {2, 3}) {  // the first video thread, the first audio thread
    for (const uint32_t boxUpMs : {0u, 50u}) {  // the preparation takes 100 ms
      SCOPED_TRACE(::testing::Message() << "call " << failingCall << ", box up " << boxUpMs);
      FakePlatform fake;
      fake.SetResource("#263", "MOVIE", std::vector<uint8_t>(1234, 0));
      fake.SetResource("#723", "VOICE", VoiceClipBytes(480 * 10, 40));
      fake.FailCreateThreadCall(failingCall);
      fake.HoldMessageBoxes(boxUpMs);
      ScriptedVideo video(fake, Pictures({0, 2, 4, 6, 8, 10, 12}));
      ScriptedSpeech speech(10, 10);  // 300 ms of speech
      MessagePlayer player(fake, video, speech);
      fake.WhenIdle([&] { fake.Click(IDC_PLAY_BUTTON); });
      fake.WhenIdle([&] { fake.PostClose(); });
      EXPECT_EQ(RunPlayer(player), 0);
      EXPECT_FALSE(fake.Deadlocked());
      EXPECT_EQ(fake.LiveThreads(), 0u);

      EXPECT_TRUE(player.audioReady);
      EXPECT_EQ(speech.framesDecoded, 10u);
      std::vector<SoundRecord> speechPlayed;
      for (const SoundRecord& sound : fake.Sounds()) {
        if (sound.kind == SoundRecord::kMemory) speechPlayed.push_back(sound);
      }
      ASSERT_EQ(speechPlayed.size(), 1u);
      EXPECT_EQ(speechPlayed[0].samples.size(), 4800u);
      EXPECT_FALSE(speechPlayed[0].cut);
      ASSERT_FALSE(fake.Draws().empty());
      EXPECT_EQ(speechPlayed[0].time, fake.Draws()[0].time);  // released with picture 0
    }
  }
}

// A VOICE resource the system cannot find, load or lock is a start-up failure of the
// speech preparation: the report names the step and the system's text, the process
// ends with 0, and nothing is seen or heard.
TEST_F(PlaybackTest, SpeechResourceThatCannotBeHadIsReportedAndEndsTheProcess) {
  const struct {
    void (FakePlatform::*inject)(const std::string&);
    const char* text;
  } steps[] = {
      {&FakePlatform::FailFindResource, "Unable to find audio resource!"},
      {&FakePlatform::FailLoadResource, "Unable to load audio resource!"},
      {&FakePlatform::FailLockResource, "Unable to lock audio resource!"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.text);
    FakePlatform fake;
    fake.SetResource("#263", "MOVIE", std::vector<uint8_t>(1234, 0));
    fake.SetResource("#723", "VOICE", VoiceClipBytes(480 * 40, 400));
    fake.SetSystemText("The specified resource name cannot be found in the image file.\r\n");
    (fake.*step.inject)("VOICE");
    ScriptedVideo video(fake, Pictures({0, 2, 4}));
    ScriptedSpeech speech(40, 10);
    MessagePlayer player(fake, video, speech);
    RunPlayer(player);
    EXPECT_EQ(fake.ExitCode(), 0u);
    ASSERT_EQ(fake.MessageBoxes().size(), 1u);
    EXPECT_EQ(fake.MessageBoxes()[0].text,
              std::string(step.text) + "\nError: The specified resource name cannot be found in the image file.\r\n\n");
    EXPECT_EQ(fake.MessageBoxes()[0].caption, "Memory Allocation Error");
    for (const SoundRecord& sound : fake.Sounds()) EXPECT_NE(sound.kind, SoundRecord::kMemory);
    EXPECT_TRUE(fake.Draws().empty());
  }
}

// Stop cuts the sound and waits; a speech that its thread started just after
// that cut (it had checked for a stop a moment before) is cut again within
// the next 50 ms rather than played to its end.
TEST_F(PlaybackTest, SpeechStartedJustAfterTheStopsCutIsCutAgain) {
  video.SetPictures(Pictures({0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20}));
  speech.frames = 40;  // 1.2 s of speech
  MessagePlayer player(fake, video, speech);
  // Between its check for a stop and the sound call, the audio thread is held
  // up while the user presses Stop and the window thread makes its first cut.
  fake.BeforeMemorySound([&] {
    fake.Click(IDC_PLAY_BUTTON);
    fake.Sleep(1);
  });
  // (The button is enabled before the speech starts, so the click is taken.)
  CloseWhenIdle();
  Run(player);

  const auto speechPlayed = SoundsOf(SoundRecord::kMemory);
  ASSERT_EQ(speechPlayed.size(), 1u);
  EXPECT_TRUE(speechPlayed[0].cut);
  EXPECT_LE(speechPlayed[0].playedMs, 50u);
  EXPECT_EQ(fake.Control(IDC_PLAY_BUTTON).text, "Play");
}

TEST_F(PlaybackTest, WithoutAPreparationThreadThePicturesPlayAndStopWaitsForThem) {
  fake.FailCreateThreadCall(1);  // the preparation thread
  video.SetPictures(Pictures({0, 2, 4, 6, 8}));
  MessagePlayer player(fake, video, speech);
  // Stop 10 ms after picture 1, while picture 2 is awaited; Play 10 ms later,
  // before the stopped playback's video thread has seen the stop.
  fake.AfterDraw(2, [this] {
    const uint32_t now = fake.Now();
    fake.At(now + 10, [this] { fake.Click(IDC_PLAY_BUTTON); });
    fake.At(now + 20, [this] { fake.Click(IDC_PLAY_BUTTON); });
  });
  CloseWhenIdle();
  EXPECT_EQ(Run(player), 0);

  std::vector<std::string> captions;
  for (const auto& box : fake.MessageBoxes()) captions.push_back(box.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"Thread Error"}));
  EXPECT_EQ(speech.runs, 0);
  EXPECT_TRUE(SoundsOf(SoundRecord::kMemory).empty());
  // "Play" came back only once the video thread had ended, so the second click
  // found the button disabled and no playback ran beside the stopped one.
  EXPECT_EQ(DrawTimes(), (std::vector<int>{0, 66, 133}));
  EXPECT_EQ(video.inits, 1);
  EXPECT_EQ(fake.Control(IDC_PLAY_BUTTON).text, "Play");
}

}  // namespace
}  // namespace clipnote::testing
