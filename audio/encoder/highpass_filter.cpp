#include "audio/encoder/highpass_filter.h"

namespace clipnote::speech {

void HighPassFilter::Run(const int16_t in[kFrameSamples], float out[kFrameSamples]) {
  constexpr float kPole = 127.0f / 128.0f;
  for (int n = 0; n < kFrameSamples; ++n) {
    const float x = in[n];
    const float y = x - previousInput + kPole * previousOutput;
    previousInput = x;
    previousOutput = y;
    out[n] = y;
  }
}

}  // namespace clipnote::speech
