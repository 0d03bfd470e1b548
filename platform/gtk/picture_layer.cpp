#include "platform/gtk/picture_layer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace clipnote::gtk {

PictureLayer::PictureLayer(int width, int height) { Resize(width, height); }

PictureLayer::~PictureLayer() {
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
}

void PictureLayer::Resize(int width, int height) {
  std::lock_guard lock(mutex_);
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
  // A new image surface starts fully transparent.
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_);
}

bool PictureLayer::Draw(int destX, int destY, int destWidth, int destHeight,
                        const BitmapInfoHeader& format, const void* bits, int sourceX,
                        int sourceY, int sourceWidth, int sourceHeight, Rect* dirty) {
  if (bits == nullptr || format.biCompression != kBiRgb || format.biBitCount != 24 ||
      format.biWidth <= 0 || format.biHeight == 0 || format.biWidth > 16384 ||
      std::abs(format.biHeight) > 16384) {
    return false;
  }
  const int imageWidth = format.biWidth;
  const int imageHeight = std::abs(format.biHeight);
  const bool bottomUp = format.biHeight > 0;
  const size_t stride = (static_cast<size_t>(imageWidth) * 3 + 3) & ~size_t{3};

  // The source rectangle, kept inside the image.
  const int x0 = std::clamp(sourceX, 0, imageWidth);
  const int y0 = std::clamp(sourceY, 0, imageHeight);
  const int x1 = std::clamp(sourceX + sourceWidth, x0, imageWidth);
  const int y1 = std::clamp(sourceY + sourceHeight, y0, imageHeight);
  const int width = destWidth < 0 ? x1 - x0 : destWidth;
  const int height = destHeight < 0 ? y1 - y0 : destHeight;
  if (width <= 0 || height <= 0 || x1 == x0 || y1 == y0) return true;

  std::lock_guard lock(mutex_);
  cairo_surface_flush(surface_);
  uint8_t* pixels = cairo_image_surface_get_data(surface_);
  const int layerStride = cairo_image_surface_get_stride(surface_);
  const auto* image = static_cast<const uint8_t*>(bits);
  const int left = std::max(destX, 0);
  const int top = std::max(destY, 0);
  const int right = std::min(destX + width, width_);
  const int bottom = std::min(destY + height, height_);
  for (int y = top; y < bottom; ++y) {
    // Destination row y shows source row sy (counted from the picture's top).
    const int sy = y0 + static_cast<int>(static_cast<int64_t>(y - destY) * (y1 - y0) / height);
    const int storedRow = bottomUp ? imageHeight - 1 - sy : sy;
    const uint8_t* row = image + static_cast<size_t>(storedRow) * stride;
    auto* out = reinterpret_cast<uint32_t*>(pixels + static_cast<size_t>(y) * layerStride);
    for (int x = left; x < right; ++x) {
      const int sx = x0 + static_cast<int>(static_cast<int64_t>(x - destX) * (x1 - x0) / width);
      const uint8_t* pixel = row + static_cast<size_t>(sx) * 3;  // blue, green, red
      out[x] = 0xFF000000u | static_cast<uint32_t>(pixel[2]) << 16 |
               static_cast<uint32_t>(pixel[1]) << 8 | pixel[0];
    }
  }
  cairo_surface_mark_dirty(surface_);
  if (dirty != nullptr) *dirty = {left, top, std::max(right, left), std::max(bottom, top)};
  return true;
}

void PictureLayer::Erase(const Rect* rect) {
  std::lock_guard lock(mutex_);
  cairo_surface_flush(surface_);
  uint8_t* pixels = cairo_image_surface_get_data(surface_);
  const int stride = cairo_image_surface_get_stride(surface_);
  const int left = rect ? std::clamp(rect->left, 0, width_) : 0;
  const int top = rect ? std::clamp(rect->top, 0, height_) : 0;
  const int right = rect ? std::clamp(rect->right, left, width_) : width_;
  const int bottom = rect ? std::clamp(rect->bottom, top, height_) : height_;
  for (int y = top; y < bottom; ++y) {
    std::memset(pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(left) * 4, 0,
                static_cast<size_t>(right - left) * 4);
  }
  cairo_surface_mark_dirty(surface_);
}

void PictureLayer::Paint(cairo_t* cr) {
  std::lock_guard lock(mutex_);
  cairo_save(cr);
  cairo_set_source_surface(cr, surface_, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_paint(cr);
  cairo_restore(cr);
}

bool PictureLayer::AddDirty(const Rect& area) {
  std::lock_guard lock(mutex_);
  if (!hasDirty_) {
    hasDirty_ = true;
    dirty_ = area;
    return true;
  }
  dirty_ = {std::min(dirty_.left, area.left), std::min(dirty_.top, area.top),
            std::max(dirty_.right, area.right), std::max(dirty_.bottom, area.bottom)};
  return false;
}

Rect PictureLayer::TakeDirty() {
  std::lock_guard lock(mutex_);
  hasDirty_ = false;
  return dirty_;
}

uint32_t PictureLayer::PixelAt(int x, int y) {
  std::lock_guard lock(mutex_);
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  cairo_surface_flush(surface_);
  const uint8_t* pixels = cairo_image_surface_get_data(surface_);
  return reinterpret_cast<const uint32_t*>(
      pixels + static_cast<size_t>(y) * cairo_image_surface_get_stride(surface_))[x];
}

}  // namespace clipnote::gtk
