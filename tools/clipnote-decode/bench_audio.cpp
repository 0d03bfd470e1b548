// The speech decoder as `clipnote-decode bench audio` measures it: one whole clip through
// Create, Reset, DecodeVoiceClip and Release, as the player's audio preparation runs it.

#include <algorithm>
#include <memory>

#include "audio/audio_decoder.h"
#include "audio/voice_clip.h"
#include "tools/clipnote-decode/bench_subject.h"

// The speech decoder's names.
using namespace clipnote::speech;

namespace {

class AudioBenchSubject final : public BenchSubject {
 public:
  explicit AudioBenchSubject(bool voiceClip) : voiceClip_(voiceClip) {}

  const char* UnitName() const override { return "samples"; }

  bool Prepare(const std::vector<uint8_t>& input, std::string& error) override {
    input_ = input;
    if (voiceClip_) {
      const VoiceClipError parsed = ParseVoiceClip(input_.data(), input_.size(), clip_);
      if (parsed != VoiceClipError::None) {
        error = VoiceClipErrorText(parsed);
        return false;
      }
      // The whole reserved area is allocated here, as the player does before decoding; a
      // huge prefix is bounded by what the frames can actually produce.
      const uint64_t needed = static_cast<uint64_t>(clip_.codedByteCount) * 480;
      area_ = static_cast<uint32_t>(std::min<uint64_t>(clip_.pcmCapacity + 480ull, needed));
    } else {
      if (input_.size() > 0xFFFFFFFFu / 480) {
        error = "the stream is too large";
        return false;
      }
      clip_.coded = input_.data();
      clip_.codedByteCount = static_cast<uint32_t>(input_.size());
      area_ = clip_.codedByteCount * 480;
    }
    pcm_.assign(area_, 0);
    return true;
  }

  uint64_t RunOnce() override {
    AudioDecoder decoder;
    if (!decoder.Create()) return 0;
    decoder.Reset(Rate::Rate53);
    uint32_t offset = 0;
    const VoiceDecodeResult result =
        DecodeVoiceClip(decoder, clip_.codedByteCount, clip_.coded, pcm_.data(), area_, offset);
    decoder.Release();
    return result.pcmBytes / 2;
  }

 private:
  bool voiceClip_;
  std::vector<uint8_t> input_;
  VoiceClip clip_;
  uint32_t area_ = 0;
  std::vector<uint8_t> pcm_;
};

}  // namespace

std::unique_ptr<BenchSubject> MakeAudioBenchSubject(bool voiceClip) {
  return std::make_unique<AudioBenchSubject>(voiceClip);
}
