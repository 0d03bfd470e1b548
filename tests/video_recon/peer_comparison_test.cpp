// Decodes clips made by ffmpeg's H.263 encoder with this decoder and with
// ffmpeg, and compares the pictures by luma PSNR. A small steady difference is
// expected (this decoder's intra DC sits one level above the standard's, and
// its inverse transform is its own); large differences are faults.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "clip_decoding.h"

namespace {

struct PeerClip {
  const char* name;
  const char* source;   // lavfi source
  const char* size;
  const char* options;  // encoder options
  bool expectHalfSample;
  bool expectDquant;
};

const PeerClip kClips[] = {
    {"qcif_fixed", "testsrc2=size=176x144:rate=30000/1001,scroll=h=0.004:v=0.003", "176x144",
     "-q:v 6", true, false},
    {"qcif_gob_rate", "mandelbrot=size=176x144:rate=30000/1001", "176x144",
     "-b:v 80k -lumi_mask 0.3 -p_mask 0.3 -ps 300", true, false},
    {"qcif_adaptive", "testsrc2=size=176x144:rate=30000/1001,scroll=h=0.007:v=-0.002", "176x144",
     "-b:v 48k -lumi_mask 0.3 -p_mask 0.3", true, true},
    {"cif_fixed", "mandelbrot=size=352x288:rate=30000/1001", "352x288", "-q:v 4", true, false},
    {"cif_gob_adaptive", "testsrc2=size=352x288:rate=30000/1001,scroll=h=0.003:v=0.002",
     "352x288", "-b:v 250k -lumi_mask 0.3 -p_mask 0.3 -ps 600", true, false},
};

class PeerComparison : public ::testing::TestWithParam<PeerClip> {};

TEST_P(PeerComparison, MatchesFfmpegWithinPsnrBounds) {
  if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  const PeerClip& clip = GetParam();
  const std::string path = ScratchDirectory("peer") + "/" + clip.name + ".263";
  ASSERT_TRUE(RunCommand(std::string("ffmpeg -v error -y -f lavfi -i '") + clip.source +
                         "' -frames:v 60 -s " + clip.size + " -c:v h263 " + clip.options +
                         " -f h263 '" + path + "'"));

  const DecodedClip ours = DecodeWithDecoder(ReadFileBytes(path));
  ASSERT_FALSE(ours.pictures.empty());
  ASSERT_FALSE(ours.macroblockError);
  const auto theirs = DecodeWithFfmpeg(path, ours.width, ours.height);
  ASSERT_EQ(ours.pictures.size(), theirs.size());

  double sum = 0, worst = 99;
  for (size_t i = 0; i < theirs.size(); ++i) {
    const double psnr = LumaPsnr(ours.pictures[i], theirs[i], ours.width, ours.height);
    sum += psnr;
    worst = std::min(worst, psnr);
    EXPECT_GE(psnr, 35.0) << "picture " << i;
  }
  const double mean = sum / static_cast<double>(theirs.size());
  std::printf("%s: %zu pictures %dx%d, luma PSNR mean %.2f dB, min %.2f dB\n", clip.name,
              theirs.size(), ours.width, ours.height, mean, worst);
  RecordProperty("mean_luma_psnr", std::to_string(mean));
  RecordProperty("min_luma_psnr", std::to_string(worst));
  EXPECT_GE(mean, 40.0);
  if (clip.expectHalfSample) {
    EXPECT_TRUE(ours.halfSampleVectors);
  }
  if (clip.expectDquant) {
    EXPECT_TRUE(ours.quantiserChanged);
  }
}

INSTANTIATE_TEST_SUITE_P(FfmpegClips, PeerComparison, ::testing::ValuesIn(kClips),
                         [](const auto& info) { return std::string(info.param.name); });

// The committed clips need no encoder; they are checked against ffmpeg's
// decoder when it is there.
TEST(PeerComparison, CommittedClips) {
  if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  for (const char* name : {"small_qcif.263", "small_cif.263"}) {
    const std::string path = std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_recon/data/" + name;
    const DecodedClip ours = DecodeWithDecoder(ReadFileBytes(path));
    const auto theirs = DecodeWithFfmpeg(path, ours.width, ours.height);
    ASSERT_EQ(ours.pictures.size(), theirs.size()) << name;
    for (size_t i = 0; i < theirs.size(); ++i) {
      EXPECT_GE(LumaPsnr(ours.pictures[i], theirs[i], ours.width, ours.height), 40.0) << name;
    }
  }
}

}  // namespace
