#pragma once

#include <cstdint>

namespace clipnote::speech {

// One decoded sample as 16-bit PCM: rounded half away from zero, clipped to the 16-bit
// range, and 0 for a NaN (which has no sample value).
int16_t ToPcmSample(float v);

// Writes count samples as 16-bit little-endian PCM at out (2 * count bytes), each exactly
// as ToPcmSample converts it.
void StorePcmSamples(const float* samples, int count, uint8_t* out);

// The two versions of StorePcmSamples, with the same results.
void StorePcmSamplesPlain(const float* samples, int count, uint8_t* out);
#if defined(__SSE2__)
void StorePcmSamplesSse2(const float* samples, int count, uint8_t* out);
#endif

}  // namespace clipnote::speech
