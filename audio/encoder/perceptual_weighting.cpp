#include "audio/encoder/perceptual_weighting.h"

#include <algorithm>

#include "audio/encoder/encoder_kernels.h"

namespace clipnote::speech {

namespace {

// A zero section close to the envelope keeps the coding noise under the formants, where the
// ear does not hear it and the decoded spectrum stays near the input's between them too.
// The pole section sets how far the noise is let rise between them; 5.3 kbit/s, with the
// coarser excitation, holds it down a little more.
constexpr float kZeroFactor = 0.95f;
constexpr float kPoleFactor63 = 0.48f;
constexpr float kPoleFactor53 = 0.46f;

void Push(std::array<float, kLpcOrder>& memory, float value) {
  std::copy_backward(memory.begin(), memory.end() - 1, memory.end());
  memory[0] = value;
}

double Sum(const LpcSet& c, const std::array<float, kLpcOrder>& memory) {
  double sum = 0;
  for (int j = 0; j < kLpcOrder; ++j) sum += static_cast<double>(c[j]) * memory[j];
  return sum;
}

}  // namespace

Weighting MakeWeighting(const LpcSet& lpc, Rate rate) {
  Weighting w;
  const float poleFactor = rate == Rate::Rate53 ? kPoleFactor53 : kPoleFactor63;
  float zeroPower = 1.0f, polePower = 1.0f;
  for (int j = 0; j < kLpcOrder; ++j) {
    zeroPower *= kZeroFactor;
    polePower *= poleFactor;
    w.zero[j] = lpc[j] * zeroPower;
    w.pole[j] = lpc[j] * polePower;
  }
  return w;
}

void ApplyWeighting(const float* in, float* out, int count, const Weighting& w,
                    FilterMemory& memory) {
  for (int n = 0; n < count; ++n) {
    const float x = in[n];
    const float u = static_cast<float>(x - Sum(w.zero, memory.input));
    Push(memory.input, x);
    const float y = static_cast<float>(u + Sum(w.pole, memory.output));
    Push(memory.output, y);
    out[n] = y;
  }
}

void ApplyWeightedSynthesis(const float* excitation, float* out, int count, const LpcSet& quantised,
                            const Weighting& w, FilterMemory& memory) {
  for (int n = 0; n < count; ++n) {
    const float x = excitation ? excitation[n] : 0.0f;
    // memory.input holds past synthesis outputs: the synthesis filter's state and the
    // weighting's zero section's at once.
    const float s = static_cast<float>(x + Sum(quantised, memory.input));
    const float u = static_cast<float>(s - Sum(w.zero, memory.input));
    Push(memory.input, s);
    const float y = static_cast<float>(u + Sum(w.pole, memory.output));
    Push(memory.output, y);
    out[n] = y;
  }
}

void ImpulseResponse(const LpcSet& quantised, const Weighting& w, float h[kSubframeSamples]) {
  float impulse[kSubframeSamples] = {};
  impulse[0] = 1.0f;
  FilterMemory rest;
  ApplyWeightedSynthesis(impulse, h, kSubframeSamples, quantised, w, rest);
}

void ConvolveSubframe(const float x[kSubframeSamples], const float h[kSubframeSamples],
                      float out[kSubframeSamples]) {
  speechEncoderKernels.convolveSubframe(x, h, out);
}

}  // namespace clipnote::speech
