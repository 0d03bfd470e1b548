#pragma once

#include <cstdint>

#include "audio/frame_params.h"

namespace clipnote::speech {

// Where the decoder's two working buffers come from. The player supplies its platform's
// allocator (GlobalAlloc/GlobalFree on Windows); DefaultAudioBufferHooks uses the C heap.
// allocate returns null on failure.
struct AudioBufferHooks {
  void* (*allocate)(uint32_t bytes) = nullptr;
  void (*release)(void* block) = nullptr;
};
AudioBufferHooks DefaultAudioBufferHooks();

// The player's stop request, polled (never waited on) before every frame. A null function
// never aborts. On Windows it stands for a zero-timeout wait on prepAbortEvent.
struct AbortPoll {
  bool (*isAbortRequested)(void* context) = nullptr;
  void* context = nullptr;
  bool Requested() const { return isAbortRequested != nullptr && isAbortRequested(context); }
};

// The speech decoder object: a 240-sample working buffer, the current coded frame and the
// rate of the last active frame. Everything else lives in the process-wide DecoderState and
// ComfortNoiseState, so only one decoder may run at a time.
struct AudioDecoder {
  static constexpr uint32_t kSampleBytes = 240 * sizeof(float);
  static constexpr uint32_t kFrameBytes = 24;
  static constexpr uint32_t kPcmBytesPerFrame = 480;

  float* samples = nullptr;   // the decoded frame, PCM units (full scale 32767)
  uint8_t* frame = nullptr;   // the coded frame being decoded
  Rate rate = Rate::Rate63;
  AudioBufferHooks hooks{};

  // Allocates both buffers through the hooks. Returns false, with nothing left allocated,
  // if either allocation fails; the caller reports that like any failed allocation. A
  // decoder left without buffers does nothing: Reset and DecodeVoiceClip return at once.
  bool Create(const AudioBufferHooks& bufferHooks = DefaultAudioBufferHooks());

  // Prepares for a new clip: stores the rate, clears the buffers and resets the
  // process-wide state records. The player passes Rate53.
  void Reset(Rate initialRate);

  // Copies the frame starting at coded[offset] into `frame` (its length comes from its first
  // byte) and advances offset by that length. Never reads at or past codedByteCount: a frame
  // that runs past the end is copied only as far as the data goes and false is returned (the
  // caller treats it as lost). The rest of `frame` keeps what it held.
  bool TakeFrame(const uint8_t* coded, uint32_t codedByteCount, uint32_t& offset);

  // Decodes `frame` into `samples`. lost = true conceals the frame instead. Always returns 1.
  int DecodeFrame(bool lost);

  // Converts the 240 samples to 16-bit little-endian PCM (rounded half away from zero,
  // clipped) at out + count and adds 480 to count.
  void StorePcm(uint8_t* out, uint32_t& count) const;

  // Frees whichever buffers are allocated.
  void Release();
};

// Result of decoding a clip: the PCM bytes written (a multiple of 480) and whether the work
// was given up on an abort request. On abort the caller (the audio preparation) signals that
// preparation has ended and ends its thread as after a normal run; no more PCM is written.
struct VoiceDecodeResult {
  uint32_t pcmBytes = 0;
  bool aborted = false;
};

// Decodes the coded frames coded[inputOffset .. codedByteCount) into 16-bit PCM at pcm,
// 480 bytes per frame, polling abortPoll before each frame. pcmAreaBytes is the size of the
// output area: decoding stops at the last whole frame that fits. A last frame cut short by
// the end of the data is decoded as a lost frame. The decoder must be created and reset.
// Returns 0 bytes at once when the offset is already at the end or the decoder has no
// buffers.
VoiceDecodeResult DecodeVoiceClip(AudioDecoder& decoder, uint32_t codedByteCount,
                                  const uint8_t* coded, uint8_t* pcm, uint32_t pcmAreaBytes,
                                  uint32_t& inputOffset, const AbortPoll& abortPoll = {});

}  // namespace clipnote::speech
