#include <new>

#include "app/media_decoders.h"
#include "app/message_player.h"
#include "audio/audio_decoder.h"
#include "video/recon/colour_conversion.h"
#include "video/recon/picture_decoder.h"

namespace clipnote {

namespace {

class ProcessVideoDecoder final : public VideoDecoding {
 public:
  void InitVideoDecoder(MessagePlayer& player) override {
    h263::InitVideoDecoder(player.currentPicture, player.previousPicture,
                       player.interpolatedReference, player.bitBuffer, player.bitBufferSize / 2,
                       h263::kMemorySource, player.videoClip, player.videoClipSize);
  }
  int ProbePictureFormat() override { return h263::ProbePictureFormat(); }
  int DecodePicture() override { return h263::DecodePicture(); }
  uint8_t TemporalReference() override {
    return static_cast<uint8_t>(h263::videoDecoder.temporalReference & 0xFF);
  }
  bool EndOfSequence() override { return h263::videoDecoder.endOfSequence != 0; }
  void ConvertToBgr24(const uint8_t* picture, uint8_t* image, int rows, int columns) override {
    h263::ConvertToBgr24(picture, image, rows, columns);
  }
  void DoubleBgr24(const uint8_t* image, uint8_t* doubled, int columns, int rows) override {
    h263::DoubleBgr24(image, doubled, columns, rows);
  }
};

// The speech decoder's buffer hooks take no context: they reach the platform
// of the decoding run in progress (there is only ever one).
Platform* speechPlatform = nullptr;

void* AllocateSpeechBuffer(uint32_t bytes) { return speechPlatform->GlobalAlloc(kGmemFixed, bytes); }
void ReleaseSpeechBuffer(void* block) { speechPlatform->GlobalFree(block); }

class ProcessSpeechDecoder final : public SpeechDecoding {
 public:
  SpeechDecodeResult DecodeSpeech(Platform& os, const uint8_t* coded, uint32_t codedBytes,
                                  uint8_t* pcm, uint32_t pcmAreaBytes,
                                  SpeechAbortPoll abortPoll) override {
    SpeechDecodeResult result;
    speechPlatform = &os;
    speech::AudioDecoder* decoder = new (std::nothrow) speech::AudioDecoder;
    if (decoder == nullptr || !decoder->Create({AllocateSpeechBuffer, ReleaseSpeechBuffer})) {
      delete decoder;
      result.failed = true;
      return result;
    }
    decoder->Reset(speech::Rate::Rate53);
    uint32_t inputOffset = 0;
    const speech::VoiceDecodeResult decoded =
        DecodeVoiceClip(*decoder, codedBytes, coded, pcm, pcmAreaBytes, inputOffset,
                        speech::AbortPoll{abortPoll.requested, abortPoll.context});
    // Released on an abort too: nothing is left behind by a closed window.
    decoder->Release();
    delete decoder;
    result.pcmBytes = decoded.pcmBytes;
    result.aborted = decoded.aborted;
    return result;
  }
};

}  // namespace

VideoDecoding& RealVideoDecoding() {
  static ProcessVideoDecoder decoder;
  return decoder;
}

SpeechDecoding& RealSpeechDecoding() {
  static ProcessSpeechDecoder decoder;
  return decoder;
}

}  // namespace clipnote
