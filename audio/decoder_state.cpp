#include "audio/decoder_state.h"

#include <algorithm>
#include <cmath>

#include "audio/lsp_tables.h"

namespace clipnote::speech {

DecoderState decoderState;
ComfortNoiseState comfortNoiseState;

void ResetDecoderStates() {
  const float keptNoiseGain = comfortNoiseState.noiseGain;
  decoderState = DecoderState{};
  decoderState.previousLsp = LspMeanTable;
  comfortNoiseState = ComfortNoiseState{};
  comfortNoiseState.sidLsp = LspMeanTable;
  comfortNoiseState.noiseGain = keptNoiseGain;
}

namespace {

template <size_t kSize>
bool AllFinite(const std::array<float, kSize>& values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

// Clears the array unless every value in it is finite: the values of a filter memory or of
// the excitation history only make sense together.
template <size_t kSize>
void KeepFinite(std::array<float, kSize>& values) {
  if (!AllFinite(values)) values.fill(0.0f);
}

void KeepFinite(float& value, float reset) {
  if (!std::isfinite(value)) value = reset;
}

void KeepFiniteLsp(LspVector& lsp) {
  if (!AllFinite(lsp)) lsp = LspMeanTable;
}

}  // namespace

bool DecoderStatesAreFinite() {
  const DecoderState& d = decoderState;
  const ComfortNoiseState& c = comfortNoiseState;
  return std::isfinite(d.concealGain) && std::isfinite(d.tiltState) &&
         std::isfinite(d.scaleGain) && AllFinite(d.previousLsp) &&
         AllFinite(d.excitationHistory) && AllFinite(d.synthesisMemory) &&
         AllFinite(d.postZeroMemory) && AllFinite(d.postPoleMemory) &&
         std::isfinite(c.noiseGain) && AllFinite(c.sidLsp) && std::isfinite(c.sidGain);
}

void ResetNonFiniteState() {
  DecoderState& d = decoderState;
  KeepFinite(d.concealGain, 0.0f);
  KeepFinite(d.tiltState, 0.0f);
  KeepFinite(d.scaleGain, 1.0f);
  KeepFiniteLsp(d.previousLsp);
  KeepFinite(d.excitationHistory);
  KeepFinite(d.synthesisMemory);
  KeepFinite(d.postZeroMemory);
  KeepFinite(d.postPoleMemory);
  ComfortNoiseState& c = comfortNoiseState;
  KeepFinite(c.noiseGain, 0.0f);
  KeepFinite(c.sidGain, 0.0f);
  KeepFiniteLsp(c.sidLsp);
}

}  // namespace clipnote::speech
