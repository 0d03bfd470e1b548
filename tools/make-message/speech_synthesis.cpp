#include "tools/make-message/speech_synthesis.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cctype>

namespace makemessage {

namespace {

struct Synthesis {
  std::vector<int16_t>* samples = nullptr;
  const std::atomic<bool>* cancel = nullptr;
};
Synthesis current;

int Collect(short* wav, int count, espeak_EVENT*) {
  if (current.cancel != nullptr && current.cancel->load()) return 1;
  if (wav != nullptr && count > 0) current.samples->insert(current.samples->end(), wav, wav + count);
  return 0;
}

// The synthesiser once per process: its sample rate, or 0 when it cannot start.
int Start() {
  static const int rate = [] {
    const int r = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (r > 0) espeak_SetSynthCallback(Collect);
    return std::max(r, 0);
  }();
  return rate;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::vector<std::string> KnownVoices() {
  std::vector<std::string> names;
  if (Start() == 0) return names;
  for (const espeak_VOICE* const* v = espeak_ListVoices(nullptr); v != nullptr && *v != nullptr; ++v) {
    // languages: a priority byte, then the name, for each language the voice speaks.
    if ((*v)->languages != nullptr && (*v)->languages[0] != 0) names.push_back(Lower((*v)->languages + 1));
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool Speak(const std::string& text, const std::string& voice, int speed, std::vector<int16_t>& samples, int& rate,
           const std::atomic<bool>* cancel, std::string& error) {
  if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); })) {
    error = "the text to speak is empty";
    return false;
  }
  rate = Start();
  if (rate == 0) {
    error = "espeak-ng cannot start (its voice data is missing?)";
    return false;
  }
  if (voice.empty() || espeak_SetVoiceByName(voice.c_str()) != EE_OK) {
    std::string list;
    const std::vector<std::string> known = KnownVoices();
    for (const std::string& name : known) list += (list.empty() ? "" : " ") + name;
    error = "espeak-ng has no voice '" + voice + "'; the known voices are: " + list;
    return false;
  }
  if (speed > 0) espeak_SetParameter(espeakRATE, speed, 0);
  samples.clear();
  current = {&samples, cancel};
  const espeak_ERROR result =
      espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
  espeak_Synchronize();
  current = {};
  if (cancel != nullptr && cancel->load()) {
    error = "interrupted";
    return false;
  }
  if (result != EE_OK || samples.empty()) {
    error = "espeak-ng could not speak the text";
    return false;
  }
  return true;
}

}  // namespace makemessage
