#include "tools/common/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "tools/common/atomic_output.h"

namespace clipnote::tools {
namespace {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int TerminalColumns() {
  winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

std::string Clock(double seconds) {
  const long total = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

std::string ProgressLine(std::string_view stage, double fraction, std::optional<double> secondsLeft, int columns) {
  fraction = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
  const std::string tail = std::string(" ") + percent + (secondsLeft ? "  " + Clock(*secondsLeft) + " left" : "");
  // The last column stays free: writing into it makes some terminals wrap.
  const int room = std::max(columns - 1, 1);
  std::string name(stage);
  const int fixed = static_cast<int>(tail.size()) + 3;  // the space and brackets around the bar
  const int barWidth = std::min(40, room - fixed - static_cast<int>(name.size()));
  if (barWidth < 5) {  // too narrow for a bar: the name, cut short, and the figures
    const int keep = room - static_cast<int>(tail.size());
    if (keep < 1) return name.substr(0, room);  // not even the figures fit: the name alone
    if (static_cast<int>(name.size()) > keep) name.resize(keep);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name + tail;
  }
  const int filled = static_cast<int>(fraction * barWidth);
  return name + " [" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "]" + tail;
}

std::optional<double> EstimateSecondsLeft(double elapsed, double fraction) {
  if (!(fraction > 0) || elapsed < 0) return std::nullopt;
  if (fraction >= 1) return 0.0;
  if (fraction < 0.05 && elapsed < 0.5) return std::nullopt;
  return elapsed / fraction * (1 - fraction);
}

Progress::Progress(bool quiet) {
  if (!quiet && isatty(STDERR_FILENO) != 0) {
    out_ = stderr;
    columns_ = TerminalColumns();
    clock_ = SteadySeconds;
  }
}

Progress::Progress(std::FILE* out, int columns, std::function<double()> clock)
    : out_(out), columns_(columns), clock_(std::move(clock)) {}

Progress::~Progress() { Done(); }

void Progress::Stage(std::string name, double total) {
  if (!active()) return;
  stage_ = std::move(name);
  total_ = total;
  done_ = 0;
  started_ = clock_();
  Draw(started_);
}

void Progress::Update(double done) {
  if (!active()) return;
  done_ = done;
  const double now = clock_();
  if (drawn_ < 0 || now - drawn_ >= 0.1 || done_ >= total_) Draw(now);
}

void Progress::Draw(double now) {
  const double fraction = total_ > 0 ? done_ / total_ : 0;
  const std::string line = ProgressLine(stage_, fraction, EstimateSecondsLeft(now - started_, fraction), columns_);
  std::fprintf(out_, "\r%s\033[K", line.c_str());
  std::fflush(out_);
  drawn_ = now;
  NoteOpenErrorLine(true);
}

void Progress::Done() {
  if (!active() || drawn_ < 0) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  drawn_ = -1;
  NoteOpenErrorLine(false);
}

}  // namespace clipnote::tools
