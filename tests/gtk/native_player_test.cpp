// The native player end to end, on a private X server: what a user sees and
// hears, and how the program ends. Pictures are compared pixel for pixel with
// our own decode of the same clip converted for display; the sound is caught
// by an ALSA `file` device and compared sample for sample with our own decode
// of the speech.
#ifdef CLIPNOTE_HAVE_PLAYER

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "app/media_decoders.h"
#include "gtk/x_session.h"
#include "platform/gtk/dib_images.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/native_windows.h"
#include "message/pe_builder.h"
#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"
#include "video/recon/decoder_buffers.h"

using namespace clipnote::h263;

namespace clipnote::gtk::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kTitle[] = "Tarvany Clipnote Player";
const std::string kPlayer = CLIPNOTE_BINARY_DIR "/platform/gtk/clipnote";
const std::string kTestPlayer = CLIPNOTE_BINARY_DIR "/tests/gtk/clipnote_test_player";
const fs::path kResources = CLIPNOTE_SOURCE_DIR "/resources";
#ifdef CLIPNOTE_WIN32_EXE
const fs::path kWindowsPlayer = CLIPNOTE_WIN32_EXE;
#endif

// The client area the player lays itself out for, and where its controls are.
constexpr int kClientWidth = 350;
constexpr int kClientHeight = 316;
constexpr int kPlayX = 22, kSizeX = 67, kButtonY = 303;

std::vector<uint8_t> ReadBytes(const fs::path& path) { return support::ReadFile(path); }
void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) { support::WriteFile(path, bytes); }

// The same pictures with temporal references `step` ticks apart, so that each
// stays on the screen long enough to be looked at and the playback lasts.
std::vector<uint8_t> SpreadPictures(std::vector<uint8_t> clip, int step) {
  int picture = 0;
  for (size_t i = 0; i + 3 < clip.size(); ++i) {
    // Picture start codes are byte-aligned in these clips: 22 bits
    // 0000 0000 0000 0000 1000 00, then the 8-bit temporal reference.
    if (clip[i] == 0 && clip[i + 1] == 0 && (clip[i + 2] & 0xFC) == 0x80) {
      const int reference = (picture++ * step) & 0xFF;
      clip[i + 2] = static_cast<uint8_t>((clip[i + 2] & 0xFC) | reference >> 6);
      clip[i + 3] = static_cast<uint8_t>((clip[i + 3] & 0x03) | (reference & 0x3F) << 2);
    }
  }
  return clip;
}

// Only the first picture of the clip: the playback ends right after it.
std::vector<uint8_t> FirstPictureOnly(const std::vector<uint8_t>& clip) {
  for (size_t i = 1; i + 2 < clip.size(); ++i) {
    if (clip[i] == 0 && clip[i + 1] == 0 && (clip[i + 2] & 0xFC) == 0x80) {
      return {clip.begin(), clip.begin() + static_cast<long>(i)};
    }
  }
  return clip;
}

// Picture `index` of the clip as the player shows it: 0xRRGGBB, top row
// first, at native size or doubled.
std::vector<uint32_t> DecodedPicture(const std::vector<uint8_t>& clip, int index, bool doubled) {
  static VideoDecoderBuffers buffers;
  BuildColourTables();
  StartVideoClip(buffers, clip.data(), clip.size());
  ProbePictureFormat();
  for (int i = 0; i <= index; ++i) DecodePicture();
  std::vector<uint8_t> native(176 * 144 * 3), twice(352 * 288 * 3);
  ConvertToBgr24(buffers.currentPicture.data(), native.data(), 144, 176);
  DoubleBgr24(native.data(), twice.data(), 176, 144);
  const int width = doubled ? 352 : 176, height = doubled ? 288 : 144;
  const std::vector<uint8_t>& image = doubled ? twice : native;
  std::vector<uint32_t> pixels;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &image[static_cast<size_t>(height - 1 - y) * width * 3];
    for (int x = 0; x < width; ++x) {
      pixels.push_back(static_cast<uint32_t>(row[3 * x + 2]) << 16 | row[3 * x + 1] << 8 |
                       row[3 * x]);
    }
  }
  return pixels;
}

// Only the part of a picture that lies inside the client area is seen.
std::vector<uint32_t> Cropped(const std::vector<uint32_t>& pixels, int width, int visibleWidth,
                              int visibleHeight) {
  std::vector<uint32_t> out;
  for (int y = 0; y < visibleHeight; ++y) {
    for (int x = 0; x < visibleWidth; ++x) out.push_back(pixels[static_cast<size_t>(y) * width + x]);
  }
  return out;
}

class NativePlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.Start()) {
      CLIPNOTE_SKIP_UNLESS_CI("no Xvfb to show the player on");
    }
    x_ = std::make_unique<XClient>(server_.Name());
    ASSERT_TRUE(x_->Connected());
    dir_ = support::ScratchDir();
    fs::create_directories(dir_ / "home");
    capture_ = dir_ / "played.raw";
    opens_ = dir_ / "opens";
    // Everything the player plays is appended to one file, sound after sound,
    // and every sound the player starts adds a line to another.
    support::WriteText(dir_ / "home" / ".asoundrc",
                       "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"|echo sound >> " + opens_.string() +
                           "; cat >> " + capture_.string() + "\"\n  format \"raw\"\n}\n");
    clip_ = SpreadPictures(ReadBytes(kResources / "message.263"), 60);
    WriteBytes(dir_ / "movie.263", clip_);
  }

  void TearDown() override { players_.clear(); }

  Program& Start(const std::string& path, std::map<std::string, std::string> extra = {},
                 const std::vector<std::string>& arguments = {}) {
    std::map<std::string, std::string> environment{{"DISPLAY", server_.Name()},
                                                   {"HOME", (dir_ / "home").string()},
                                                   {"XDG_RUNTIME_DIR", dir_.string()},
                                                   {"NO_AT_BRIDGE", "1"},
                                                   // GTK keeps what it allocates until the
                                                   // process ends; that is no leak to report.
                                                   {"ASAN_OPTIONS", "detect_leaks=0"}};
    environment.insert(extra.begin(), extra.end());
    std::vector<std::string> command{path};
    command.insert(command.end(), arguments.begin(), arguments.end());
    players_.push_back(std::make_unique<Program>(command, environment));
    return *players_.back();
  }

  Program& StartSpreadClip() {
    return Start(kTestPlayer, {{"CLIPNOTE_TEST_MOVIE", (dir_ / "movie.263").string()}});
  }

  std::vector<uint32_t> NativePictureArea(Window window) {
    return x_->Grab(window, kClientWidth / 2 - 88, kClientHeight / 2 - 92, 176, 144);
  }
  std::vector<uint32_t> DoubledPictureArea(Window window) {
    return x_->Grab(window, 0, 0, kClientWidth, 288);
  }

  XvfbServer server_;
  std::unique_ptr<XClient> x_;
  fs::path dir_;
  fs::path capture_;
  fs::path opens_;
  std::vector<uint8_t> clip_;
  std::vector<std::unique_ptr<Program>> players_;
};

TEST_F(NativePlayerTest, OpensItsTitledWindowCentredWithTheWin32ClientSize) {
  Program& player = Start(kPlayer);
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window) << "no window titled " << kTitle;
  const auto geometry = x_->GeometryOf(*window);
  ASSERT_TRUE(geometry);
  EXPECT_EQ(geometry->width, kClientWidth);
  EXPECT_EQ(geometry->height, kClientHeight);
  // Centred as the player centres its window rectangle on the 1024 x 768 screen.
  const int windowWidth = kClientWidth + 2 * kFrameSide;
  const int windowHeight = kClientHeight + kFrameTop + kFrameBottom;
  EXPECT_EQ(geometry->rootX, 1024 / 2 - windowWidth / 2 + kFrameSide);
  EXPECT_EQ(geometry->rootY, 768 / 2 - windowHeight / 2 + kFrameTop);

  // The icon the player sets: _NET_WM_ICON holds width, height, pixels for
  // each size; the first is one of the two sizes of the icon resource.
  const auto icon = x_->Property32(*window, "_NET_WM_ICON");
  ASSERT_GE(icon.size(), 2u) << "the window has no icon";
  EXPECT_TRUE(icon[0] == 16 || icon[0] == 32);
  EXPECT_EQ(icon[0], icon[1]);

  // Escape neither closes the window nor ends the program.
  x_->PressKey(*window, XK_Escape);
  SleepMs(500);
  EXPECT_TRUE(x_->FindWindow(kTitle));
  EXPECT_FALSE(player.WaitForExit(0));

  x_->AskToClose(*window);
  EXPECT_EQ(player.WaitForExit(20000), 0);
  EXPECT_FALSE(x_->FindWindow(kTitle));
}

TEST_F(NativePlayerTest, ShowsOurDecodeAndStopsSwitchesSizeAndReplays) {
  Program& player = StartSpreadClip();
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  const auto first = DecodedPicture(clip_, 0, false);
  const auto second = DecodedPicture(clip_, 1, false);
  ASSERT_NE(first, second);

  // The first picture, at the native size, 20 pixels above the centre.
  // (The first picture waits for the whole speech to be decoded, which takes a
  // while in a sanitizer build on a busy machine.)
  EXPECT_TRUE(WaitUntil([&] { return NativePictureArea(*window) == first; }, 60000))
      << "the first picture never appeared as decoded";
  // Two seconds later the next one: the playback runs.
  EXPECT_TRUE(WaitUntil([&] { return NativePictureArea(*window) == second; }, 5000));

  // Stop, then the size switch (which only a stopped player takes) replays doubled.
  x_->Click(*window, kPlayX, kButtonY);
  SleepMs(300);
  x_->Click(*window, kSizeX, kButtonY);
  const auto firstDoubled = Cropped(DecodedPicture(clip_, 0, true), 352, kClientWidth, 288);
  const auto secondDoubled = Cropped(DecodedPicture(clip_, 1, true), 352, kClientWidth, 288);
  EXPECT_TRUE(WaitUntil([&] { return DoubledPictureArea(*window) == firstDoubled; }, 5000))
      << "the size switch did not replay the message doubled";
  EXPECT_TRUE(WaitUntil([&] { return DoubledPictureArea(*window) == secondDoubled; }, 5000));

  // Stop, Play: the message starts again from its first picture.
  x_->Click(*window, kPlayX, kButtonY);
  SleepMs(300);
  x_->Click(*window, kPlayX, kButtonY);
  EXPECT_TRUE(WaitUntil([&] { return DoubledPictureArea(*window) == firstDoubled; }, 3000))
      << "Play did not replay from the start";

  x_->AskToClose(*window);
  EXPECT_EQ(player.WaitForExit(20000), 0);
}

TEST_F(NativePlayerTest, WindowDestroyedByAnotherProgramDuringPlaybackEndsThePlayer) {
  Program& player = StartSpreadClip();
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  ASSERT_TRUE(WaitUntil([&] { return NativePictureArea(*window) == DecodedPicture(clip_, 0, false); },
                        60000));
  x_->DestroyWindow(*window);
  // It closes as if asked; GDK may instead end the program at once when a
  // drawing request of its own meets the vanished window (code 1).
  EXPECT_TRUE(player.WaitForExit(20000)) << "the player outlived its window";
}

TEST_F(NativePlayerTest, LastPictureStaysUntilTheWindowIsNextPaintedWhileIdle) {
  WriteBytes(dir_ / "one.263", FirstPictureOnly(clip_));
  Program& player = Start(kTestPlayer, {{"CLIPNOTE_TEST_MOVIE", (dir_ / "one.263").string()}});
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  const auto first = DecodedPicture(clip_, 0, false);
  ASSERT_TRUE(WaitUntil([&] { return NativePictureArea(*window) == first; }, 60000));
  // The playback has ended by itself; nothing paints the window, so the
  // picture stays.
  SleepMs(1000);
  EXPECT_EQ(NativePictureArea(*window), first);
  // Covered and uncovered, the window is painted again: the idle layout
  // returns (the maker's text) and the picture is gone.
  x_->DestroyWindow(x_->CreateCoveringWindow(0, 0, 1024, 768));
  EXPECT_TRUE(WaitUntil([&] { return NativePictureArea(*window) != first; }, 5000));
  x_->AskToClose(*window);
  EXPECT_EQ(player.WaitForExit(20000), 0);
}

TEST_F(NativePlayerTest, SecondStartBringsTheFirstForwardAndExitsWithZero) {
  Program& first = StartSpreadClip();
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  // Another window now covers the player.
  const Window cover = x_->CreateCoveringWindow(0, 0, 1024, 768);
  auto above = [&](Window a, Window b) {
    const auto order = x_->StackingOrder();
    const auto ia = std::find(order.begin(), order.end(), a);
    const auto ib = std::find(order.begin(), order.end(), b);
    return ia != order.end() && ib != order.end() && ia > ib;
  };
  ASSERT_TRUE(above(cover, *window));

  Program& second = StartSpreadClip();
  EXPECT_EQ(second.WaitForExit(20000), 0);
  EXPECT_TRUE(above(*window, cover)) << "the running player was not brought forward";
  EXPECT_FALSE(first.WaitForExit(0)) << "the first player must go on running";

  x_->AskToClose(*window);
  EXPECT_EQ(first.WaitForExit(20000), 0);
}

// Our own decode of a speech clip (prefix and frames), as the player's
// preparation makes it.
std::vector<uint8_t> DecodedSpeech(const std::vector<uint8_t>& voice) {
  std::vector<uint8_t> speech(support::VoiceCapacity(voice) + 480);
  GtkPlatform memory;
  const SpeechDecodeResult decoded = RealSpeechDecoding().DecodeSpeech(
      memory, voice.data() + 4, static_cast<uint32_t>(voice.size() - 4), speech.data(),
      static_cast<uint32_t>(speech.size()), {});
  speech.resize(decoded.pcmBytes);
  return speech;
}

// The frames of a speech clip several times over, with a prefix that reserves
// exactly what they decode to: a clip whose preparation surely lasts beyond
// the start of the first playback.
std::vector<uint8_t> RepeatedSpeech(const std::vector<uint8_t>& voice, int times) {
  const uint32_t capacity = static_cast<uint32_t>(DecodedSpeech(voice).size() * times);
  std::vector<uint8_t> frames;
  for (int i = 0; i < times; ++i) frames.insert(frames.end(), voice.begin() + 4, voice.end());
  return support::MakeVoiceClip(capacity, frames);
}

size_t LineCount(const fs::path& path) {
  const std::string text = support::ReadText(path);
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(NativePlayerTest, RequestsAndCutsTheStartUpSoundThenPlaysTheDecodedSpeech) {
  const std::vector<uint8_t> message = ReadBytes(kResources / "message.723");
  ASSERT_GT(message.size(), 4u);
  const std::vector<uint8_t> voice = RepeatedSpeech(message, 8);
  WriteBytes(dir_ / "voice.723", voice);
  const std::vector<uint8_t> speech = DecodedSpeech(voice);
  ASSERT_GT(speech.size(), 0u);

  Program& player = Start(kTestPlayer, {{"CLIPNOTE_TEST_MOVIE", (dir_ / "movie.263").string()},
                                        {"CLIPNOTE_TEST_VOICE", (dir_ / "voice.723").string()}});
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  EXPECT_TRUE(WaitUntil(
      [&] { return fs::exists(capture_) && fs::file_size(capture_) >= speech.size(); }, 120000));
  SleepMs(300);
  x_->AskToClose(*window);
  EXPECT_EQ(player.WaitForExit(20000), 0);

  // Two sounds were started: the start-up sound, while the speech was still
  // being decoded, then the speech.
  EXPECT_EQ(LineCount(opens_), 2u) << "the start-up sound was not requested";
  // What was played: at most a cut start of the start-up sound, then the
  // speech sample for sample.
  const std::vector<uint8_t> played = ReadBytes(capture_);
  ASSERT_GE(played.size(), speech.size());
  const size_t lead = played.size() - speech.size();
  EXPECT_TRUE(std::equal(speech.begin(), speech.end(), played.begin() + static_cast<long>(lead)))
      << "the speech did not arrive sample for sample";
  const std::vector<uint8_t> chime = ReadBytes(kResources / "startup_chime.wav");
  ASSERT_GE(chime.size(), 44u);
  EXPECT_LT(lead, chime.size() - 44) << "the start-up sound was not cut";
  EXPECT_TRUE(std::equal(played.begin(), played.begin() + static_cast<long>(lead),
                         chime.begin() + 44))
      << "what came before the speech is not the start of the start-up sound";
}

TEST_F(NativePlayerTest, WarnsOfAnAudioOnlyMessageBeforeItsWindowExists) {
  WriteBytes(dir_ / "empty.263", {});
  Program& player = Start(kTestPlayer, {{"CLIPNOTE_TEST_MOVIE", (dir_ / "empty.263").string()}});
  const auto box = x_->WaitForWindow("Audio only", 20000);
  ASSERT_TRUE(box) << "no \"Audio only\" message box";
  EXPECT_FALSE(x_->FindWindow(kTitle)) << "the warning comes before the window";
  x_->PressKey(*box, XK_Return);
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window) << "after the warning the player goes on";
  x_->AskToClose(*window);
  EXPECT_EQ(player.WaitForExit(20000), 0);
}

TEST_F(NativePlayerTest, MissingVideoIsReportedWithoutAWindowAndEndsWithZero) {
  Program& player =
      Start(kTestPlayer, {{"CLIPNOTE_TEST_MOVIE", (dir_ / "not-there.263").string()}});
  const auto box = x_->WaitForWindow("Memory Allocation Error", 20000);
  ASSERT_TRUE(box) << "no fatal report";
  EXPECT_FALSE(x_->FindWindow(kTitle));
  x_->PressKey(*box, XK_Return);
  EXPECT_EQ(player.WaitForExit(20000), 0);
  EXPECT_FALSE(x_->FindWindow(kTitle)) << "the player went on after a fatal report";
}

// A box that another thread raised without an owner leaves the window usable,
// as on Win32: here the preparation thread waits in "Video only" while the
// window is closed; the close stops the playback, which waits for that thread,
// and the box stays answerable meanwhile. Once it is answered the player ends.
TEST_F(NativePlayerTest, CloseIsTakenWhileTheVideoOnlyBoxIsUpAndEndsThePlayerOnceAnswered) {
  WriteBytes(dir_ / "silent.723", {0, 0, 0, 0});
  Program& player = Start(kTestPlayer, {{"CLIPNOTE_TEST_MOVIE", (dir_ / "movie.263").string()},
                                        {"CLIPNOTE_TEST_VOICE", (dir_ / "silent.723").string()}});
  const auto box = x_->WaitForWindow("Video only", 20000);
  ASSERT_TRUE(box) << "no \"Video only\" message box";
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  SleepMs(300);
  x_->AskToClose(*window);
  // The stop waits for the preparation, which waits for the box.
  SleepMs(500);
  EXPECT_FALSE(player.WaitForExit(0));
  EXPECT_TRUE(x_->FindWindow("Video only")) << "the box went before it was answered";
  x_->PressKey(*box, XK_Return);
  EXPECT_EQ(player.WaitForExit(20000), 0) << "the close asked for behind the box was lost";
}

// The logo is centred in its strip, and what it leaves of the strip has the
// colour of its top-left pixel, as Win32 draws an SS_CENTERIMAGE bitmap.
TEST_F(NativePlayerTest, LogoStripIsFilledWithTheColourOfTheLogosCorner) {
  // The resource is the file without its 14-byte file header.
  const std::vector<uint8_t> bitmap = ReadBytes(kResources / "logo.bmp");
  ASSERT_GT(bitmap.size(), 14u);
  const auto logo = ReadDibBitmap(bitmap.data() + 14, bitmap.size() - 14);
  ASSERT_TRUE(logo);
  const uint32_t corner = static_cast<uint32_t>(logo->pixels[0]) << 16 | logo->pixels[1] << 8 |
                          logo->pixels[2];
  constexpr int kLogoX = 90, kLogoY = 289, kLogoWidth = 260, kLogoHeight = 28;
  ASSERT_LT(logo->width, kLogoWidth);
  // Its last row lies below the client area.
  constexpr int kVisibleHeight = kClientHeight - kLogoY;

  Program& player = Start(kPlayer);
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  const int left = (kLogoWidth - logo->width) / 2;
  const int top = (kLogoHeight - logo->height) / 2;
  std::vector<uint32_t> expected(static_cast<size_t>(kLogoWidth) * kVisibleHeight, corner);
  for (int y = 0; y < kVisibleHeight; ++y) {
    for (int x = 0; x < kLogoWidth; ++x) {
      const int bx = x - left, by = y - top;
      if (bx < 0 || by < 0 || bx >= logo->width || by >= logo->height) continue;
      const uint8_t* p = &logo->pixels[(static_cast<size_t>(by) * logo->width + bx) * 4];
      expected[static_cast<size_t>(y) * kLogoWidth + x] =
          static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    }
  }
  std::vector<uint32_t> seen;
  WaitUntil(
      [&] {
        seen = x_->Grab(*window, kLogoX, kLogoY, kLogoWidth, kVisibleHeight);
        return seen == expected;
      },
      10000);
  ASSERT_EQ(seen.size(), expected.size());
  size_t wrong = 0, first = 0;
  for (size_t i = seen.size(); i-- > 0;) {
    if (seen[i] != expected[i]) ++wrong, first = i;
  }
  EXPECT_EQ(wrong, 0u) << "the logo strip is not the centred logo on its corner's colour; "
                       << "first difference at (" << first % kLogoWidth << ", "
                       << first / kLogoWidth << "): " << std::hex << seen[first] << " for "
                       << expected[first];
  x_->AskToClose(*window);
  EXPECT_EQ(player.WaitForExit(20000), 0);
}

// --- A message named on the command line ----------------------------------------------

// A bitmap resource of one colour (24 bits, bottom-up), 0xRRGGBB.
std::vector<uint8_t> PlainBitmap(uint32_t colour, int width, int height) {
  std::vector<uint8_t> dib(40, 0);
  const auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  dib[12] = 1;
  dib[14] = 24;
  const int stride = (width * 3 + 3) & ~3;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < stride; ++x) {
      const int channel = x % 3;  // blue, green, red
      dib.push_back(x < width * 3 ? static_cast<uint8_t>(colour >> (8 * channel)) : 0);
    }
  }
  return dib;
}

// A small message executable: the clips, and a logo and start-up sound of its
// own; also a window template where one is given.
std::vector<uint8_t> SmallMessage(const std::vector<uint8_t>& movie, const std::vector<uint8_t>& voice,
                                  const std::vector<uint8_t>& wave, uint32_t logoColour,
                                  const std::vector<uint8_t>& dialog = {}) {
  std::vector<pe_builder::Item> items = {{263, "MOVIE", 0x409, movie},
                                         {723, "VOICE", 0x409, voice},
                                         {"WAVE", 150, 0x409, wave},
                                         {kResourceTypeBitmap, 147, 0x409, PlainBitmap(logoColour, 40, 20)}};
  if (!dialog.empty()) items.push_back({kResourceTypeDialog, "DISPLAYBOX", 0x409, dialog});
  return pe_builder::Build(items).bytes;
}

// Our window template with its caption's last word changed (to one as long).
std::vector<uint8_t> RetitledTemplate(const std::string& lastWord) {
  const EmbeddedResource* ours = FindEmbeddedResource(kResourceTypeDialog, "DISPLAYBOX");
  if (ours == nullptr) return {};
  std::vector<uint8_t> dialog(ours->data, ours->data + ours->size);
  const std::string from = "Player";
  for (size_t i = 0; i + 2 * from.size() <= dialog.size(); ++i) {
    bool match = true;
    for (size_t c = 0; c < from.size() && match; ++c) match = dialog[i + 2 * c] == from[c] && dialog[i + 2 * c + 1] == 0;
    if (!match) continue;
    for (size_t c = 0; c < from.size(); ++c) dialog[i + 2 * c] = static_cast<uint8_t>(lastWord[c]);
    return dialog;
  }
  return {};
}

constexpr int kLogoX = 90, kLogoY = 289, kLogoWidth = 260;

// Each form of message on the command line: the player shows its first picture
// as we decode it and plays its speech sample for sample, after at most a cut
// start of the start-up sound (the message's own where it carries one); its
// logo strip shows its own logo and its window its own template's caption.
TEST_F(NativePlayerTest, PlaysTheMessageNamedOnItsCommandLine) {
  // Long enough to decode that the start-up sound may be heard first.
  const std::vector<uint8_t> voice = RepeatedSpeech(ReadBytes(kResources / "message.723"), 8);
  WriteBytes(dir_ / "voice.723", voice);
  WriteBytes(dir_ / "voice.tco", std::vector<uint8_t>(voice.begin() + 4, voice.end()));
  std::vector<uint8_t> ownWave = ReadBytes(kResources / "startup_chime.wav");
  ASSERT_GT(ownWave.size(), 44u);
  for (size_t i = 44; i < ownWave.size(); ++i) ownWave[i] ^= 0x5A;
  constexpr uint32_t kOwnLogo = 0x3366CC;
  constexpr char kOwnTitle[] = "Tarvany Clipnote Viewer";
  const std::vector<uint8_t> ownTemplate = RetitledTemplate("Viewer");
  ASSERT_FALSE(ownTemplate.empty());
  WriteBytes(dir_ / "small.exe", SmallMessage(clip_, voice, ownWave, kOwnLogo, ownTemplate));
  const std::vector<uint8_t> chime = ReadBytes(kResources / "startup_chime.wav");
  // A template that cannot be read gives our window, not none.
  WriteBytes(dir_ / "damaged.exe", SmallMessage(clip_, voice, ownWave, kOwnLogo, {1, 0, 0xFF, 0xFF, 9}));

  struct Row {
    const char* what;
    const char* title;  // the message's own window template's where it has one
    std::vector<std::string> arguments;
    std::vector<uint8_t> movie;  // empty: speech only, after the "Audio only" warning
    std::vector<uint8_t> voice;
    const std::vector<uint8_t>* startUpSound;
    std::optional<uint32_t> logo;  // the strip's colour where the message has its own logo
  };
  std::vector<Row> rows = {
      {"small executable", kOwnTitle, {(dir_ / "small.exe").string()}, clip_, voice, &ownWave, kOwnLogo},
      {"damaged template", kTitle, {(dir_ / "damaged.exe").string()}, clip_, voice, &ownWave, kOwnLogo},
      {"bare clips", kTitle, {(dir_ / "movie.263").string(), (dir_ / "voice.723").string()}, clip_, voice, &chime, {}},
      {"speech alone", kTitle, {"--speech", (dir_ / "voice.723").string()}, {}, voice, &chime, {}},
      // Without a prefix the player reserves what the frames decode to, and plays all of it.
      {"raw speech alone", kTitle, {"--speech", (dir_ / "voice.tco").string()}, {}, voice, &chime, {}},
  };
#ifdef CLIPNOTE_WIN32_EXE
  if (fs::exists(kWindowsPlayer)) {
    rows.push_back({"Windows player", kTitle, {kWindowsPlayer.string()}, ReadBytes(kResources / "message.263"),
                    ReadBytes(kResources / "message.723"), &chime, {}});
  }
#endif
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove(capture_);
    fs::remove(opens_);
    Program& player = Start(kPlayer, {}, row.arguments);
    if (row.movie.empty()) {
      const auto box = x_->WaitForWindow("Audio only", 20000);
      ASSERT_TRUE(box) << "no \"Audio only\" message box";
      x_->PressKey(*box, XK_Return);
    }
    const auto window = x_->WaitForWindow(row.title, 20000);
    ASSERT_TRUE(window) << "no window titled " << row.title;
    if (!row.movie.empty()) {
      const auto first = DecodedPicture(row.movie, 0, false);
      EXPECT_TRUE(WaitUntil([&] { return NativePictureArea(*window) == first; }, 60000))
          << "the first picture never appeared as decoded";
    }
    if (row.logo) {
      const std::vector<uint32_t> strip(kLogoWidth, *row.logo);
      EXPECT_EQ(x_->Grab(*window, kLogoX, kLogoY + 5, kLogoWidth, 1), strip) << "not the message's own logo";
    }
    const std::vector<uint8_t> speech = DecodedSpeech(row.voice);
    EXPECT_TRUE(WaitUntil(
        [&] { return fs::exists(capture_) && fs::file_size(capture_) >= speech.size(); }, 120000));
    SleepMs(300);
    x_->AskToClose(*window);
    EXPECT_EQ(player.WaitForExit(20000), 0);
    const std::vector<uint8_t> played = ReadBytes(capture_);
    ASSERT_GE(played.size(), speech.size());
    const size_t lead = played.size() - speech.size();
    EXPECT_TRUE(std::equal(speech.begin(), speech.end(), played.begin() + static_cast<long>(lead)))
        << "the speech did not arrive sample for sample";
    const std::vector<uint8_t>& sound = *row.startUpSound;
    EXPECT_LE(lead, sound.size() - 44);
    EXPECT_TRUE(std::equal(played.begin(), played.begin() + static_cast<long>(lead), sound.begin() + 44))
        << "what came before the speech is not the start of the message's start-up sound";
  }
}

// One player per message: the same message again brings its window forward and
// ends; another message (or the compiled-in one) opens a window of its own.
TEST_F(NativePlayerTest, SecondStartWithTheSameMessageBringsItForwardAnotherOpensItsOwn) {
  const std::vector<uint8_t> voice = ReadBytes(kResources / "message.723");
  const std::vector<uint8_t> chime = ReadBytes(kResources / "startup_chime.wav");
  WriteBytes(dir_ / "one.exe", SmallMessage(clip_, voice, chime, 0x3366CC));
  WriteBytes(dir_ / "same.exe", SmallMessage(clip_, voice, chime, 0x3366CC));
  WriteBytes(dir_ / "other.exe", SmallMessage(clip_, voice, chime, 0xCC6633));

  Program& first = Start(kPlayer, {}, {(dir_ / "one.exe").string()});
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  const Window cover = x_->CreateCoveringWindow(0, 0, 1024, 768);
  const auto above = [&](Window a, Window b) {
    const auto order = x_->StackingOrder();
    const auto ia = std::find(order.begin(), order.end(), a);
    const auto ib = std::find(order.begin(), order.end(), b);
    return ia != order.end() && ib != order.end() && ia > ib;
  };
  ASSERT_TRUE(above(cover, *window));
  // The same message under another name.
  Program& same = Start(kPlayer, {}, {(dir_ / "same.exe").string()});
  EXPECT_EQ(same.WaitForExit(20000), 0);
  EXPECT_TRUE(above(*window, cover)) << "the running player of that message was not brought forward";

  // A message whose own window template gives another caption is found all the same.
  const std::vector<uint8_t> viewerTemplate = RetitledTemplate("Viewer");
  ASSERT_FALSE(viewerTemplate.empty());
  WriteBytes(dir_ / "viewer.exe", SmallMessage(clip_, voice, chime, 0x33CC66, viewerTemplate));
  WriteBytes(dir_ / "viewer-again.exe", SmallMessage(clip_, voice, chime, 0x33CC66, viewerTemplate));
  Program& viewer = Start(kPlayer, {}, {(dir_ / "viewer.exe").string()});
  const auto viewerWindow = x_->WaitForWindow("Tarvany Clipnote Viewer", 20000);
  ASSERT_TRUE(viewerWindow);
  Program& viewerAgain = Start(kPlayer, {}, {(dir_ / "viewer-again.exe").string()});
  EXPECT_EQ(viewerAgain.WaitForExit(20000), 0)
      << "a second player of a message with its own caption stayed up";
  x_->AskToClose(*viewerWindow);
  EXPECT_EQ(viewer.WaitForExit(20000), 0);

  Program& other = Start(kPlayer, {}, {(dir_ / "other.exe").string()});
  Program& builtIn = Start(kPlayer);
  SleepMs(3000);
  EXPECT_FALSE(other.WaitForExit(0)) << "another message did not open its own window";
  EXPECT_FALSE(builtIn.WaitForExit(0)) << "the compiled-in message did not open its own window";
  x_->AskToClose(*window);
  EXPECT_EQ(first.WaitForExit(20000), 0);
  // The others' windows are still there.
  const auto ended = [&] { return int(other.WaitForExit(0).has_value()) + int(builtIn.WaitForExit(0).has_value()); };
  for (int closed = 1; closed <= 2; ++closed) {
    const auto left = x_->WaitForWindow(kTitle, 5000);
    ASSERT_TRUE(left) << "a player's window is missing";
    x_->AskToClose(*left);
    EXPECT_TRUE(WaitUntil([&] { return ended() == closed; }, 20000));
  }
  EXPECT_EQ(other.WaitForExit(0), 0);
  EXPECT_EQ(builtIn.WaitForExit(0), 0);
}

// Without a sound device the message plays without sound, and standard error
// says so in one line however many sounds fail.
TEST_F(NativePlayerTest, WithoutASoundDeviceSaysOnceThatTheMessagePlaysWithoutSound) {
  const fs::path home = dir_ / "no-sound-home";
  fs::create_directories(home);
  support::WriteText(home / ".asoundrc", "pcm.!default {\n  type hw\n  card 31\n}\n");
  const fs::path errors = dir_ / "errors.txt";
  Program& player = Start("/bin/sh", {},
                          {"-c", "HOME=$1 exec \"$0\" 2>\"$2\"", kPlayer, home.string(),
                           errors.string()});
  const auto window = x_->WaitForWindow(kTitle, 20000);
  ASSERT_TRUE(window);
  const auto first = DecodedPicture(ReadBytes(kResources / "message.263"), 0, false);
  EXPECT_TRUE(WaitUntil([&] { return NativePictureArea(*window) == first; }, 60000));
  // The start-up sound and the speech have both been tried by now.
  SleepMs(1500);
  x_->AskToClose(*window);
  EXPECT_EQ(player.WaitForExit(20000), 0);
  const std::string told = support::ReadText(errors);
  const size_t once = told.find("plays without sound");
  EXPECT_NE(once, std::string::npos) << told;
  EXPECT_EQ(told.find("plays without sound", once + 1), std::string::npos) << told;
}

// A file that is no message: a box says why, standard error too, and the
// program ends with 1 without opening its window.
TEST_F(NativePlayerTest, FileThatIsNoMessageIsRefusedWithItsReasonAndExitCodeOne) {
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
  WriteBytes(dir_ / "picture.png", png);
  std::vector<uint8_t> truncated = SmallMessage(clip_, ReadBytes(kResources / "message.723"),
                                                ReadBytes(kResources / "startup_chime.wav"), 0);
  truncated.resize(0x180);  // the headers, not the resources they point at
  WriteBytes(dir_ / "truncated.exe", truncated);
  const std::vector<uint8_t> voice = ReadBytes(kResources / "message.723");
  WriteBytes(dir_ / "voice.723", voice);
  WriteBytes(dir_ / "small.exe", SmallMessage(clip_, voice, ReadBytes(kResources / "startup_chime.wav"), 0));
  const std::string picture = (dir_ / "picture.png").string(), movie = (dir_ / "movie.263").string(),
                    speech = (dir_ / "voice.723").string(), small = (dir_ / "small.exe").string();
  const struct {
    std::vector<std::string> arguments;
    std::string reason;
  } rows[] = {
      {{picture}, "not a message"},
      {{(dir_ / "truncated.exe").string()}, "truncated.exe: "},
      {{(dir_ / "not-there.exe").string()}, "cannot open"},
      // Arguments the player does not take are refused, never half used.
      {{"--loud", movie}, "usage: clipnote"},
      {{movie, speech, speech}, "usage: clipnote"},
      {{small, speech}, "a message executable carries its own speech"},
      {{speech}, "voice.723: VOICE clip; speech alone plays with --speech"},
      {{movie, movie}, "movie.263: H.263 clip, not speech"},
      {{"--speech", movie}, "movie.263: H.263 clip, not speech"},
  };
  const fs::path errors = dir_ / "errors.txt";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.back());
    std::vector<std::string> command = {"-c", "errors=$1; shift; exec \"$0\" \"$@\" 2>\"$errors\"", kPlayer,
                                        errors.string()};
    command.insert(command.end(), row.arguments.begin(), row.arguments.end());
    Program& player = Start("/bin/sh", {}, command);
    const auto box = x_->WaitForWindow("Cannot play", 20000);
    ASSERT_TRUE(box) << "no message box";
    EXPECT_FALSE(x_->FindWindow(kTitle));
    x_->PressKey(*box, XK_Return);
    EXPECT_EQ(player.WaitForExit(20000), 1);
    const std::string said = support::ReadText(errors);
    EXPECT_NE(said.find(row.reason), std::string::npos) << said;
  }
}

}  // namespace
}  // namespace clipnote::gtk::testing

#endif  // CLIPNOTE_HAVE_PLAYER
