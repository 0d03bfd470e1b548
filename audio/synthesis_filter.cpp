#include "audio/synthesis_filter.h"

void Synthesize(float samples[kSubframeSamples], const LpcSet& lpc) {
  SynthesisRun run(lpc);
  run.Begin();
  for (int n = 0; n < kSubframeSamples; ++n) samples[n] = run.Step(n, samples[n]);
  run.End();
}
