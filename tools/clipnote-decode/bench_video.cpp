// The video decoder as `clipnote-decode bench video` measures it: not built yet.

#include "tools/clipnote-decode/bench_subject.h"

std::unique_ptr<BenchSubject> MakeVideoBenchSubject() { return nullptr; }
