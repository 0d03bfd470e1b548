// The page's entry points into our H.263 encoder, for a recorder: start a clip, hand it one
// planar 4:2:0 picture at a time with its tick, and take each picture's bytes and the
// reconstruction our decoder will show. One encoder lives here; its buffers are reserved
// when the module loads, so encoding allocates nothing. The encoder reconstructs through the
// decoder's process-wide state, so the page plays no clip in this module while it encodes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/encoder/video_encoder.h"

#include "web/api/web_export.h"

namespace {

using namespace clipnote::h263;

struct WebEncoder {
  VideoEncoder encoder;
  std::vector<uint8_t> picture = std::vector<uint8_t>(352 * 288 * 3 / 2);  // CIF at most
};

WebEncoder& Encoder() {
  static WebEncoder* e = new WebEncoder;
  return *e;
}

}  // namespace

extern "C" {

// Where the page writes the next picture (room for CIF).
CLIPNOTE_WEB_EXPORT uint8_t* cn_encode_video_picture_buffer() { return Encoder().picture.data(); }

// Starts a clip: 176 x 144 or 352 x 288, quantiser 1..31 (the first picture's when
// bitsPerSecond is above 0), GOB headers on every GOB when gobHeaders is not 0, speed 0
// thorough or 1 fast (as clipnote-encode's --speed; left out by a caller, it is 0).
// Returns 0, or 1 for settings the encoder does not take.
CLIPNOTE_WEB_EXPORT int32_t cn_encode_video_start(int32_t width, int32_t height, int32_t quantiser,
                                                  int32_t bitsPerSecond, int32_t gobHeaders,
                                                  int32_t speed) {
  if (speed != 0 && speed != 1) return 1;
  VideoEncoderSettings settings;
  settings.width = width;
  settings.height = height;
  settings.quantiser = quantiser;
  settings.bitsPerSecond = bitsPerSecond;
  settings.gobHeaders = gobHeaders != 0;
  settings.speed = speed == 1 ? EncoderSpeed::kFast : EncoderSpeed::kThorough;
  return Encoder().encoder.Start(settings);
}

// Encodes the picture in the buffer at `tick` (30000/1001 Hz; a tick not after the last one
// is taken as the next). Returns 0 or the encoder's refusal.
CLIPNOTE_WEB_EXPORT int32_t cn_encode_video_picture(double tick) {
  WebEncoder& e = Encoder();
  return e.encoder.EncodePicture(e.picture.data(), e.picture.size(), static_cast<int64_t>(tick));
}

// The last picture's bytes (append them to the clip) and what our decoder shows for it.
CLIPNOTE_WEB_EXPORT const uint8_t* cn_encode_video_output() { return Encoder().encoder.PictureData(); }
CLIPNOTE_WEB_EXPORT int32_t cn_encode_video_output_bytes() {
  return static_cast<int32_t>(Encoder().encoder.PictureBytes());
}
CLIPNOTE_WEB_EXPORT const uint8_t* cn_encode_video_reconstruction() {
  return Encoder().encoder.Reconstruction();
}

}  // extern "C"
