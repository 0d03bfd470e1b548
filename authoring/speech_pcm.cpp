#include "authoring/speech_pcm.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace clipnote::authoring {
namespace {

constexpr int kZeroCrossings = 16;  // each side of the centre, at the cut-off's period
constexpr int kPhases = 512;        // table entries per input sample step, interpolated
constexpr double kKaiserBeta = 8.0; // about 80 dB of stop-band
constexpr double kPassFraction = 0.92;

double BesselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; k < 40; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

// The low-pass kernel in units of the cut-off's half period: sinc windowed by Kaiser.
std::vector<double> KernelTable() {
  std::vector<double> table(kZeroCrossings * kPhases + 2, 0.0);
  const double norm = BesselI0(kKaiserBeta);
  for (int i = 0; i <= kZeroCrossings * kPhases; ++i) {
    const double t = double(i) / kPhases;  // in zero crossings
    const double sinc = i == 0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
    const double r = t / kZeroCrossings;
    table[i] = sinc * BesselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1 - r * r))) / norm;
  }
  return table;
}

}  // namespace

int64_t SpeechSampleCount(int64_t frames, int rate) {
  return rate > 0 ? (frames * kSpeechRate + rate / 2) / rate : 0;
}

std::vector<int16_t> ToSpeechRate(std::span<const int16_t> interleaved, int channels, int rate) {
  if (channels <= 0 || rate <= 0) return {};
  const size_t frames = interleaved.size() / size_t(channels);
  std::vector<float> mono(frames);
  for (size_t i = 0; i < frames; ++i) {
    int32_t sum = 0;
    for (int c = 0; c < channels; ++c) sum += interleaved[i * channels + c];
    mono[i] = float(sum) / channels;
  }
  const int64_t outCount = SpeechSampleCount(int64_t(frames), rate);
  std::vector<int16_t> out(static_cast<size_t>(outCount));
  if (rate == kSpeechRate) {
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(std::lround(mono[i]));
    return out;
  }
  static const std::vector<double> table = KernelTable();
  // Cut-off in cycles per input sample, and the kernel's step per input sample.
  const double cutoff = kPassFraction * 0.5 * std::min(1.0, double(kSpeechRate) / rate);
  const double step = 2 * cutoff;           // zero crossings per input sample
  const double halfWidth = kZeroCrossings / step;  // in input samples
  const auto weight = [&](double distance) {
    const double pos = std::abs(distance) * step * kPhases;
    const size_t i = static_cast<size_t>(pos);
    if (i >= size_t(kZeroCrossings) * kPhases) return 0.0;
    const double f = pos - double(i);
    return table[i] + (table[i + 1] - table[i]) * f;
  };
  // The output positions fall on kSpeechRate / gcd phases of an input sample: each phase's
  // weights are made once (offsets from the whole part of the position).
  const int64_t phases = kSpeechRate / std::gcd<int64_t>(rate, kSpeechRate);
  const int64_t reach = static_cast<int64_t>(std::ceil(halfWidth)) + 1;
  std::vector<double> weights(size_t(phases) * size_t(2 * reach + 1));
  for (int64_t p = 0; p < phases; ++p) {
    const double frac = double(p * (kSpeechRate / phases)) / kSpeechRate;
    for (int64_t j = -reach; j <= reach; ++j) {
      const double distance = double(j) - frac;
      weights[size_t(p * (2 * reach + 1) + j + reach)] = std::abs(distance) <= halfWidth ? weight(distance) : 0.0;
    }
  }
  for (int64_t n = 0; n < outCount; ++n) {
    // Exact position in input samples: n * rate / 8000, whole part and phase.
    const int64_t whole = n * rate / kSpeechRate;
    const int64_t phase = (n * rate % kSpeechRate) / (kSpeechRate / phases);
    const double* w = &weights[size_t(phase * (2 * reach + 1) + reach)];
    double sum = 0;
    const int64_t first = std::max<int64_t>(-reach, -whole);
    const int64_t last = std::min<int64_t>(reach, int64_t(frames) - 1 - whole);
    for (int64_t j = first; j <= last; ++j) sum += mono[size_t(whole + j)] * w[j];
    const double v = sum * step;  // unity gain at DC
    out[n] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
  }
  return out;
}

void NormalisePeak(std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
  if (peak == 0) return;
  const double gain = 32768.0 * std::pow(10.0, -3.0 / 20) / peak;
  for (int16_t& s : samples) {
    s = static_cast<int16_t>(std::clamp(std::lround(s * gain), -32768L, 32767L));
  }
}

std::vector<std::vector<int16_t>> SpeechFrames(std::span<const int16_t> samples) {
  std::vector<std::vector<int16_t>> frames;
  for (size_t at = 0; at < samples.size(); at += kSpeechFrameSamples) {
    std::vector<int16_t> frame(kSpeechFrameSamples, 0);
    const size_t n = std::min<size_t>(kSpeechFrameSamples, samples.size() - at);
    std::copy_n(samples.begin() + at, n, frame.begin());
    frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace clipnote::authoring
