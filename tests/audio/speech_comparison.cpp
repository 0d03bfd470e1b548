#include "audio/speech_comparison.h"

#include <algorithm>
#include <cmath>

#include "audio/audio_decoder.h"
#include "audio/frame_unpacker.h"
#include "support/test_support.h"

namespace speech_comparison {

namespace {

constexpr int kSegmentSamples = 160;          // 20 ms at 8000 Hz
constexpr double kSilentSegmentPower = 100.0;  // mean square below this: about -70 dBFS

bool Run(const std::string& command) { return support::RunShell(command).status == 0; }

}  // namespace

std::vector<uint8_t> MakeSpeechStream(const std::string& directory, const std::string& name,
                                      const std::string& voice, const std::string& text) {
  const std::string wav = directory + "/" + name + ".wav";
  const std::string coded = directory + "/" + name + ".723";
  if (!Run("espeak-ng -v " + voice + " -w '" + wav + "' '" + text + "'")) return {};
  if (!Run("ffmpeg -hide_banner -loglevel error -y -i '" + wav +
           "' -ar 8000 -ac 1 -c:a g723_1 -b:a 6300 -f g723_1 '" + coded + "'")) {
    return {};
  }
  return support::ReadFile(coded);
}

std::vector<int16_t> DecodeWithFfmpeg(const std::string& directory, const std::string& name,
                                      const std::vector<uint8_t>& stream) {
  const std::string coded = directory + "/" + name + ".in.723";
  const std::string pcm = directory + "/" + name + ".ffmpeg.raw";
  support::WriteFile(coded, stream);
  if (!Run("ffmpeg -hide_banner -loglevel error -y -f g723_1 -i '" + coded + "' -f s16le '" +
           pcm + "'")) {
    return {};
  }
  const std::vector<uint8_t> bytes = support::ReadFile(pcm);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return samples;
}

std::vector<int16_t> DecodeWithClipnote(const std::vector<uint8_t>& stream) {
  const uint32_t area = static_cast<uint32_t>(stream.size()) * 480;
  std::vector<uint8_t> pcm(area);
  clipnote::speech::AudioDecoder decoder;
  if (!decoder.Create()) return {};
  decoder.Reset(clipnote::speech::Rate::Rate53);
  uint32_t offset = 0;
  const clipnote::speech::VoiceDecodeResult result = DecodeVoiceClip(
      decoder, static_cast<uint32_t>(stream.size()), stream.data(), pcm.data(), area, offset);
  decoder.Release();
  std::vector<int16_t> samples(result.pcmBytes / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
  }
  return samples;
}

Agreement Compare(const std::vector<int16_t>& reference, const std::vector<int16_t>& ours) {
  return Compare(reference, ours, std::vector<bool>(std::min(reference.size(), ours.size()), true));
}

Agreement Compare(const std::vector<int16_t>& reference, const std::vector<int16_t>& ours,
                  const std::vector<bool>& selected) {
  Agreement agreement;
  const size_t n = std::min({reference.size(), ours.size(), selected.size()});
  double signal = 0;
  double error = 0;
  double segmentSum = 0;
  for (size_t start = 0; start + kSegmentSamples <= n; start += kSegmentSamples) {
    const auto first = selected.begin() + static_cast<std::ptrdiff_t>(start);
    if (!std::all_of(first, first + kSegmentSamples, [](bool s) { return s; })) continue;
    double segmentSignal = 0;
    double segmentError = 0;
    for (size_t i = start; i < start + kSegmentSamples; ++i) {
      const double r = reference[i];
      const double d = r - ours[i];
      segmentSignal += r * r;
      segmentError += d * d;
    }
    signal += segmentSignal;
    error += segmentError;
    if (segmentSignal / kSegmentSamples < kSilentSegmentPower) continue;
    // An exact segment counts as 100 dB rather than infinity.
    segmentSum += segmentError > 0 ? 10.0 * std::log10(segmentSignal / segmentError) : 100.0;
    ++agreement.segments;
  }
  agreement.snr = error > 0 ? 10.0 * std::log10(signal / error) : 100.0;
  agreement.segmentalSnr = agreement.segments > 0 ? segmentSum / agreement.segments : 0.0;
  return agreement;
}

std::vector<bool> SpeechSamples(const std::vector<uint8_t>& stream) {
  constexpr size_t kFrameSamples = 240;
  std::vector<bool> speech;
  for (size_t offset = 0; offset < stream.size();
       offset += static_cast<size_t>(clipnote::speech::CodedFrameLength(stream[offset]))) {
    const bool active = (stream[offset] & 3) < 2;  // 6.3 or 5.3 kbit/s
    speech.insert(speech.end(), kFrameSamples, active);
  }
  return speech;
}

}  // namespace speech_comparison
