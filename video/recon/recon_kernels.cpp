#include "video/recon/recon_kernels.h"

#include "video/recon/dequantise.h"
#include "video/recon/inverse_transform.h"
#include "video/recon/reference_grids.h"

namespace clipnote::h263 {

const ReconKernels kPlainReconKernels = {
    DequantiseLevelsPlain,  IdctToPixelsPlain,        IdctToResidualPlain,
    BuildLumaGridPartPlain, BuildChromaGridPartPlain,  FetchFromGridIntoPlain,
    AddResidualIntoPlain,
};

#if defined(__SSE2__)
const ReconKernels kSse2ReconKernels = {
    DequantiseLevelsSse2, IdctToPixelsSse2,        IdctToResidualSse2,
    BuildLumaGridPartSse2, BuildChromaGridPartSse2, FetchFromGridIntoSse2,
    AddResidualIntoSse2,
};
#endif

// Filled before any code runs (constant initialisation), so a decoder built during another
// file's start-up already finds it.
constinit ReconKernels reconKernels = {
#if defined(__SSE2__)
    DequantiseLevelsSse2, IdctToPixelsSse2,        IdctToResidualSse2,
    BuildLumaGridPartSse2, BuildChromaGridPartSse2, FetchFromGridIntoSse2,
    AddResidualIntoSse2,
#else
    DequantiseLevelsPlain,  IdctToPixelsPlain,        IdctToResidualPlain,
    BuildLumaGridPartPlain, BuildChromaGridPartPlain,  FetchFromGridIntoPlain,
    AddResidualIntoPlain,
#endif
};

}  // namespace clipnote::h263
