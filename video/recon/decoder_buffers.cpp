#include "video/recon/decoder_buffers.h"

#include <algorithm>

namespace clipnote::h263 {

void StartVideoClip(VideoDecoderBuffers& buffers, const uint8_t* clip, size_t size) {
  for (std::vector<uint8_t>* b : {&buffers.currentPicture, &buffers.previousPicture,
                                  &buffers.interpolatedReference, &buffers.bitBuffer}) {
    std::fill(b->begin(), b->end(), 0);
  }
  InitVideoDecoder(buffers.currentPicture.data(), buffers.previousPicture.data(),
                   buffers.interpolatedReference.data(), buffers.bitBuffer.data(),
                   kVideoWindowSize, kMemorySource, clip, static_cast<int64_t>(size));
}

int64_t VideoReaderOffset() {
  const VideoDecoder& d = videoDecoder;
  return d.streamOffset - d.windowSize + d.bytePos;
}

}  // namespace clipnote::h263
