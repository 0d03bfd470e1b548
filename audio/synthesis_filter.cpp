#include "audio/synthesis_filter.h"

namespace clipnote::speech {

void Synthesize(float samples[kSubframeSamples], const LpcSet& lpc) {
  SynthesisRun run(lpc);
  run.Begin();
  for (int n = 0; n < kSubframeSamples; ++n) samples[n] = run.Step(n, samples[n]);
  run.End();
}

}  // namespace clipnote::speech
