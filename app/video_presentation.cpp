#include "app/video_presentation.h"

#include "app/control_layout.h"
#include "app/display_box.h"
#include "app/fatal_report.h"

namespace clipnote {

namespace {

// Clock values are compared by their signed difference, so a playback that
// crosses the wrap of the millisecond clock is still paced.
int32_t Since(uint32_t now, uint32_t then) { return static_cast<int32_t>(now - then); }

// How long the first picture waits at most for the speech to start: more than
// any sound device takes to open, little enough not to be noticed if it fails.
constexpr uint32_t kSoundStartTimeoutMs = 1000;

struct DrawSetup {
  int width;
  int height;
  int originX;
  int originY;
  uint8_t* image;
};

}  // namespace

uint32_t PictureTargetTime(uint32_t start, int32_t ticks) {
  const double offset = ticks * kMillisecondsPerTick;
  return start + static_cast<uint32_t>(static_cast<int64_t>(offset));
}

int32_t TicksBetween(uint8_t previous, uint8_t next) {
  return next >= previous ? next - previous : next - previous + 256;
}

void OpenDisplay(MessagePlayer& player) {
  Platform& os = player.os;
  try {
    player.windowDC = os.GetDC(player.window);
    if (player.windowDC == nullptr) RaiseStartupFailure(os, kNotEnoughMemoryText);
  } catch (const StartupFailure& failure) {
    ReportFatal(os, failure);
  }
  player.halftonePalette = os.CreateHalftonePalette(player.windowDC);
  player.previousPalette = os.SelectPalette(player.windowDC, player.halftonePalette, false);
  os.RealizePalette(player.windowDC);
  player.drawDib = os.DrawDibOpen();
}

void CloseDisplay(MessagePlayer& player) {
  Platform& os = player.os;
  os.DrawDibClose(player.drawDib);
  os.SelectPalette(player.windowDC, player.previousPalette, false);
  os.DeleteObject(player.halftonePalette);
  os.ReleaseDC(player.window, player.windowDC);
  player.drawDib = nullptr;
  player.halftonePalette = nullptr;
  player.previousPalette = nullptr;
  player.windowDC = nullptr;
}

void PresentVideo(MessagePlayer& player) {
  Platform& os = player.os;
  VideoDecoding& decoder = player.videoDecoding;
  decoder.InitVideoDecoder(player);
  decoder.ProbePictureFormat();

  const bool native = player.nativeSize != 0;
  DrawSetup setup;
  if (native) {
    // The native picture sits 20 pixels above the centre of the client area.
    setup = {kNativeWidth, kNativeHeight, player.clientRect.right / 2 - 88,
             player.clientRect.bottom / 2 - 92, player.rgbNative.get()};
  } else {
    setup = {kDoubledWidth, kDoubledHeight, 0, 0, player.rgbDoubled.get()};
  }
  player.bitmapHeader->biWidth = setup.width;
  player.bitmapHeader->biHeight = setup.height;

  auto convert = [&] {
    decoder.ConvertToBgr24(player.currentPicture, player.rgbNative.get(), kNativeHeight,
                           kNativeWidth);
    if (!native) {
      decoder.DoubleBgr24(player.rgbNative.get(), player.rgbDoubled.get(), kNativeWidth,
                          kNativeHeight);
    }
  };
  auto draw = [&] {
    os.DrawDibDraw(player.drawDib, player.windowDC, setup.originX, setup.originY, -1, -1,
                   player.bitmapHeader, setup.image, 0, 0, setup.width, setup.height,
                   kDdfSameHdc | kDdfSameDraw);
  };

  int result = decoder.DecodePicture();
  uint8_t previousReference = decoder.TemporalReference();

  if (native) {
    Place(os, player.makerText, layout::kMakerAway);
    Place(os, player.videoFrame, layout::kFramePresenting);
  }
  Place(os, player.waitText, layout::kWaitParked);
  // The first picture is shown whatever its decoding returned, without pacing.
  convert();
  os.DrawDibBegin(player.drawDib, player.windowDC, -1, -1, player.bitmapHeader, setup.width,
                  setup.height, 0);
  os.DrawDibRealize(player.drawDib, player.windowDC, false);
  // The speech is the first sound asked for after this mark; a start-up sound
  // cut before it, however close in time, is not taken for it.
  const uint64_t speechMark = os.SoundRequestMark();
  uint32_t start = os.timeGetTime();
  os.SetEvent(player.events.startEvent);
  if (player.audioAbsent == 0 && player.wavImage != nullptr) {
    // Where the platform can tell how far behind its sound output is, the
    // pictures start when the speech is heard, not when it was handed over.
    start = os.SoundHeardTime(speechMark, start, kSoundStartTimeoutMs);
    while (Since(os.timeGetTime(), start) < 0) os.Sleep(1);
  }
  draw();

  int32_t ticks = 0;
  while (!decoder.EndOfSequence() && result == 0) {
    result = decoder.DecodePicture();
    if (os.WaitForSingleObject(player.events.stopEvent, 0) == kWaitObject0) return;
    const uint8_t reference = decoder.TemporalReference();
    ticks += TicksBetween(previousReference, reference);
    previousReference = reference;
    const uint32_t target = PictureTargetTime(start, ticks);
    // Late pictures are decoded (later ones predict from them) but not shown.
    if (Since(os.timeGetTime(), target) > 0) continue;
    while (Since(os.timeGetTime(), target) < 0) os.Sleep(1);
    convert();
    draw();
  }
  PostPlaybackEnded(player);
}

}  // namespace clipnote
