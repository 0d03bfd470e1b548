#include "audio/synthesis_filter.h"

#include <algorithm>

#include "audio/decoder_state.h"

void Synthesize(float samples[kSubframeSamples], const LpcSet& lpc) {
  auto& memory = decoderState.synthesisMemory;  // newest first
  for (int n = 0; n < kSubframeSamples; ++n) {
    double sum = samples[n];
    for (int j = 0; j < kLpcOrder; ++j) sum += static_cast<double>(lpc[j]) * memory[j];
    const float y = static_cast<float>(sum);
    std::copy_backward(memory.begin(), memory.end() - 1, memory.end());
    memory[0] = y;
    samples[n] = y;
  }
}
