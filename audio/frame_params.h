#pragma once

#include <cstdint>

namespace clipnote::speech {

// The coding rate of the most recent active frame.
enum class Rate : int32_t {
  Rate63 = 0,  // 6.3 kbit/s, multipulse fixed codebook, 24-byte frames
  Rate53 = 1,  // 5.3 kbit/s, algebraic fixed codebook, 20-byte frames
};

// What a frame carries, after delimiting and unpacking.
enum class FrameType : int16_t {
  Untransmitted = 0,  // silence, no parameters: comfort noise continues
  Active = 1,         // speech at either rate
  Sid = 2,            // silence descriptor: new comfort-noise envelope and gain
};

// Coded parameters of one 60-sample subframe.
struct SubframeParams {
  int32_t lagDelta = 0;        // the subframe's pitch lag is openLoopLag + lagDelta - 1
  int32_t gainIndex = 0;       // adaptive-codebook gain vector
  int32_t amplitudeIndex = 0;  // fixed-codebook gain 0..23; in a SID frame the SID gain index (subframe 0)
  int32_t grid = 0;            // 0 = even pulse positions, 1 = odd
  int32_t pulseTrain = 0;      // 6.3 kbit/s only: repeat the pulses every pitch period
  int32_t signs = 0;
  int32_t positions = 0;
};

// Unpacked parameters of one frame.
struct FrameParams {
  int32_t erased = 0;        // non-zero: the frame is lost and must be concealed
  int32_t lspIndex = 0;      // bits 16-23 band 0, bits 8-15 band 1, bits 0-7 band 2
  int32_t openLoopLag[2] = {0, 0};  // pitch lag of subframes 0-1 and 2-3, 18..141
  SubframeParams sub[4];
};

}  // namespace clipnote::speech
