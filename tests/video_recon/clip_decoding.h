#pragma once

// Decoding whole clips in tests: the decoder's pictures, ffmpeg's pictures of the
// same clip, and luma PSNR between them.

#include <cstdint>
#include <string>
#include <vector>

struct DecodedClip {
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint8_t>> pictures;  // planar 4:2:0
  int lastResult = 0;                          // DecodePicture's last code
  bool macroblockError = false;  // decoding stopped at a macroblock; later pictures repeat it
  int failedPicture = -1;
  int failedMacroblock = -1;
  // The first picture after which the previous picture was not that picture, or the
  // reference grids differed from a whole build of it (-1: none).
  int firstStaleReference = -1;
};

// Runs the decoder over a whole in-memory clip, as the player does: until
// DecodePicture fails or the sequence ends.
DecodedClip DecodeWithDecoder(const std::vector<uint8_t>& clip);

// True when the decoder's interpolatedReference holds exactly what building it whole
// from its previousPicture gives (the decoder rebuilds only where pictures change).
bool ReferenceIsWholeBuild();

// ffmpeg's decode (into the test's scratch folder) of an H.263 file into planar 4:2:0 pictures of width x height.
std::vector<std::vector<uint8_t>> DecodeWithFfmpeg(const std::string& path, int width, int height);

// Luma PSNR of two pictures of width x height (99 dB for identical pictures).
double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                int height);
