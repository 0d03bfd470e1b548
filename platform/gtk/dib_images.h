#pragma once

// Device-independent bitmaps as resources carry them (a BITMAPINFOHEADER, a
// colour table, the rows bottom-up), turned into straight RGBA pixels for the
// window: the logo bitmap and the images of the icon.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace clipnote::gtk {

struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // rows top-down, 4 bytes a pixel: red, green, blue, alpha
};

// A bitmap resource: uncompressed 1, 4, 8, 24 or 32 bits per pixel. Fully opaque.
std::optional<RgbaImage> ReadDibBitmap(const uint8_t* data, size_t size);

// An icon image resource in DIB form: the header states twice the icon's
// height, the colour rows are followed by a 1-bit mask whose set bits are
// transparent.
std::optional<RgbaImage> ReadDibIcon(const uint8_t* data, size_t size);

// The images an icon group resource lists, as the ids of their icon resources.
std::vector<uint16_t> IconGroupImageIds(const uint8_t* data, size_t size);

}  // namespace clipnote::gtk
