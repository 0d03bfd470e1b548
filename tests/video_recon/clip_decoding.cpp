#include "clip_decoding.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "support/test_support.h"

#include "video/recon/decoder_buffers.h"
#include "video/recon/picture_decoder.h"
#include "video/recon/reference_grids.h"

using namespace clipnote::h263;

bool ReferenceIsWholeBuild() {
  const VideoDecoder& d = videoDecoder;
  const int w = d.width, h = d.height;
  std::vector<uint8_t> whole(static_cast<size_t>(12) * w * h);
  BuildLumaGrid(d.previousPicture, w, h, whole.data());
  BuildChromaGrid(d.previousPicture + w * h, w / 2, h / 2, whole.data() + 4 * w * h);
  BuildChromaGrid(d.previousPicture + w * h + (w / 2) * (h / 2), w / 2, h / 2,
                  whole.data() + 8 * w * h);
  return std::equal(whole.begin(), whole.end(), d.interpolatedReference);
}

DecodedClip DecodeWithDecoder(const std::vector<uint8_t>& clip) {
  static VideoDecoderBuffers buffers;
  DecodedClip out;
  StartVideoClip(buffers, clip.data(), clip.size());
  out.lastResult = ProbePictureFormat();
  if (out.lastResult != 0) return out;
  out.width = videoDecoder.width;
  out.height = videoDecoder.height;
  const size_t bytes = static_cast<size_t>(out.width) * out.height * 3 / 2;
  for (;;) {
    out.lastResult = DecodePicture();
    if (out.lastResult != 0 || videoDecoder.endOfSequence != 0) break;
    out.pictures.emplace_back(videoDecoder.currentPicture, videoDecoder.currentPicture + bytes);
    const bool previousIsThisPicture =
        std::equal(out.pictures.back().begin(), out.pictures.back().end(),
                   videoDecoder.previousPicture);
    if (out.firstStaleReference < 0 && (!previousIsThisPicture || !ReferenceIsWholeBuild())) {
      out.firstStaleReference = static_cast<int>(out.pictures.size()) - 1;
    }
    if (videoDecoder.mbError != 0 && !out.macroblockError) {
      out.macroblockError = true;
      out.failedPicture = static_cast<int>(out.pictures.size()) - 1;
      out.failedMacroblock = videoDecoder.failedMbIndex;
    }
  }
  return out;
}

std::vector<std::vector<uint8_t>> DecodeWithFfmpeg(const std::string& path, int width,
                                                   int height) {
  const std::string raw = support::Scratch(std::filesystem::path(path).filename().string() + ".yuv");
  std::vector<std::vector<uint8_t>> pictures;
  // Passthrough keeps one output picture per coded picture, whatever the timestamps.
  if (support::RunShell("ffmpeg -v error -y -i '" + path +
                        "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" + raw + "'").status != 0) {
    return pictures;
  }
  const std::vector<uint8_t> all = support::ReadFile(raw);
  const size_t bytes = static_cast<size_t>(width) * height * 3 / 2;
  for (size_t at = 0; at + bytes <= all.size(); at += bytes) {
    pictures.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                          all.begin() + static_cast<std::ptrdiff_t>(at + bytes));
  }
  return pictures;
}

double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                int height) {
  double squared = 0;
  const int n = width * height;
  for (int i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    squared += d * d;
  }
  if (squared == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * n / squared);
}
