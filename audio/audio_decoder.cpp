#include "audio/audio_decoder.h"

#include <cstdlib>
#include <cstring>

#include "audio/decoder_state.h"
#include "audio/frame_decoder.h"
#include "audio/pcm_conversion.h"

namespace clipnote::speech {

namespace {

void* HeapAllocate(uint32_t bytes) { return std::malloc(bytes); }
void HeapRelease(void* block) { std::free(block); }

}  // namespace

AudioBufferHooks DefaultAudioBufferHooks() { return AudioBufferHooks{HeapAllocate, HeapRelease}; }

bool AudioDecoder::Create(const AudioBufferHooks& bufferHooks) {
  hooks = bufferHooks;
  samples = nullptr;
  frame = nullptr;
  rate = Rate::Rate63;
  if (hooks.allocate == nullptr || hooks.release == nullptr) return false;
  samples = static_cast<float*>(hooks.allocate(kSampleBytes));
  frame = static_cast<uint8_t*>(hooks.allocate(kFrameBytes));
  if (samples == nullptr || frame == nullptr) {
    Release();
    return false;
  }
  return true;
}

void AudioDecoder::Reset(Rate initialRate) {
  rate = initialRate;
  if (samples == nullptr || frame == nullptr) return;
  std::memset(samples, 0, kSampleBytes);
  std::memset(frame, 0, rate != Rate::Rate63 ? 20 : kFrameBytes);
  ResetDecoderStates();
}

bool AudioDecoder::TakeFrame(const uint8_t* coded, uint32_t codedByteCount, uint32_t& offset) {
  if (offset >= codedByteCount) return false;
  const uint32_t length = static_cast<uint32_t>(CodedFrameLength(coded[offset]));
  const uint32_t available = codedByteCount - offset;
  const bool whole = length <= available;
  std::memcpy(frame, coded + offset, whole ? length : available);
  offset = whole ? offset + length : codedByteCount;
  return whole;
}

int AudioDecoder::DecodeFrame(bool lost) {
  DecodeSpeechFrame(frame, lost, rate, samples);
  return 1;
}

void AudioDecoder::StorePcm(uint8_t* out, uint32_t& count) const {
  StorePcmSamples(samples, 240, out + count);
  count += kPcmBytesPerFrame;
}

void AudioDecoder::Release() {
  if (samples != nullptr) hooks.release(samples);
  if (frame != nullptr) hooks.release(frame);
  samples = nullptr;
  frame = nullptr;
}

VoiceDecodeResult DecodeVoiceClip(AudioDecoder& decoder, uint32_t codedByteCount,
                                  const uint8_t* coded, uint8_t* pcm, uint32_t pcmAreaBytes,
                                  uint32_t& inputOffset, const AbortPoll& abortPoll) {
  VoiceDecodeResult result;
  // A decoder whose Create failed has no buffers to decode into.
  if (decoder.samples == nullptr || decoder.frame == nullptr) return result;
  while (inputOffset < codedByteCount) {
    if (abortPoll.Requested()) {
      result.aborted = true;
      return result;
    }
    // Only whole frames are written; a clip that decodes to more than the area holds
    // ends at the area's last whole frame.
    if (pcmAreaBytes - result.pcmBytes < AudioDecoder::kPcmBytesPerFrame) break;
    const bool whole = decoder.TakeFrame(coded, codedByteCount, inputOffset);
    if (decoder.DecodeFrame(!whole) == 0) return result;
    decoder.StorePcm(pcm, result.pcmBytes);
  }
  return result;
}

}  // namespace clipnote::speech
