#include "tools/make-message/progress.h"

#include <algorithm>
#include <cstdio>

namespace makemessage {

void Progress::Show(const std::string& stage, double fraction) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (stage != stage_) {
    stage_ = stage;
    stageStart_ = now;
  } else if (now - lastDraw_ < std::chrono::milliseconds(100) && fraction < 1) {
    return;
  }
  lastDraw_ = now;
  fraction = std::clamp(fraction, 0.0, 1.0);
  constexpr int kWidth = 24;
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  const double elapsed = std::chrono::duration<double>(now - stageStart_).count();
  char left[32] = "";
  if (fraction > 0.02 && fraction < 1 && elapsed > 0.5) {
    const int seconds = static_cast<int>(elapsed * (1 - fraction) / fraction + 0.5);
    std::snprintf(left, sizeof left, ", %d:%02d left", seconds / 60, seconds % 60);
  }
  std::fprintf(stderr, "\r\033[K%-22s [%s%s] %3d%%%s", stage.c_str(), std::string(filled, '#').c_str(),
               std::string(kWidth - filled, '.').c_str(), static_cast<int>(fraction * 100 + 0.5), left);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace makemessage
