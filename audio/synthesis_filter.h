#pragma once

#include <algorithm>

#include "audio/decoder_state.h"
#include "audio/frame_geometry.h"

namespace clipnote::speech {

// LPC synthesis of one subframe, in place: y(n) = x(n) + sum a[j] y(n - 1 - j). The filter's
// past outputs are decoderState.synthesisMemory and carry over between subframes and frames.
void Synthesize(float samples[kSubframeSamples], const LpcSet& lpc);

// The synthesis filter over one subframe, a sample at a time, for callers that run other
// filters in the same loop. Begin loads the memory, End stores it back.
class SynthesisRun {
 public:
  explicit SynthesisRun(const LpcSet& lpc) { std::copy(lpc.begin(), lpc.end(), a_); }

  void Begin() {
    const auto& memory = decoderState.synthesisMemory;  // newest first
    std::reverse_copy(memory.begin(), memory.end(), past_);
    newest_ = past_[kLpcOrder - 1];
  }

  // Output n of the subframe from input x. Outputs run on from the memory in time order,
  // so y(n - 1 - j) is past_[n + 9 - j] and nothing is shifted per sample; they are kept
  // widened to double (exactly), as the sum uses them. The newest output also stays in
  // newest_, so the next step need not wait for it to come back from memory.
  float Step(int n, float x) {
    const double* newest = past_ + n + kLpcOrder - 1;
    double sum = a_[0] * newest_;
    for (int j = 1; j < kLpcOrder; ++j) sum += a_[j] * newest[-j];
    const float y = static_cast<float>(x + sum);  // the sum first, then the input
    newest_ = y;
    past_[n + kLpcOrder] = newest_;
    return y;
  }

  void End() {
    std::reverse_copy(past_ + kSubframeSamples, past_ + kSubframeSamples + kLpcOrder,
                      decoderState.synthesisMemory.begin());
  }

 private:
  double a_[kLpcOrder];
  double past_[kLpcOrder + kSubframeSamples];
  double newest_ = 0.0;
};

}  // namespace clipnote::speech
