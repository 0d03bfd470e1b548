// The layer DrawDibDraw paints into: where each stored row lands (bottom-up or
// top-down), scaling, clipping to the layer, images it refuses, and the areas
// collected for the next redraw. No display needed: the layer is an image surface.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gtk/picture_layer.h"

namespace clipnote::gtk {
namespace {

constexpr uint32_t A = 0xFF030201, B = 0xFF060504, C = 0xFF090807, D = 0xFF0C0B0A, o = 0;

// A 2 x 2 picture as 24-bit rows of 8 bytes (6 and 2 of padding): stored row 0 holds
// A B, stored row 1 holds C D.
const uint8_t kRows[16] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12, 0xEE, 0xEE};

BitmapInfoHeader Format(int32_t width, int32_t height, uint16_t bits = 24, uint32_t compression = kBiRgb) {
  BitmapInfoHeader format{};
  format.biSize = sizeof format;
  format.biWidth = width;
  format.biHeight = height;
  format.biPlanes = 1;
  format.biBitCount = bits;
  format.biCompression = compression;
  return format;
}

std::vector<uint32_t> Pixels(PictureLayer& layer) {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) pixels.push_back(layer.PixelAt(x, y));
  }
  return pixels;
}

TEST(PictureLayerTest, DrawsEachRowWhereItsOrderSaysClippedToTheLayer) {
  const struct {
    const char* what;
    BitmapInfoHeader format;
    const uint8_t* bits;
    int destX, destY, destWidth, destHeight, sourceX, sourceY, sourceWidth, sourceHeight;
    bool drawn;
    std::vector<uint32_t> layer;  // 4 x 4, rows from the top
    Rect dirty;
  } rows[] = {
      {"bottom-up at its size", Format(2, 2), kRows, 1, 1, -1, -1, 0, 0, 2, 2, true,
       {o, o, o, o, o, C, D, o, o, A, B, o, o, o, o, o}, {1, 1, 3, 3}},
      {"top-down", Format(2, -2), kRows, 1, 1, -1, -1, 0, 0, 2, 2, true,
       {o, o, o, o, o, A, B, o, o, C, D, o, o, o, o, o}, {1, 1, 3, 3}},
      {"doubled", Format(2, 2), kRows, 0, 0, 4, 4, 0, 0, 2, 2, true,
       {C, C, D, D, C, C, D, D, A, A, B, B, A, A, B, B}, {0, 0, 4, 4}},
      {"past the layer's corner", Format(2, 2), kRows, 3, 3, -1, -1, 0, 0, 2, 2, true,
       {o, o, o, o, o, o, o, o, o, o, o, o, o, o, o, C}, {3, 3, 4, 4}},
      {"before the layer's corner", Format(2, 2), kRows, -1, -1, -1, -1, 0, 0, 2, 2, true,
       {B, o, o, o, o, o, o, o, o, o, o, o, o, o, o, o}, {0, 0, 1, 1}},
      {"part of the picture", Format(2, 2), kRows, 0, 0, -1, -1, 1, 0, 1, 1, true,
       {D, o, o, o, o, o, o, o, o, o, o, o, o, o, o, o}, {0, 0, 1, 1}},
      {"a source past the picture", Format(2, 2), kRows, 0, 0, -1, -1, 1, 1, 5, 5, true,
       {B, o, o, o, o, o, o, o, o, o, o, o, o, o, o, o}, {0, 0, 1, 1}},
      {"nothing of the picture", Format(2, 2), kRows, 0, 0, -1, -1, 0, 0, 0, 2, true, std::vector<uint32_t>(16, o),
       {9, 9, 9, 9}},
      {"8 bits a pixel", Format(2, 2, 8), kRows, 0, 0, -1, -1, 0, 0, 2, 2, false, std::vector<uint32_t>(16, o),
       {9, 9, 9, 9}},
      {"compressed", Format(2, 2, 24, 1), kRows, 0, 0, -1, -1, 0, 0, 2, 2, false, std::vector<uint32_t>(16, o),
       {9, 9, 9, 9}},
      {"no bits", Format(2, 2), nullptr, 0, 0, -1, -1, 0, 0, 2, 2, false, std::vector<uint32_t>(16, o),
       {9, 9, 9, 9}},
      {"no rows", Format(2, 0), kRows, 0, 0, -1, -1, 0, 0, 2, 2, false, std::vector<uint32_t>(16, o), {9, 9, 9, 9}},
      {"16385 pixels wide", Format(16385, 1), kRows, 0, 0, -1, -1, 0, 0, 2, 2, false, std::vector<uint32_t>(16, o),
       {9, 9, 9, 9}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    PictureLayer layer(4, 4);
    Rect dirty{9, 9, 9, 9};  // left as it was where nothing is drawn
    EXPECT_EQ(layer.Draw(row.destX, row.destY, row.destWidth, row.destHeight, row.format, row.bits, row.sourceX,
                         row.sourceY, row.sourceWidth, row.sourceHeight, &dirty),
              row.drawn);
    EXPECT_EQ(Pixels(layer), row.layer);
    EXPECT_EQ(dirty.left, row.dirty.left);
    EXPECT_EQ(dirty.top, row.dirty.top);
    EXPECT_EQ(dirty.right, row.dirty.right);
    EXPECT_EQ(dirty.bottom, row.dirty.bottom);
  }
}

// Pictures drawn while a redraw is on its way join it: one request, covering them all.
TEST(PictureLayerTest, AreasDrawnBeforeTheRedrawJoinIt) {
  PictureLayer layer(4, 4);
  EXPECT_TRUE(layer.AddDirty({1, 1, 2, 2}));
  EXPECT_FALSE(layer.AddDirty({0, 2, 1, 4}));
  EXPECT_FALSE(layer.AddDirty({3, 0, 4, 1}));
  const Rect joined = layer.TakeDirty();
  EXPECT_EQ(joined.left, 0);
  EXPECT_EQ(joined.top, 0);
  EXPECT_EQ(joined.right, 4);
  EXPECT_EQ(joined.bottom, 4);
  EXPECT_TRUE(layer.AddDirty({2, 2, 3, 3})) << "after the redraw took them, a new one is needed";

  // An erase clears its area only, clipped to the layer.
  ASSERT_TRUE(layer.Draw(0, 0, 4, 4, Format(2, 2), kRows, 0, 0, 2, 2, nullptr));
  const Rect corner{2, 2, 9, 9};
  layer.Erase(&corner);
  EXPECT_EQ(Pixels(layer), (std::vector<uint32_t>{C, C, D, D, C, C, D, D, A, A, o, o, A, A, o, o}));
  layer.Erase(nullptr);
  EXPECT_EQ(Pixels(layer), std::vector<uint32_t>(16, o));
}

}  // namespace
}  // namespace clipnote::gtk
