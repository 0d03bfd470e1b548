#include "app/message_player.h"

#include <new>

#include "app/fatal_report.h"
#include "app/media_resources.h"
#include "video/recon/colour_tables.h"

namespace clipnote {

namespace {

uint8_t* AllocateZeroed(Platform& os, size_t bytes) {
  auto* block = static_cast<uint8_t*>(os.GlobalAlloc(kGmemFixed | kGmemZeroInit, bytes));
  if (block == nullptr) RaiseStartupFailure(os, kNotEnoughMemoryText);
  return block;
}

std::unique_ptr<uint8_t[]> AllocateImage(Platform& os, size_t bytes) {
  // The non-throwing form: a failure here, inside static construction, must
  // reach the report instead of ending the program unreported.
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[bytes]);
  if (!image) RaiseStartupFailure(os, kNotEnoughMemoryText);
  return image;
}

}  // namespace

MessagePlayer::MessagePlayer(Platform& platform, VideoDecoding& video, SpeechDecoding& speech)
    : os(platform), videoDecoding(video), speechDecoding(speech) {
  try {
    wavImage = nullptr;
    videoAbsent = 0;
    LocateVideoClip();
    bitBufferSize = kBitBufferSize;
    pictureAreaSize = kPictureAreaSize;
    AllocateBuffers();
    h263::BuildColourTables();

    void* header = os.GlobalAlloc(kGmemFixed, sizeof(BitmapInfoHeader));
    if (header == nullptr) RaiseStartupFailure(os, kNotEnoughMemoryText);
    bitmapHeader = static_cast<BitmapInfoHeader*>(header);
    *bitmapHeader = BitmapInfoHeader{};
    bitmapHeader->biSize = sizeof(BitmapInfoHeader);
    bitmapHeader->biWidth = kNativeWidth;
    bitmapHeader->biHeight = kNativeHeight;  // positive: bottom-up rows
    bitmapHeader->biPlanes = 1;
    bitmapHeader->biBitCount = 24;
    bitmapHeader->biCompression = kBiRgb;
  } catch (const StartupFailure& failure) {
    ReportFatal(os, failure);
  }
}

MessagePlayer::~MessagePlayer() { DestroyPlayer(); }

void MessagePlayer::LocateVideoClip() {
  const LockedClip clip = clipnote::LocateVideoClip(os);
  if (clip.size == 0) videoAbsent = 1;
  videoClip = clip.data;
  videoClipSize = clip.size;
}

void MessagePlayer::AllocateBuffers() {
  bitBuffer = AllocateZeroed(os, bitBufferSize);
  currentPicture = AllocateZeroed(os, pictureAreaSize);
  previousPicture = AllocateZeroed(os, 2 * pictureAreaSize);
  interpolatedReference = AllocateZeroed(os, 12 * pictureAreaSize);
  rgbNative = AllocateImage(os, kRgbNativeBytes);
  rgbDoubled = AllocateImage(os, kRgbDoubledBytes);
}

void MessagePlayer::DestroyPlayer() {
  for (uint8_t** buffer : {&bitBuffer, &currentPicture, &previousPicture, &interpolatedReference}) {
    if (*buffer != nullptr) os.GlobalFree(*buffer);
    *buffer = nullptr;
  }
  rgbNative.reset();
  rgbDoubled.reset();
  if (bitmapHeader != nullptr) os.GlobalFree(bitmapHeader);
  bitmapHeader = nullptr;
  if (uint8_t* image = wavImage.exchange(nullptr)) os.GlobalFree(image);
}

}  // namespace clipnote
