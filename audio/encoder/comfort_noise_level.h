#pragma once

namespace clipnote::speech {

// What the decoder's comfort noise would sound like: the mean square of its output for a
// candidate SID gain index. The decoder builds comfort noise partly from its own past
// excitation with random pitch gains, so its level follows the gain index only roughly (it
// comes out several dB louder than the gain alone says right after speech, and creeps up
// over a silence); the encoder asks its own copy of the decoder instead of guessing.
class ComfortNoiseTrial {
 public:
  virtual double DecodedPower(int gainIndex) = 0;

 protected:
  ~ComfortNoiseTrial() = default;
};

// The SID gain index, starting from the estimate, whose decoded comfort noise comes nearest
// (in dB) the target mean square: it walks one index at a time in the direction that gets
// nearer, while it does, at most kMaxSteps indices away.
int ChooseSidGain(int estimate, double targetPower, ComfortNoiseTrial& trial);

// Level difference in dB of two mean squares, safe for silence.
double LevelDifference(double power, double targetPower);

}  // namespace clipnote::speech
