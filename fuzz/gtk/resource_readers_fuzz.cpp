// Arbitrary bytes through the native backend's resource readers. The first
// byte picks the reader; the rest is the resource. Each reader must stay
// inside the bytes it is given, whatever their headers claim.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/gtk/dialog_template.h"
#include "platform/gtk/dib_images.h"
#include "platform/gtk/wave_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipnote::gtk;
  if (size < 1) return 0;
  // A copy of exactly the given length, so reading past it is caught.
  const std::vector<uint8_t> bytes(data + 1, data + size);
  const uint8_t* resource = bytes.empty() ? nullptr : bytes.data();
  switch (data[0] % 5) {
    case 0:
      if (auto dialog = ReadDialogTemplate(resource, bytes.size())) {
        for (const DialogControl& control : dialog->controls) {
          DialogUnitsToPixels(control.rect, 6, 13);
        }
      }
      break;
    case 1:
      ReadDibBitmap(resource, bytes.size());
      break;
    case 2:
      ReadDibIcon(resource, bytes.size());
      break;
    case 3:
      IconGroupImageIds(resource, bytes.size());
      break;
    case 4:
      if (auto sound = ReadWaveImage(resource, bytes.size())) {
        // The sound lies inside the bytes.
        if (sound->samples < resource || sound->samples + sound->bytes > resource + bytes.size()) {
          __builtin_trap();
        }
      }
      if (bytes.size() >= 12) StatedWaveImageSize(resource);
      break;
  }
  return 0;
}
