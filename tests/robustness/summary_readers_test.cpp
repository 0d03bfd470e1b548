// The readers of clip bytes that the tools' summaries use (what make-message and
// clipnote-decode info report), fed the carried message's clips cut short, with bits flipped,
// with start codes planted, and random bytes: each gives a consistent answer, never a crash.
// A bounded, seeded mutation run (the same inputs every time), beside the fuzz targets.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/test_support.h"
#include "tools/clipnote-decode/clip_summary.h"

namespace {

constexpr int kRounds = 2000;

std::vector<uint8_t> Resource(const char* name) {
  return support::ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/resources/" + name);
}

// Damaged versions of the clip, kRounds of them.
std::vector<std::vector<uint8_t>> Mutations(uint32_t seed, const std::vector<uint8_t>& clip,
                                            const std::vector<std::vector<uint8_t>>& planted) {
  std::mt19937 rng(seed);
  const auto below = [&](size_t n) { return n == 0 ? size_t{0} : size_t(rng() % n); };
  std::vector<std::vector<uint8_t>> out;
  for (int round = 0; round < kRounds; ++round) {
    const size_t start = below(clip.size());
    std::vector<uint8_t> piece(clip.begin() + start, clip.begin() + std::min(clip.size(), start + 1 + below(3000)));
    switch (rng() % 6) {
      case 0: piece.resize(below(piece.size() + 1)); break;  // cut short
      case 1:                                                  // single bits flipped
        for (size_t i = 0, n = 1 + below(3); i < n && !piece.empty(); ++i) {
          const size_t bit = below(piece.size() * 8);
          piece[bit / 8] ^= uint8_t(1 << (bit % 8));
        }
        break;
      case 2: {  // a code planted, possibly at the very end
        const auto& code = planted[below(planted.size())];
        piece.insert(piece.begin() + below(piece.size() + 1), code.begin(), code.end());
        break;
      }
      case 3:  // bytes overwritten with random ones
        for (size_t i = 0, n = 1 + below(15); i < n && !piece.empty(); ++i) piece[below(piece.size())] = uint8_t(rng());
        break;
      case 4:  // random bytes
        piece.resize(below(64));
        for (uint8_t& b : piece) b = uint8_t(rng());
        break;
      default:  // the clip's start, cut anywhere
        piece.assign(clip.begin(), clip.begin() + std::min<size_t>(below(clip.size()), 4000));
    }
    out.push_back(std::move(piece));
  }
  return out;
}

TEST(SummaryReaders, DamagedAndRandomVideoClips) {
  const std::vector<std::vector<uint8_t>> planted = {
      {0, 0, 0x80}, {0, 0, 0x82, 0x02}, {0, 0, 0xfc}, {0, 0, 0x85}, {0, 0}, {0, 0, 0x80, 0, 0, 0}};
  for (const auto& data : Mutations(263, Resource("message.263"), planted)) {
    const VideoSummary s = SummariseVideo(data);
    ASSERT_GE(s.pictures, 0);
    ASSERT_EQ(s.pictureTicks.size(), size_t(s.pictures));
    for (size_t i = 1; i < s.pictureTicks.size(); ++i) {
      ASSERT_GT(s.pictureTicks[i], s.pictureTicks[i - 1]);  // references wrap at 256 into later ticks
      ASSERT_LE(s.pictureTicks[i] - s.pictureTicks[i - 1], 256);
    }
    ASSERT_LE(s.intraPictures, s.pictures);
    ASSERT_LE(s.headerFailureOffset, int64_t(data.size()));
  }
}

TEST(SummaryReaders, DamagedAndRandomSpeechClips) {
  const std::vector<std::vector<uint8_t>> planted = {{0}, {1}, {2}, {3}, {0xff, 0xff, 0xff, 0xff}, {0, 0, 0, 0}};
  const std::vector<uint8_t> voice = Resource("message.723");
  static constexpr int kLength[4] = {24, 20, 4, 1};
  for (auto data : Mutations(723, voice, planted)) {
    for (bool prefixed : {false, true}) {
      if (prefixed) data.insert(data.begin(), voice.begin(), voice.begin() + 4);  // the carried prefix, then the damage
      const SpeechSummary s = SummariseSpeech(data, true);
      const SpeechSummary raw = SummariseSpeech(data, false);
      // Every byte is a whole frame or the cut last one.
      const uint64_t counted = uint64_t(raw.frames63) * kLength[0] + uint64_t(raw.frames53) * kLength[1] +
                               uint64_t(raw.framesSid) * kLength[2] + raw.framesUntransmitted + raw.cutFrameBytes;
      ASSERT_EQ(counted, data.size());
      ASSERT_EQ(s.hasPrefix, true);
      if (data.size() < 4) {
        ASSERT_EQ(s.Frames(), 0);
      }
    }
  }
}

}  // namespace
