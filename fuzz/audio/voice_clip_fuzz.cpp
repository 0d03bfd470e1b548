// Arbitrary bytes as the player's VOICE clip, decoded the way the audio preparation does:
// the prefix sizes the output area, then every frame goes through the clip driver. The
// output area is capped so that huge prefixes do not exhaust memory; the cap is itself an
// area limit that the driver must respect.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/decoder_state.h"
#include "audio/voice_clip.h"
#include "audio/wav_image.h"

// The speech decoder's names.
using namespace clipnote::speech;

namespace {

constexpr uint32_t kMaxArea = 480 * 2000;

// Aborts after a number of polls taken from the input, so the abort path is covered too.
// The driver polls before every frame, so the poll is also where every value of the
// decoder's state is checked to be finite after each frame: a NaN or infinity carried from
// one frame to the next would corrupt all the rest of the clip.
struct PollBudget {
  uint32_t remaining;
  static bool Check(void* context) {
    if (!DecoderStatesAreFinite()) __builtin_trap();
    auto* budget = static_cast<PollBudget*>(context);
    if (budget->remaining == 0) return true;
    --budget->remaining;
    return false;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly sized copy: a read past the clip is a heap overflow the sanitiser reports.
  std::vector<uint8_t> clipBytes(data, data + size);
  VoiceClip clip;
  if (ParseVoiceClip(clipBytes.data(), clipBytes.size(), clip) != VoiceClipError::None) return 0;

  // Every frame takes at least one coded byte, so an area beyond one frame per byte is
  // never reached: leaving it out spares zeroing memory the decoding cannot touch.
  const uint64_t fillable = 480 * (uint64_t{clip.codedByteCount} + 1);
  const uint32_t area = static_cast<uint32_t>(
      std::min<uint64_t>({uint64_t{clip.pcmCapacity} + 480, fillable, kMaxArea}));
  std::vector<uint8_t> image(kWavHeaderBytes + area);
  AudioDecoder decoder;
  if (!decoder.Create()) return 0;
  decoder.Reset(Rate::Rate53);
  // The low byte of the prefix chooses whether and when to abort; most inputs never do.
  PollBudget budget{(clip.pcmCapacity & 0xFF) == 0xA7 ? (clip.pcmCapacity >> 8) & 0x3F : 0xFFFFFFFFu};
  uint32_t offset = 0;
  const VoiceDecodeResult result =
      DecodeVoiceClip(decoder, clip.codedByteCount, clip.coded, image.data() + kWavHeaderBytes,
                      area, offset, AbortPoll{PollBudget::Check, &budget});
  decoder.Release();
  if (!DecoderStatesAreFinite()) __builtin_trap();
  if (result.pcmBytes % 480 != 0 || result.pcmBytes > area || offset > clip.codedByteCount) {
    __builtin_trap();
  }
  WriteWavHeader(image.data(), result.pcmBytes);
  return 0;
}
