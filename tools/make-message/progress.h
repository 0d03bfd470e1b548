// The progress line on a terminal: the stage, a bar and the time left, redrawn in place on
// standard error; nothing at all when standard error is no terminal or when asked to be quiet.
#pragma once

#include <chrono>
#include <string>

namespace makemessage {

class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown) {}
  ~Progress() { Clear(); }

  // fraction 0..1 of the stage; the time left is judged from the stage's own pace.
  void Show(const std::string& stage, double fraction);
  // Takes the line away (before other output, and at the end).
  void Clear();

 private:
  bool shown_;
  bool drawn_ = false;
  std::string stage_;
  std::chrono::steady_clock::time_point stageStart_{};
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace makemessage
