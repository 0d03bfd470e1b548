// Writes every picture of an H.263 clip as the player shows it: converted by
// our decoder and colour conversion, at native size and doubled, each as
// top-down RGB (the byte order of a screenshot), pictures back to back.
//
//   expected_pictures IN.263 NATIVE.rgb DOUBLED.rgb
// Prints the number of pictures.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"
#include "video/recon/decoder_buffers.h"

using namespace clipnote::h263;

namespace {

// Bottom-up BGR rows to top-down RGB rows.
void AppendTopDownRgb(const std::vector<uint8_t>& bgr, int width, int height,
                      std::vector<uint8_t>& out) {
  for (int row = height - 1; row >= 0; --row) {
    const uint8_t* pixel = bgr.data() + static_cast<size_t>(row) * width * 3;
    for (int x = 0; x < width; ++x, pixel += 3) {
      out.push_back(pixel[2]);
      out.push_back(pixel[1]);
      out.push_back(pixel[0]);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: expected_pictures IN.263 NATIVE.rgb DOUBLED.rgb\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> clip{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
  if (clip.empty()) {
    std::fprintf(stderr, "expected_pictures: cannot read %s\n", argv[1]);
    return 1;
  }
  BuildColourTables();
  VideoDecoderBuffers buffers;
  StartVideoClip(buffers, clip.data(), clip.size());
  ProbePictureFormat();
  std::vector<uint8_t> native(176 * 144 * 3), doubled(352 * 288 * 3);
  std::vector<uint8_t> nativeOut, doubledOut;
  int pictures = 0;
  while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) {
    ConvertToBgr24(buffers.currentPicture.data(), native.data(), 144, 176);
    DoubleBgr24(native.data(), doubled.data(), 176, 144);
    AppendTopDownRgb(native, 176, 144, nativeOut);
    AppendTopDownRgb(doubled, 352, 288, doubledOut);
    ++pictures;
  }
  std::ofstream(argv[2], std::ios::binary)
      .write(reinterpret_cast<const char*>(nativeOut.data()), nativeOut.size());
  std::ofstream(argv[3], std::ios::binary)
      .write(reinterpret_cast<const char*>(doubledOut.data()), doubledOut.size());
  std::printf("%d\n", pictures);
  return 0;
}
