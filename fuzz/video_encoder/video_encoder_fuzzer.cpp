// Arbitrary pictures and ticks through the encoder, then its stream through the decoder as
// the player drives it: the encoder must accept whatever it is handed, and the decoder must
// take the stream whole, give one picture per picture encoded, and show on each exactly the
// encoder's reference.
//
// The input: a settings byte (CIF, GOB headers, GOBs by size, a bitrate), the quantiser,
// the picture count, then per picture a tick step and a motion byte, then the bytes the
// pictures are painted from (a texture the pictures pan over, with some bytes written anew
// per picture, so the search has real motion to follow and the mode decision real choices).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "video/encoder/video_encoder.h"
#include "video/recon/picture_decoder.h"

using namespace clipnote::h263;

namespace {

constexpr int32_t kMostPictures = 6;
constexpr size_t kCifPicture = 352 * 288 * 3 / 2;

struct Buffers {
  VideoEncoder encoder;
  std::vector<uint8_t> pictures = std::vector<uint8_t>(kMostPictures * kCifPicture);
  std::vector<uint8_t> references = std::vector<uint8_t>(kMostPictures * kCifPicture);
  std::vector<uint8_t> clip = std::vector<uint8_t>(kMostPictures * kMostVideoPictureBytes);
  std::vector<uint8_t> current = std::vector<uint8_t>(kCurrentPictureBytes);
  std::vector<uint8_t> previous = std::vector<uint8_t>(kPreviousPictureBytes);
  std::vector<uint8_t> reference = std::vector<uint8_t>(kInterpolatedReferenceBytes);
  std::vector<uint8_t> bitBuffer = std::vector<uint8_t>(kBitBufferBytes);
};

struct Keeper {
  Buffers* b;
  size_t pictureBytes;
};

void Keep(void* context, int32_t index, const uint8_t* picture) {
  const Keeper* k = static_cast<const Keeper*>(context);
  std::memcpy(k->b->references.data() + index * k->pictureBytes, picture, k->pictureBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Buffers* b = new Buffers;
  if (size < 3) return 0;
  const uint8_t flags = data[0];
  VideoEncoderSettings settings;
  // CIF costs four times QCIF; one input in eight is CIF, and with at most two pictures.
  const bool cif = (flags & 7) == 7;
  settings.width = cif ? 352 : 176;
  settings.height = cif ? 288 : 144;
  settings.quantiser = 1 + data[1] % 31;
  settings.gobHeaders = (flags & 8) != 0;
  settings.gobPayloadBytes = (flags & 16) != 0 ? 1 + (data[1] >> 2) * 8 : 0;
  // Rates from far too few bits for the pictures to far too many.
  settings.bitsPerSecond = (flags & 32) != 0 ? 1000 + (flags >> 6) * 250000 + data[1] * 400 : 0;
  settings.speed = (data[2] & 0x80) != 0 ? EncoderSpeed::kFast : EncoderSpeed::kThorough;
  const int32_t count = 1 + data[2] % (cif ? 2 : kMostPictures);
  size_t at = 3;
  if (size < at + 2 * static_cast<size_t>(count)) return 0;
  int64_t ticks[kMostPictures];
  int32_t motion[kMostPictures];
  int64_t tick = 0;
  for (int32_t i = 0; i < count; ++i) {
    // Steps of -64..63 ticks, and now and then a jump far past the temporal reference's range.
    const uint8_t step = data[at++];
    tick += (step & 0x80) != 0 ? int64_t{(step & 0x7F) - 64} : int64_t{step} << 20;
    ticks[i] = tick;
    motion[i] = data[at++];
  }
  const uint8_t* paint = data + at;
  const size_t paintBytes = size - at;
  const int32_t w = settings.width;
  const int32_t h = settings.height;
  const size_t pictureBytes = static_cast<size_t>(w) * h * 3 / 2;
  const uint8_t* pointers[kMostPictures];
  int32_t panX = 0;
  int32_t panY = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t* p = b->pictures.data() + i * pictureBytes;
    panX += (motion[i] & 15) - 8;
    panY += ((motion[i] >> 4) & 15) - 8;
    if (paintBytes == 0) {
      std::memset(p, motion[i], pictureBytes);
    } else {
      // A texture of the paint bytes, smooth in blocks of 4, panned by (panX, panY).
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          const uint32_t tx = static_cast<uint32_t>(x + panX + 4096) / 4;
          const uint32_t ty = static_cast<uint32_t>(y + panY + 4096) / 4;
          p[y * w + x] = paint[(tx * 31 + ty * 17) % paintBytes];
        }
      }
      for (size_t k = static_cast<size_t>(w) * h; k < pictureBytes; ++k) {
        p[k] = paint[(k / 8 + i) % paintBytes];
      }
      // Some bytes anew in every picture: noise the search cannot follow.
      for (size_t k = i; k < paintBytes && k < pictureBytes; k += 7) {
        p[(k * 2654435761u) % pictureBytes] = paint[k];
      }
    }
    pointers[i] = p;
  }
  Keeper keeper{b, pictureBytes};
  const VideoClipInput input{pointers, ticks, count, pictureBytes};
  size_t written = 0;
  const int32_t code = EncodeVideoClip(b->encoder, settings, input, 0, b->clip.data(), b->clip.size(),
                                       &written, nullptr, Keep, &keeper);
  if (code != kEncoderOk) std::abort();

  // The stream exactly as long as it is, so any read past it is caught.
  std::vector<uint8_t> clip(b->clip.data(), b->clip.data() + written);
  InitVideoDecoder(b->current.data(), b->previous.data(), b->reference.data(), b->bitBuffer.data(),
                   kVideoWindowSize, kMemorySource, clip.data(), static_cast<int64_t>(clip.size()));
  ProbePictureFormat();
  int32_t decoded = 0;
  while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) {
    if (videoDecoder.mbError != 0 || decoded >= count) std::abort();
    if (std::memcmp(b->current.data(), b->references.data() + decoded * pictureBytes, pictureBytes) != 0) {
      std::abort();
    }
    ++decoded;
  }
  if (decoded != count) std::abort();
  return 0;
}
