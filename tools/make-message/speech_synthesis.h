// Text spoken with libespeak-ng, as 16-bit mono samples at the synthesiser's rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace makemessage {

// The voices the synthesiser knows, by the names --voice takes (language names such as
// "en-us"), sorted.
std::vector<std::string> KnownVoices();

// False, with the reason, for an empty text, a voice the synthesiser does not know (the reason
// lists the known ones), a synthesiser that cannot start, or a cancel. speed in words a
// minute, 0 for the voice's own.
bool Speak(const std::string& text, const std::string& voice, int speed, std::vector<int16_t>& samples, int& rate,
           const std::atomic<bool>* cancel, std::string& error);

}  // namespace makemessage
