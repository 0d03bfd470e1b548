// Sound of any rate and channel count to what the speech encoder takes: 8000 Hz mono
// 16-bit, in frames of 240 samples (30 ms).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace clipnote::authoring {

inline constexpr int kSpeechRate = 8000;
inline constexpr int kSpeechFrameSamples = 240;

// Mixes interleaved samples of `channels` channels at `rate` Hz down to one channel (the
// mean) and resamples it to 8000 Hz through a windowed-sinc low-pass that cuts just below
// the lower of the two rates' halves, so nothing above 4 kHz folds back into the speech.
// The output has round(frames * 8000 / rate) samples. Empty for rate or channels <= 0.
std::vector<int16_t> ToSpeechRate(std::span<const int16_t> interleaved, int channels, int rate);

// How many samples ToSpeechRate makes of `frames` sample frames at `rate` Hz (0 for rate <= 0).
int64_t SpeechSampleCount(int64_t frames, int rate);

// Brings the peak to -3 dBFS so quiet recordings use the coder's range; silence stays.
void NormalisePeak(std::vector<int16_t>& samples);

// The samples in whole frames: the last one padded with silence.
std::vector<std::vector<int16_t>> SpeechFrames(std::span<const int16_t> samples);

}  // namespace clipnote::authoring
