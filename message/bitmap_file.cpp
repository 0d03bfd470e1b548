#include "message/bitmap_file.h"

namespace clipnote::message {

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;  // OS/2 style: 3-byte colour entries
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kBitfields = 3;

}  // namespace

std::optional<std::vector<uint8_t>> BitmapFileFromResource(Bytes resource, std::string& reason) {
  if (!Fits(resource, 0, 4) || !Fits(resource, 0, U32At(resource, 0))) {
    reason = "the bitmap resource is shorter than its header";
    return std::nullopt;
  }
  const uint32_t headerBytes = U32At(resource, 0);
  uint64_t colourBytes;
  if (headerBytes == kCoreHeaderBytes) {
    const uint16_t bits = U16At(resource, 10);
    colourBytes = bits <= 8 ? 3ull << bits : 0;
  } else if (headerBytes >= kInfoHeaderBytes) {
    const uint16_t bits = U16At(resource, 14);
    const uint32_t used = U32At(resource, 32);
    const uint64_t colours = used != 0 ? used : bits <= 8 ? 1ull << bits : 0;
    colourBytes = 4 * colours;
    if (headerBytes == kInfoHeaderBytes && U32At(resource, 16) == kBitfields) colourBytes += 12;
  } else {
    reason = "the bitmap resource has an unknown header of " + std::to_string(headerBytes) + " bytes";
    return std::nullopt;
  }
  const uint64_t pixelsAt = uint64_t{headerBytes} + colourBytes;
  if (!Fits(resource, 0, pixelsAt)) {
    reason = "the bitmap resource's colour table runs past its end";
    return std::nullopt;
  }
  const uint64_t fileBytes = kFileHeaderBytes + resource.size();
  if (fileBytes > 0xFFFFFFFFu) {
    reason = "the bitmap resource is too large for a .bmp file";
    return std::nullopt;
  }
  std::vector<uint8_t> file(kFileHeaderBytes);
  auto put32 = [&file](size_t at, uint64_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, fileBytes);
  put32(10, kFileHeaderBytes + pixelsAt);
  file.insert(file.end(), resource.begin(), resource.end());
  return file;
}

}  // namespace clipnote::message
