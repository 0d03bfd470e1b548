#include "audio/speech_kernels.h"

#include "audio/correlation.h"
#include "audio/excitation.h"
#include "audio/pcm_conversion.h"

namespace clipnote::speech {

const SpeechKernels kPlainSpeechKernels = {CorrelateAllShiftsPlain, FilterAdaptiveTapsPlain,
                                           StorePcmSamplesPlain};
#if defined(__SSE2__)
const SpeechKernels kSse2SpeechKernels = {CorrelateAllShiftsSse2, FilterAdaptiveTapsSse2,
                                          StorePcmSamplesSse2};
#endif

// Filled before any code runs (constant initialisation), so a decoder built during another
// file's start-up already finds it.
constinit SpeechKernels speechKernels = {
#if defined(__SSE2__)
    CorrelateAllShiftsSse2, FilterAdaptiveTapsSse2, StorePcmSamplesSse2,
#else
    CorrelateAllShiftsPlain, FilterAdaptiveTapsPlain, StorePcmSamplesPlain,
#endif
};

}  // namespace clipnote::speech
