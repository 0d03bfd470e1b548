#pragma once

// Test helper for comparing our speech decoder with the ffmpeg command-line decoder: runs
// the tools (in the folder given, the test's scratch folder), decodes streams both ways and
// measures the agreement.

#include <cstdint>
#include <string>
#include <vector>

namespace speech_comparison {

// Speech from espeak-ng, resampled to 8000 Hz and encoded by ffmpeg at 6.3 kbit/s; returns
// the raw G.723.1 stream (empty on failure).
std::vector<uint8_t> MakeSpeechStream(const std::string& directory, const std::string& name,
                                      const std::string& voice, const std::string& text);

// The stream decoded by ffmpeg, as 16-bit samples.
std::vector<int16_t> DecodeWithFfmpeg(const std::string& directory, const std::string& name,
                                      const std::vector<uint8_t>& stream);

// The stream decoded by our decoder through the clip driver, as 16-bit samples.
std::vector<int16_t> DecodeWithClipnote(const std::vector<uint8_t>& stream);

struct Agreement {
  double snr = 0;           // whole-signal SNR of ours against the reference, dB
  double segmentalSnr = 0;  // mean SNR of 20 ms segments, silent reference segments skipped
  int segments = 0;         // segments that counted
};
Agreement Compare(const std::vector<int16_t>& reference, const std::vector<int16_t>& ours);

// The same over the segments whose samples are all selected.
Agreement Compare(const std::vector<int16_t>& reference, const std::vector<int16_t>& ours,
                  const std::vector<bool>& selected);

// For each output sample of the stream (240 per coded frame), whether it comes from a speech
// frame rather than a silence descriptor or an untransmitted frame.
std::vector<bool> SpeechSamples(const std::vector<uint8_t>& stream);

}  // namespace speech_comparison
