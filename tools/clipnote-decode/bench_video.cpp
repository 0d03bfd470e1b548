// The video decoder as `clipnote-decode bench video` measures it: one whole clip
// through InitVideoDecoder, ProbePictureFormat and DecodePicture until the clip
// ends, on zeroed player-sized buffers, as the player's video thread runs it.

#include <memory>

#include "tools/clipnote-decode/bench_subject.h"
#include "video/recon/decoder_buffers.h"
#include "video/recon/picture_decoder.h"

using namespace clipnote::h263;

namespace {

class VideoBenchSubject final : public BenchSubject {
 public:
  const char* UnitName() const override { return "pictures"; }

  bool Prepare(const std::vector<uint8_t>& input, std::string& error) override {
    input_ = input;
    StartVideoClip(buffers_, input_.data(), input_.size());
    const int32_t code = ProbePictureFormat();
    if (code != 0) {
      error = "not a baseline H.263 QCIF or CIF clip (first picture header: code " +
              std::to_string(code) + ")";
      return false;
    }
    return true;
  }

  uint64_t RunOnce() override {
    StartVideoClip(buffers_, input_.data(), input_.size());
    ProbePictureFormat();
    uint64_t pictures = 0;
    while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) {
      ++pictures;
      if (videoDecoder.mbError != 0) break;
    }
    return pictures;
  }

 private:
  std::vector<uint8_t> input_;
  VideoDecoderBuffers buffers_;
};

}  // namespace

std::unique_ptr<BenchSubject> MakeVideoBenchSubject() { return std::make_unique<VideoBenchSubject>(); }
