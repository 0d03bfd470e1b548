// Decodes a VOICE clip into a WAVE file with the Windows player's own speech
// decoder and build, so the Wine tests can compare what comes out of the sound
// device with exactly the samples the player holds.
//
//   decode_voice.exe <message.723> <out.wav>
// Exit code 0 on success, 1 when a file cannot be read or written or the clip
// is not usable.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/media_decoders.h"
#include "audio/voice_clip.h"
#include "audio/wav_image.h"
#include "platform/win32/win32_platform.h"

// The speech decoder's names.
using namespace clipnote::speech;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decode_voice.exe <message.723> <out.wav>\n");
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  VoiceClip clip;
  if (!in.good() && !in.eof()) return 1;
  if (ParseVoiceClip(input.data(), input.size(), clip) != VoiceClipError::None) {
    std::fprintf(stderr, "decode_voice: %s is not a usable VOICE clip\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> image(static_cast<size_t>(clip.pcmCapacity) + kWavImageOverhead, 0);
  clipnote::Win32Platform platform;
  const clipnote::SpeechDecodeResult decoded = clipnote::RealSpeechDecoding().DecodeSpeech(
      platform, clip.coded, clip.codedByteCount, image.data() + kWavHeaderBytes,
      static_cast<uint32_t>(image.size() - kWavHeaderBytes),
      clipnote::SpeechAbortPoll{[](void*) { return false; }, nullptr});
  if (decoded.failed) return 1;
  WriteWavHeader(image.data(), decoded.pcmBytes);
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), kWavHeaderBytes + decoded.pcmBytes);
  return out.good() ? 0 : 1;
}
