#include "platform/gtk/dib_images.h"

namespace clipnote::gtk {

namespace {

constexpr size_t kInfoHeaderBytes = 40;
constexpr uint32_t kBiRgb = 0;

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

size_t RowBytes(int width, int bitsPerPixel) {
  return (static_cast<size_t>(width) * bitsPerPixel + 31) / 32 * 4;
}

// Decodes the colour rows of a DIB whose header says `rows` rows are present
// (the icon's header counts its mask too, so the caller passes the real
// height). Leaves `after` at the first byte behind the colour rows.
std::optional<RgbaImage> ReadColourRows(const uint8_t* data, size_t size, int height,
                                        size_t& after) {
  if (data == nullptr || size < kInfoHeaderBytes) return std::nullopt;
  const uint32_t headerBytes = Read32(data);
  const auto width = static_cast<int32_t>(Read32(data + 4));
  const uint16_t bits = Read16(data + 14);
  const uint32_t compression = Read32(data + 16);
  const uint32_t coloursUsed = Read32(data + 32);
  if (headerBytes < kInfoHeaderBytes || headerBytes > size || width <= 0 || width > 4096 ||
      height <= 0 || height > 4096 || compression != kBiRgb) {
    return std::nullopt;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;

  size_t paletteEntries = 0;
  if (bits <= 8) paletteEntries = coloursUsed != 0 ? coloursUsed : size_t{1} << bits;
  if (paletteEntries > 256) return std::nullopt;
  const size_t paletteAt = headerBytes;
  const size_t rowsAt = paletteAt + paletteEntries * 4;
  const size_t rowBytes = RowBytes(width, bits);
  if (rowsAt > size || (size - rowsAt) / rowBytes < static_cast<size_t>(height)) {
    return std::nullopt;
  }

  RgbaImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = data + rowsAt + static_cast<size_t>(height - 1 - y) * rowBytes;
    uint8_t* out = &image.pixels[static_cast<size_t>(y) * width * 4];
    for (int x = 0; x < width; ++x, out += 4) {
      uint8_t blue, green, red;
      if (bits <= 8) {
        const int perByte = 8 / bits;
        const int shift = 8 - bits * (x % perByte + 1);
        const size_t index = (row[x / perByte] >> shift) & ((1u << bits) - 1);
        // A pixel naming a colour the table does not have is drawn black.
        const uint8_t* entry = index < paletteEntries ? data + paletteAt + index * 4 : nullptr;
        blue = entry ? entry[0] : 0;
        green = entry ? entry[1] : 0;
        red = entry ? entry[2] : 0;
      } else {
        const uint8_t* pixel = row + static_cast<size_t>(x) * (bits / 8);
        blue = pixel[0];
        green = pixel[1];
        red = pixel[2];
      }
      out[0] = red;
      out[1] = green;
      out[2] = blue;
      out[3] = 255;
    }
  }
  after = rowsAt + rowBytes * height;
  return image;
}

}  // namespace

std::optional<RgbaImage> ReadDibBitmap(const uint8_t* data, size_t size) {
  if (data == nullptr || size < kInfoHeaderBytes) return std::nullopt;
  const auto height = static_cast<int32_t>(Read32(data + 8));
  if (height <= 0) return std::nullopt;  // top-down bitmaps are not used for resources
  size_t after = 0;
  return ReadColourRows(data, size, height, after);
}

std::optional<RgbaImage> ReadDibIcon(const uint8_t* data, size_t size) {
  if (data == nullptr || size < kInfoHeaderBytes) return std::nullopt;
  const auto stated = static_cast<int32_t>(Read32(data + 8));
  if (stated <= 0 || stated % 2 != 0) return std::nullopt;
  const int height = stated / 2;
  size_t maskAt = 0;
  std::optional<RgbaImage> image = ReadColourRows(data, size, height, maskAt);
  if (!image) return std::nullopt;
  const size_t maskRow = RowBytes(image->width, 1);
  if (maskAt > size || (size - maskAt) / maskRow < static_cast<size_t>(height)) {
    return image;  // no mask: the icon is drawn opaque
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = data + maskAt + static_cast<size_t>(height - 1 - y) * maskRow;
    for (int x = 0; x < image->width; ++x) {
      if ((row[x / 8] >> (7 - x % 8)) & 1) {
        image->pixels[(static_cast<size_t>(y) * image->width + x) * 4 + 3] = 0;
      }
    }
  }
  return image;
}

std::vector<uint16_t> IconGroupImageIds(const uint8_t* data, size_t size) {
  std::vector<uint16_t> ids;
  constexpr size_t kDirectoryBytes = 6;
  constexpr size_t kEntryBytes = 14;
  if (data == nullptr || size < kDirectoryBytes || Read16(data + 2) != 1) return ids;
  const uint16_t count = Read16(data + 4);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = kDirectoryBytes + i * kEntryBytes;
    if (at + kEntryBytes > size) break;
    ids.push_back(Read16(data + at + 12));
  }
  return ids;
}

}  // namespace clipnote::gtk
