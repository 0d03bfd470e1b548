// Progress of long work, as every tool shows it: on a terminal, one line on standard error with
// the stage's name, a bar and the time left, redrawn in place; nothing at all when standard error
// is not a terminal (a pipe, a log file, a test) or the user asked for quiet.
//
//   clipnote::tools::Progress progress(args.Has("quiet"));
//   progress.Stage("encoding pictures", pictures);
//   for (size_t i = 0; i < pictures; ++i) { ...; progress.Update(i + 1); }
//   progress.Done();  // the line is cleared; what the tool prints next starts on a line of its own
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace clipnote::tools {

class Progress {
 public:
  // Draws on standard error when it is a terminal and `quiet` is not set.
  explicit Progress(bool quiet);
  // Draws into `out` as on a terminal `columns` wide, reading the time (in seconds) from `clock`.
  Progress(std::FILE* out, int columns, std::function<double()> clock);
  ~Progress();  // clears the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool active() const { return out_ != nullptr; }
  // Starts a stage of `total` units (pictures, samples, bytes: whatever the stage counts).
  void Stage(std::string name, double total);
  // `done` of the stage's units are done. Redrawn at most ten times a second, and when complete.
  void Update(double done);
  // Clears the line, so that a message or the next output starts on a line of its own.
  void Done();

 private:
  void Draw(double now);

  std::FILE* out_ = nullptr;
  int columns_ = 80;
  std::function<double()> clock_;
  std::string stage_;
  double total_ = 0;
  double done_ = 0;
  double started_ = 0;
  double drawn_ = -1;  // when the line was last drawn; negative: not drawn since the last clear
};

// One line of the bar, fitted to `columns`: "exporting [#######------]  42%  0:12 left". The time
// left is left out while unknown.
std::string ProgressLine(std::string_view stage, double fraction, std::optional<double> secondsLeft, int columns);
// The time left from how long a stage has run and how much of it is done: nothing until there is
// enough to go on (a twentieth done, or half a second run).
std::optional<double> EstimateSecondsLeft(double elapsed, double fraction);

}  // namespace clipnote::tools
