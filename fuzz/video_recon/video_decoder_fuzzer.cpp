// Arbitrary bytes as a video clip, through the whole decoder the way the player
// drives it: initialise, probe, decode until the clip ends or a picture fails.
// (The colour conversion after it reads only a decoded picture of fixed size,
// whatever the clip, so it is left out to keep the runs fast.)

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/recon/picture_decoder.h"

namespace {

// Exactly what a CIF stream needs, so any access beyond it is reported.
constexpr size_t kCifPicture = 352 * 288 * 3 / 2;

struct Buffers {
  std::vector<uint8_t> current = std::vector<uint8_t>(kCifPicture);
  std::vector<uint8_t> previous = std::vector<uint8_t>(kCifPicture);
  std::vector<uint8_t> reference = std::vector<uint8_t>(12 * 352 * 288);
  std::vector<uint8_t> bitBuffer = std::vector<uint8_t>(kBitBufferBytes);
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
  while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) {
  }
  return 0;
}
