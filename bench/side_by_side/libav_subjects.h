#pragma once

// libavcodec's H.263 and G.723.1 decoders behind the same interface as ours, so the
// side-by-side tool times both on the same bytes in the same way: input split into
// packets once, untimed; each run opens a single-threaded decoder, decodes every
// packet, drains it and closes it.

#include <memory>

#include "tools/clipnote-decode/bench_subject.h"

// H.263: packets split at the picture start codes.
std::unique_ptr<BenchSubject> MakeLibavVideoSubject();
// G.723.1: one packet per frame (24, 20, 4 or 1 bytes, from the first byte); with
// voiceClip, the 4-byte prefix of a VOICE clip is skipped first.
std::unique_ptr<BenchSubject> MakeLibavAudioSubject(bool voiceClip);
