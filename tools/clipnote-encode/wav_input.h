#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the samples of a WAV file that holds 16-bit PCM, mono, 8000 Hz: the only input the
// speech encoder takes. Anything else is refused with a sentence that says what the file holds
// and what was expected; nothing is resampled or mixed down.
bool ReadSpeechWav(const std::vector<uint8_t>& file, std::vector<int16_t>& samples,
                   std::string& error);
