#include "audio/encoder/lpc_analysis.h"

#include <cmath>

namespace clipnote::speech {

namespace {

struct AnalysisTables {
  float window[kLpcWindowSamples];
  double lagWindow[kLpcOrder + 1];
  float expansion[kLpcOrder];
};

AnalysisTables MakeTables() {
  AnalysisTables t{};
  const double pi = std::acos(-1.0);
  for (int n = 0; n < kLpcWindowSamples; ++n) {
    t.window[n] = static_cast<float>(0.54 - 0.46 * std::cos(2 * pi * n / (kLpcWindowSamples - 1)));
  }
  // A Gaussian lag window of 60 Hz smooths sharp formant peaks a little, the white-noise
  // floor (40 dB down) keeps the recursion well conditioned on pure tones and clipping.
  constexpr double kBandwidthHz = 60.0;
  for (int k = 0; k <= kLpcOrder; ++k) {
    const double x = 2 * pi * kBandwidthHz * k / 8000.0;
    t.lagWindow[k] = std::exp(-0.5 * x * x);
  }
  t.lagWindow[0] = 1.0001;
  double g = 1.0;
  for (int j = 0; j < kLpcOrder; ++j) {
    g *= 0.994;
    t.expansion[j] = static_cast<float>(g);
  }
  return t;
}

const AnalysisTables& Tables() {
  static const AnalysisTables tables = MakeTables();
  return tables;
}

}  // namespace

LpcSet AnalyseLpc(const float window[kLpcWindowSamples]) {
  const AnalysisTables& t = Tables();
  double x[kLpcWindowSamples];
  for (int n = 0; n < kLpcWindowSamples; ++n) x[n] = static_cast<double>(window[n]) * t.window[n];
  double r[kLpcOrder + 1];
  for (int k = 0; k <= kLpcOrder; ++k) {
    double sum = 0;
    for (int n = k; n < kLpcWindowSamples; ++n) sum += x[n] * x[n - k];
    r[k] = sum * t.lagWindow[k];
  }
  LpcSet result{};
  if (!(r[0] > 1.0) || !std::isfinite(r[0])) return result;  // silence: flat envelope

  // Levinson-Durbin for the predictor s(n) ~ sum a[j] s(n - 1 - j).
  double a[kLpcOrder] = {};
  double previous[kLpcOrder];
  double error = r[0];
  for (int i = 0; i < kLpcOrder; ++i) {
    double acc = r[i + 1];
    for (int j = 0; j < i; ++j) acc -= a[j] * r[i - j];
    const double k = acc / error;
    if (!(std::fabs(k) < 1.0)) break;  // numerically singular: keep the stable lower order
    for (int j = 0; j < i; ++j) previous[j] = a[j];
    for (int j = 0; j < i; ++j) a[j] = previous[j] - k * previous[i - 1 - j];
    a[i] = k;
    error *= 1.0 - k * k;
    if (!(error > 0)) break;
  }
  for (int j = 0; j < kLpcOrder; ++j) result[j] = static_cast<float>(a[j] * t.expansion[j]);
  return result;
}

}  // namespace clipnote::speech
