// Arbitrary bytes as a video clip, through the whole decoder the way the player
// drives it: initialise, probe, decode until the clip ends or a picture fails,
// and turn the last decoded picture into the native and the doubled display
// image. (The doubling reads and writes fixed sizes and takes the same paths
// whatever the picture, so one input in 64, picked by the sum of its bytes, is
// doubled: it took half of every run. The native conversion clamps what the
// samples give, so every decoded picture goes through it.)

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"
#include "video/recon/picture_decoder.h"

using namespace clipnote::h263;

namespace {

// Exactly what a CIF stream needs, so any access beyond it is reported.
constexpr size_t kCifPicture = 352 * 288 * 3 / 2;
// The player shows 176 x 144 pictures, natively or doubled.
constexpr int kShownWidth = 176;
constexpr int kShownHeight = 144;

struct Buffers {
  Buffers() { BuildColourTables(); }
  std::vector<uint8_t> current = std::vector<uint8_t>(kCifPicture);
  std::vector<uint8_t> previous = std::vector<uint8_t>(kCifPicture);
  std::vector<uint8_t> reference = std::vector<uint8_t>(12 * 352 * 288);
  std::vector<uint8_t> bitBuffer = std::vector<uint8_t>(kBitBufferBytes);
  std::vector<uint8_t> native = std::vector<uint8_t>(kShownWidth * kShownHeight * 3);
  std::vector<uint8_t> doubled = std::vector<uint8_t>(4 * kShownWidth * kShownHeight * 3);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Buffers* b = new Buffers;
  // A copy of exactly `size` bytes, so reads past the clip are caught.
  std::vector<uint8_t> clip(data, data + size);
  InitVideoDecoder(b->current.data(), b->previous.data(), b->reference.data(),
                   b->bitBuffer.data(), kVideoWindowSize, kMemorySource, clip.data(),
                   static_cast<int64_t>(clip.size()));
  ProbePictureFormat();
  bool decoded = false;
  while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) decoded = true;
  if (!decoded) return 0;
  ConvertToBgr24(b->current.data(), b->native.data(), kShownHeight, kShownWidth);
  if (std::accumulate(clip.begin(), clip.end(), 0u) % 64 == 0) {
    DoubleBgr24(b->native.data(), b->doubled.data(), kShownWidth, kShownHeight);
  }
  return 0;
}
