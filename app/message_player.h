#pragma once

// The player's one global object: window and control handles, display
// resources, every decoder and display buffer, the clip pointers, the playback
// flags and the thread handles. It is built by static initialisation before
// the entry function runs (the constructor), and torn down after it returns
// (the destructor, which the runtime registers as an exit handler right after
// construction).

#include <atomic>
#include <cstdint>
#include <memory>

#include "app/media_decoders.h"
#include "platform/platform.h"

namespace clipnote {

// Sizes of the buffers made at construction.
inline constexpr int kBitBufferSize = 16384;
inline constexpr int kPictureAreaSize = 152064;  // one CIF picture, 4:2:0
inline constexpr int kNativeWidth = 176;
inline constexpr int kNativeHeight = 144;
inline constexpr int kDoubledWidth = 352;
inline constexpr int kDoubledHeight = 288;
inline constexpr uint32_t kRgbNativeBytes = kNativeWidth * kNativeHeight * 3;     // 76032
inline constexpr uint32_t kRgbDoubledBytes = kDoubledWidth * kDoubledHeight * 3;  // 304128

// The six playback events (all manual-reset, created clear by PlayerWinMain).
struct PlaybackEvents {
  Handle prepAbortEvent = nullptr;      // stop requested: abandon the audio preparation
  Handle stopEvent = nullptr;           // stop requested: end the presentation
  Handle startEvent = nullptr;          // first picture on screen (or no video): sound may start
  Handle videoDoneEvent = nullptr;      // no video thread is running
  Handle audioPreparedEvent = nullptr;  // the preparation thread has finished, either way
  Handle audioDoneEvent = nullptr;      // no audio playback thread is running
};

struct ThreadRecord {
  uint32_t id = 0;
  Handle handle = nullptr;
};

class MessagePlayer {
 public:
  // Construction: finds and locks the video clip, allocates every buffer,
  // builds the colour tables and fills the bitmap header. A failed step ends
  // in ReportFatal (which ends the process).
  explicit MessagePlayer(Platform& platform, VideoDecoding& video = RealVideoDecoding(),
                         SpeechDecoding& speech = RealSpeechDecoding());
  // Teardown: releases the buffers (the window's resources went with the
  // window).
  ~MessagePlayer();
  MessagePlayer(const MessagePlayer&) = delete;
  MessagePlayer& operator=(const MessagePlayer&) = delete;

  Platform& os;
  VideoDecoding& videoDecoding;
  SpeechDecoding& speechDecoding;

  // Fields shared between threads are atomics; the events order the rest.
  std::atomic<int> audioAbsent{0};  // the audio clip has no coded frames
  Hpalette halftonePalette = nullptr;
  Hpalette previousPalette = nullptr;
  Hdrawdib drawDib = nullptr;
  std::atomic<uint32_t> pcmCapacity{0};   // the audio clip's prefix: PCM bytes to reserve
  std::atomic<uint32_t> audioEndTime{0};  // clock value at which audio-only speech has played out
  int videoAbsent = 0;                    // the video clip is empty (set during construction)
  std::atomic<int> nativeSize{1};         // 1: 176 x 144; 0: doubled to 352 x 288
  Hwnd window = nullptr;
  std::atomic<int> playing{0};  // 1 from Start until Stop completes
  uint8_t* bitBuffer = nullptr;
  uint8_t* currentPicture = nullptr;
  uint8_t* previousPicture = nullptr;
  uint8_t* interpolatedReference = nullptr;
  const uint8_t* videoClip = nullptr;
  uint32_t videoClipSize = 0;  // bytes of the video clip: the decoder never reads past them
  int bitBufferSize = 0;
  int pictureAreaSize = 0;
  Hdc windowDC = nullptr;
  Rect clientRect{};
  // The two images come from the ordinary allocator (non-throwing array new).
  std::unique_ptr<uint8_t[]> rgbNative;
  std::unique_ptr<uint8_t[]> rgbDoubled;
  BitmapInfoHeader* bitmapHeader = nullptr;
  Hwnd playButton = nullptr;
  Hwnd sizeButton = nullptr;
  Hwnd logoStatic = nullptr;
  Hwnd videoFrame = nullptr;
  Hwnd makerText = nullptr;
  Hwnd waitText = nullptr;
  ThreadRecord videoThread;
  ThreadRecord audioThread;
  ThreadRecord prepThread;
  std::atomic<uint8_t*> wavImage{nullptr};  // the in-memory WAVE file, once allocated
  std::atomic<bool> audioReady{false};      // the WavImage is complete

  // Process-wide values beside the object, kept with it so that a test can
  // run several players one after another.
  Hinstance instance = nullptr;
  PlaybackEvents events;
  // Set once the window has started to close: nothing starts after it.
  std::atomic<bool> closing{false};
  // The "no information" check has been made.
  std::atomic<bool> informationChecked{false};

  // Stores the player window; called first thing when the window is created.
  void SetWindow(Hwnd playerWindow) { window = playerWindow; }

 private:
  void LocateVideoClip();
  void AllocateBuffers();
  void DestroyPlayer();
};

}  // namespace clipnote
