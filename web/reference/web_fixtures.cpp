// web-fixtures: what the page's tests compare with, made by the native code.
//
//   web-fixtures exe MOVIE.263 VOICE.723 OUT.exe
//       a message executable carrying the two clips (as make-message's player would)
//   web-fixtures display IN.yuv INDEX OUT.rgb
//       picture INDEX of clipnote-decode's QCIF output converted for display as the
//       player converts it: 176 x 144 then the doubled 352 x 288, RGB bytes, top row first

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "message/pe_builder.h"
#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"

using namespace clipnote::h263;

namespace {

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// BGR rows bottom-up to RGB rows top-down.
void AppendRgb(const std::vector<uint8_t>& bgr, int columns, int rows, std::vector<uint8_t>& out) {
  for (int y = rows - 1; y >= 0; --y) {
    for (int x = 0; x < columns; ++x) {
      const uint8_t* pixel = &bgr[(static_cast<size_t>(y) * columns + x) * 3];
      out.insert(out.end(), {pixel[2], pixel[1], pixel[0]});
    }
  }
}

int Display(const char* yuvPath, int index, const char* outPath) {
  constexpr int kColumns = 176, kRows = 144;
  constexpr size_t kPictureBytes = kColumns * kRows * 3 / 2;
  const std::vector<uint8_t> yuv = ReadFile(yuvPath);
  if (index < 0 || (static_cast<size_t>(index) + 1) * kPictureBytes > yuv.size()) {
    std::fprintf(stderr, "web-fixtures: %s has no picture %d\n", yuvPath, index);
    return 1;
  }
  BuildColourTables();
  std::vector<uint8_t> native(kColumns * kRows * 3), doubled(kColumns * kRows * 12), rgb;
  ConvertToBgr24(&yuv[index * kPictureBytes], native.data(), kRows, kColumns);
  DoubleBgr24(native.data(), doubled.data(), kColumns, kRows);
  AppendRgb(native, kColumns, kRows, rgb);
  AppendRgb(doubled, kColumns * 2, kRows * 2, rgb);
  return WriteFile(outPath, rgb) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "exe" && argc == 5) {
    const auto layout = pe_builder::Build({{263, "MOVIE", 0x409, ReadFile(argv[2])}, {723, "VOICE", 0x409, ReadFile(argv[3])}});
    return WriteFile(argv[4], layout.bytes) ? 0 : 1;
  }
  if (command == "display" && argc == 5) return Display(argv[2], std::atoi(argv[3]), argv[4]);
  std::fprintf(stderr, "usage: web-fixtures exe MOVIE.263 VOICE.723 OUT.exe | display IN.yuv INDEX OUT.rgb\n");
  return 2;
}
