#include "audio/synthesis_filter.h"

#include <algorithm>

#include "audio/decoder_state.h"

void Synthesize(float samples[kSubframeSamples], const LpcSet& lpc) {
  auto& memory = decoderState.synthesisMemory;  // newest first
  // Outputs run on from the memory in time order, so y(n - 1 - j) is past[n + 9 - j]
  // and nothing is shifted per sample. They are kept widened to double (exactly), as
  // the sum uses them.
  double past[kLpcOrder + kSubframeSamples];
  std::reverse_copy(memory.begin(), memory.end(), past);
  double a[kLpcOrder];
  std::copy(lpc.begin(), lpc.end(), a);
  for (int n = 0; n < kSubframeSamples; ++n) {
    const double* newest = past + n + kLpcOrder - 1;
    double sum = samples[n];
    for (int j = 0; j < kLpcOrder; ++j) sum += a[j] * newest[-j];
    const float y = static_cast<float>(sum);
    past[n + kLpcOrder] = y;
    samples[n] = y;
  }
  std::reverse_copy(past + kSubframeSamples, past + kSubframeSamples + kLpcOrder, memory.begin());
}
