#pragma once

// The two decoders as the player drives them. The real ones work on the
// process-wide video and speech decoders; a test can hand the player scripted
// ones to control temporal references, failures and timing.

#include <cstdint>

#include "platform/platform.h"

namespace clipnote {

class MessagePlayer;

class VideoDecoding {
 public:
  virtual ~VideoDecoding() = default;
  // Restarts decoding at the first byte of the player's video clip, in the
  // player's buffers; reading never goes past the clip's size.
  virtual void InitVideoDecoder(MessagePlayer& player) = 0;
  virtual int ProbePictureFormat() = 0;
  // 0: a picture was decoded into the player's currentPicture (or the end of
  // the sequence was met); nonzero: no picture, decoding is over.
  virtual int DecodePicture() = 0;
  // Of the picture header read last.
  virtual uint8_t TemporalReference() = 0;
  virtual bool EndOfSequence() = 0;
  virtual void ConvertToBgr24(const uint8_t* picture, uint8_t* image, int rows, int columns) = 0;
  virtual void DoubleBgr24(const uint8_t* image, uint8_t* doubled, int columns, int rows) = 0;
};

struct SpeechDecodeResult {
  uint32_t pcmBytes = 0;  // bytes of PCM written, a multiple of 480
  bool aborted = false;   // given up on an abort request
  bool failed = false;    // the decoder could not be set up (out of memory)
};

// Polled before every frame; true gives the work up.
struct SpeechAbortPoll {
  bool (*requested)(void* context) = nullptr;
  void* context = nullptr;
};

class SpeechDecoding {
 public:
  virtual ~SpeechDecoding() = default;
  // Decodes the coded frames into 16-bit PCM at pcm, never writing more than
  // pcmAreaBytes. The decoder's working buffers come from os.GlobalAlloc.
  virtual SpeechDecodeResult DecodeSpeech(Platform& os, const uint8_t* coded, uint32_t codedBytes,
                                          uint8_t* pcm, uint32_t pcmAreaBytes,
                                          SpeechAbortPoll abortPoll) = 0;
};

// The real decoders (process-wide, one of each).
VideoDecoding& RealVideoDecoding();
SpeechDecoding& RealSpeechDecoding();

}  // namespace clipnote
