#pragma once

// One decoder under measurement by `clipnote-decode bench`. Prepare runs once, untimed, on
// the input already read into memory (it allocates whatever the decoder needs); RunOnce
// decodes the whole input and returns the units produced (pictures or samples).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class BenchSubject {
 public:
  virtual ~BenchSubject() = default;
  virtual const char* UnitName() const = 0;
  // False, with a sentence in error, when the input cannot be decoded at all.
  virtual bool Prepare(const std::vector<uint8_t>& input, std::string& error) = 0;
  virtual uint64_t RunOnce() = 0;
};

// Runs the subject `repeat` times; returns the shortest run in seconds and the units
// the last run produced.
double BestSecondsOf(BenchSubject& subject, int repeat, uint64_t& units);

// The speech decoder on a raw G.723.1 stream, or on a VOICE clip when voiceClip is set.
std::unique_ptr<BenchSubject> MakeAudioBenchSubject(bool voiceClip);

// The video decoder on an H.263 clip; null while the video half is not built.
std::unique_ptr<BenchSubject> MakeVideoBenchSubject();
