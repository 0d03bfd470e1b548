#pragma once

// What DrawDibDraw paints into a window: a layer over the window's controls,
// kept in a surface of the client area's size. Any thread may draw into it
// (the video thread does); the window thread paints it on the screen each time
// GTK draws the window, and an erasing invalidation clears it, as the
// background erase clears a Win32 window's picture.

#include <cairo.h>

#include <cstdint>
#include <mutex>

#include "platform/platform.h"

namespace clipnote::gtk {

class PictureLayer {
 public:
  PictureLayer(int width, int height);
  ~PictureLayer();
  PictureLayer(const PictureLayer&) = delete;
  PictureLayer& operator=(const PictureLayer&) = delete;

  // A new client size; the content is cleared.
  void Resize(int width, int height);

  // Copies a BI_RGB image of 24 bits per pixel (rows bottom-up for a positive
  // height, top-down for a negative one, each padded to 4 bytes) onto the
  // layer: the source rectangle, at its own size when destWidth and
  // destHeight are -1 (or scaled to them), with its corner at (destX, destY).
  // Clipped to the layer. False for any other image format. On success
  // *dirty is the area that changed.
  bool Draw(int destX, int destY, int destWidth, int destHeight, const BitmapInfoHeader& format,
            const void* bits, int sourceX, int sourceY, int sourceWidth, int sourceHeight,
            Rect* dirty);

  // Clears the layer within rect (all of it when rect is null).
  void Erase(const Rect* rect);

  // Paints the layer over whatever cr has drawn already.
  void Paint(cairo_t* cr);

  // Collects an area to show; true when it is the first since the last
  // TakeDirty, i.e. when a redraw must be asked for.
  bool AddDirty(const Rect& area);
  Rect TakeDirty();

  // One pixel as 0xAARRGGBB (alpha 0: nothing drawn there); for tests.
  uint32_t PixelAt(int x, int y);

 private:
  std::mutex mutex_;
  cairo_surface_t* surface_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  bool hasDirty_ = false;
  Rect dirty_;
};

}  // namespace clipnote::gtk
