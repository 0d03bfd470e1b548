#include "audio/encoder/lpc_to_lsp.h"

#include <cmath>

namespace clipnote::speech {

namespace {

constexpr int kGridSteps = 256;  // one decoder LSP unit per step
constexpr int kHalfOrder = kLpcOrder / 2;

constexpr int kBisections = 6;

// Cosine and sine of the grid's points, and of the bisection's steps (half a grid step, a
// quarter...): the bisection steps from one point to the next by the angle sum.
struct CosineGrid {
  double value[kGridSteps + 1];
  double sine[kGridSteps + 1];
  double stepCos[kBisections];
  double stepSin[kBisections];
};

const CosineGrid& Grid() {
  static const CosineGrid grid = [] {
    CosineGrid g{};
    const double pi = std::acos(-1.0);
    for (int k = 0; k <= kGridSteps; ++k) {
      g.value[k] = std::cos(pi * k / kGridSteps);
      g.sine[k] = std::sin(pi * k / kGridSteps);
    }
    for (int i = 0; i < kBisections; ++i) {
      const double step = pi / kGridSteps / (2 << i);
      g.stepCos[i] = std::cos(step);
      g.stepSin[i] = std::sin(step);
    }
    return g;
  }();
  return grid;
}

// c[0] cos(5w) + c[1] cos(4w) + ... + c[4] cos(w) + c[5] / 2, evaluated at x = cos(w) by the
// Chebyshev recurrence.
double Evaluate(const double c[kHalfOrder + 1], double x) {
  double b1 = 0, b2 = 0;
  for (int k = 0; k < kHalfOrder; ++k) {
    const double b0 = 2 * x * b1 - b2 + c[k];
    b2 = b1;
    b1 = b0;
  }
  return x * b1 - b2 + 0.5 * c[kHalfOrder];
}

}  // namespace

bool LpcToLsp(const LpcSet& lpc, LspVector& lsp) {
  // A(z) = 1 + A1 z^-1 + ... + A10 z^-10 with Ak = -a[k-1]. The sum polynomial without its
  // root at z = -1 and the difference polynomial without its root at z = 1, as cosine series.
  double f[2][kHalfOrder + 1];
  f[0][0] = f[1][0] = 1.0;
  for (int k = 1; k <= kHalfOrder; ++k) {
    const double ak = -lpc[k - 1];
    const double am = -lpc[kLpcOrder - k];
    f[0][k] = ak + am - f[0][k - 1];
    f[1][k] = ak - am + f[1][k - 1];
  }

  const CosineGrid& grid = Grid();
  LspVector found{};
  int count = 0;
  int which = 0;  // the sum polynomial holds the lowest frequency
  double previous = Evaluate(f[which], grid.value[0]);
  for (int k = 1; k <= kGridSteps && count < kLpcOrder; ++k) {
    const double current = Evaluate(f[which], grid.value[k]);
    if ((previous <= 0) != (current <= 0)) {
      // Bisection in frequency, then a linear step between the last two points.
      const double pi = std::acos(-1.0);
      double low = k - 1;
      double cosLow = grid.value[k - 1], sinLow = grid.sine[k - 1];
      double fLow = previous;
      for (int i = 0; i < kBisections; ++i) {
        const double cosMid = cosLow * grid.stepCos[i] - sinLow * grid.stepSin[i];
        const double fMid = Evaluate(f[which], cosMid);
        if ((fMid <= 0) == (fLow <= 0)) {
          sinLow = sinLow * grid.stepCos[i] + cosLow * grid.stepSin[i];
          cosLow = cosMid;
          low += 1.0 / (2 << i);
          fLow = fMid;
        }
      }
      // The interval is now the last step wide.
      const double high = low + 1.0 / (1 << kBisections);
      constexpr int kLast = kBisections - 1;
      const double fHigh =
          Evaluate(f[which], cosLow * grid.stepCos[kLast] - sinLow * grid.stepSin[kLast]);
      const double span = fLow - fHigh;
      const double root = span != 0 ? low + (high - low) * fLow / span : 0.5 * (low + high);
      found[count++] = static_cast<float>(root);
      which ^= 1;
      // The other polynomial's sign at the root starts the next search.
      previous = Evaluate(f[which], std::cos(pi * root / kGridSteps));
      continue;
    }
    previous = current;
  }
  if (count < kLpcOrder) return false;
  for (int i = 0; i < kLpcOrder; ++i) {
    if (!std::isfinite(found[i]) || (i > 0 && found[i] <= found[i - 1])) return false;
  }
  lsp = found;
  return true;
}

}  // namespace clipnote::speech
