#include "tools/clipnote-decode/bench_subject.h"

#include <chrono>

double BestSecondsOf(BenchSubject& subject, int repeat, uint64_t& units) {
  double best = 0;
  for (int run = 0; run < repeat; ++run) {
    const auto start = std::chrono::steady_clock::now();
    units = subject.RunOnce();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run == 0 || seconds < best) best = seconds;
  }
  return best;
}
