// Feeds arbitrary bytes through the whole bitstream parser the way the picture driver walks a
// clip: picture header, GOB headers, every macroblock, alignment, next picture. The first byte
// picks the window size and the source kind, so window advances and both sources are exercised
// at every position of the data.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "video/parser/bit_reader.h"
#include "video/parser/bitstream_init.h"
#include "video/parser/macroblock_syntax.h"
#include "video/parser/motion_vectors.h"
#include "video/parser/picture_headers.h"

using namespace clipnote::h263;

namespace {

struct FuzzFile {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int32_t ReadFuzzFile(void* handle, uint8_t* dest, int32_t count) {
  auto* f = static_cast<FuzzFile*>(handle);
  size_t n = f->size - f->pos;
  if (n > static_cast<size_t>(count)) n = static_cast<size_t>(count);
  if (n > 7) n = 7;  // short reads
  std::memcpy(dest, f->data + f->pos, n);
  f->pos += n;
  return static_cast<int32_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static constexpr int32_t kWindows[8] = {4, 5, 7, 16, 64, 200, 1024, 8192};
  const int32_t window = kWindows[data[0] & 7];
  const bool fromFile = (data[0] & 8) != 0;
  ++data;
  --size;

  // Exact-size buffers, so any read or write outside them is caught.
  std::vector<uint8_t> bitBuffer(2 * static_cast<size_t>(window));
  InitBitstream(3, bitBuffer.data(), nullptr, nullptr);
  FuzzFile file{data, size, 0};
  const BitFileSource fileSource{&file, ReadFuzzFile};
  if (fromFile) {
    SetBitSource(0, window, &fileSource, 0, bitBuffer.data());
  } else {
    SetBitSource(kMemorySource, window, data, static_cast<int64_t>(size), bitBuffer.data());
  }

  VideoDecoder& d = videoDecoder;
  auto luma = std::make_unique<std::array<int8_t, 256>>();
  auto cb = std::make_unique<std::array<int8_t, 64>>();
  auto cr = std::make_unique<std::array<int8_t, 64>>();
  d.mbError = 0;
  for (int picture = 0; picture < 1000; ++picture) {
    if (ParsePictureHeader() != kParseOk || d.endOfSequence) break;
    d.mbsPerGob = d.sourceFormat == 2 ? 11 : 22;
    d.gobsPerPicture = d.sourceFormat == 2 ? 9 : 18;
    ClearMvStore();
    BeginPictureSyntax();
    for (; d.gobIndex < d.gobsPerPicture; ++d.gobIndex) {
      if (d.gobIndex == 0) {
        d.gobHeaderPresent = 0;
        d.mvPredictionMode = 1;
      } else {
        ParseGobHeader();
        d.mvPredictionMode = d.gobHeaderPresent ? 1 : 3;
      }
      d.quant = d.gquant;
      ResetMacroblockState();
      for (int mb = 0; mb < d.mbsPerGob && d.mbError == 0; ++mb) {
        d.mbIndex = static_cast<uint16_t>(d.gobIndex * d.mbsPerGob + mb);
        d.mbError = DecodeMacroblockSyntax(luma->data(), cb->data(), cr->data());
        if (d.mbType > kMbIntraQ || d.mvX < -32 || d.mvX > 31 || d.mvY < -32 || d.mvY > 31) {
          __builtin_trap();  // the syntax reader promised otherwise
        }
      }
    }
    AlignToByte();
    d.mbError = 0;  // keep parsing later pictures, unlike the player
  }
  return 0;
}
