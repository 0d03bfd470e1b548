#include "audio/decoder_state.h"

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

}  // namespace clipnote::speech
