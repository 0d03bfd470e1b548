// Decodes clips made by ffmpeg's H.263 encoder with this decoder and with
// ffmpeg, and compares the pictures by luma PSNR. A small steady difference is
// expected (this decoder's intra DC sits one level above the standard's, and
// its inverse transform is its own); large differences are faults.
//
// Set CLIPNOTE_PEER_CLIPS to a directory to compare every .263 file in it too.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "clip_decoding.h"
#include "support/test_support.h"
#include "video_parser/clip_syntax_walk.h"

namespace {

// Both decoders must give the same number of pictures, a mean luma PSNR of at
// least 40 dB and no picture below 35 dB.
void ExpectCloseToFfmpeg(const std::string& path) {
  SCOPED_TRACE(path);
  const DecodedClip ours = DecodeWithDecoder(support::ReadFile(path));
  ASSERT_FALSE(ours.pictures.empty());
  ASSERT_FALSE(ours.macroblockError) << "macroblock " << ours.failedMacroblock;
  EXPECT_EQ(ours.firstStaleReference, -1) << "grids not rebuilt where the picture changed";
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
  std::printf("%s: %zu pictures %dx%d, luma PSNR mean %.2f dB, min %.2f dB\n",
              std::filesystem::path(path).filename().c_str(), theirs.size(), ours.width,
              ours.height, mean, worst);
  EXPECT_GE(mean, 40.0);
}

void PrintSyntax(const std::string& name, const parser_test::ClipSyntax& syntax) {
  std::printf("%s: %d half-sample vectors, %d intra macroblocks in INTER pictures, %d GOB "
              "headers, %d quantiser changes\n",
              name.c_str(), syntax.halfSampleVectors, syntax.intraInInter, syntax.gobHeaders,
              syntax.quantiserChanges);
}

struct PeerClip {
  const char* name;
  const char* input;    // ffmpeg input options; STILL names a generated still image
  const char* size;
  const char* options;  // encoder options
  bool gobHeaders;      // made with -ps
  bool dquant;          // rate control with adaptive quantisation
  bool intraInInter;    // motion that makes the encoder code some macroblocks intra
};

const PeerClip kClips[] = {
    {"qcif_fixed", "-f lavfi -i testsrc2=size=176x144:rate=30000/1001,scroll=h=0.004:v=0.003",
     "176x144", "-q:v 6", false, false, true},
    {"qcif_gob_adaptive", "-f lavfi -i mandelbrot=size=176x144:rate=30000/1001", "176x144",
     "-b:v 48k -lumi_mask 0.4 -p_mask 0.4 -ps 300", true, true, false},
    {"qcif_adaptive", "-f lavfi -i testsrc2=size=176x144:rate=30000/1001,scroll=h=0.007:v=-0.002",
     "176x144", "-b:v 48k -lumi_mask 0.4 -p_mask 0.4", false, true, true},
    {"qcif_zoompan_gob_fixed",
     "-loop 1 -framerate 30000/1001 -i STILL -vf zoompan=z=1.1+0.002*on:x=2*on:y=on:d=1:s=176x144",
     "176x144", "-q:v 5 -ps 400", true, false, false},
    {"cif_fixed", "-f lavfi -i mandelbrot=size=352x288:rate=30000/1001", "352x288", "-q:v 4",
     false, false, false},
    {"cif_gob_adaptive", "-f lavfi -i testsrc2=size=352x288:rate=30000/1001,scroll=h=0.003:v=0.002",
     "352x288", "-b:v 200k -lumi_mask 0.4 -p_mask 0.4 -ps 600", true, true, true},
    {"cif_zoompan_adaptive",
     "-loop 1 -framerate 30000/1001 -i STILL -vf zoompan=z=1.3-0.003*on:x=300-3*on:y=on:d=1:s=352x288",
     "352x288", "-b:v 160k -lumi_mask 0.4 -p_mask 0.4", false, true, true},
};

// A detailed still for the zoom-and-pan clips.
std::string StillImage() {
  const std::string still = support::Scratch("still.png");
  support::RunShell("ffmpeg -v error -y -f lavfi -i 'mandelbrot=size=800x600,hue=s=3' -frames:v 1 '" + still + "'");
  return still;
}

class PeerComparison : public ::testing::TestWithParam<PeerClip> {};

TEST_P(PeerComparison, MatchesFfmpegWithinPsnrBounds) {
  if (!support::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const PeerClip& clip = GetParam();
  std::string input = clip.input;
  if (const size_t at = input.find("STILL"); at != std::string::npos) {
    input.replace(at, 5, "'" + StillImage() + "'");
  }
  const std::string path = support::Scratch(std::string(clip.name) + ".263");
  ASSERT_EQ(support::RunShell("ffmpeg -v error -y " + input + " -frames:v 60 -s " + clip.size +
                              " -pix_fmt yuv420p -c:v h263 " + clip.options + " -f h263 '" + path + "'")
                .status,
            0);

  // The clip must hold what it is meant to test: motion with half-sample
  // vectors, and intra macroblocks inside INTER pictures, GOB headers and
  // quantiser changes where asked for.
  const parser_test::ClipSyntax syntax = parser_test::WalkClipSyntax(support::ReadFile(path));
  EXPECT_EQ(syntax.failedMacroblock, -1);
  EXPECT_GT(syntax.halfSampleVectors, 0);
  if (clip.intraInInter) {
    EXPECT_GT(syntax.intraInInter, 0);
  }
  EXPECT_EQ(syntax.gobHeaders > 0, clip.gobHeaders);
  if (clip.dquant) {
    EXPECT_GT(syntax.quantiserChanges, 0);
  }
  PrintSyntax(clip.name, syntax);

  ExpectCloseToFfmpeg(path);
}

INSTANTIATE_TEST_SUITE_P(FfmpegClips, PeerComparison, ::testing::ValuesIn(kClips),
                         [](const auto& info) { return std::string(info.param.name); });

// The committed clips need no encoder; they are checked against ffmpeg's
// decoder when it is there.
TEST(PeerComparison, CommittedClips) {
  if (!support::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  for (const char* name : {"small_qcif.263", "small_cif.263"}) {
    ExpectCloseToFfmpeg(std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_recon/data/" + name);
  }
}

// Clips from elsewhere, for checking a decoder change on material of one's own.
TEST(PeerComparison, ClipsFromDirectory) {
  const char* directory = std::getenv("CLIPNOTE_PEER_CLIPS");
  if (directory == nullptr) GTEST_SKIP() << "CLIPNOTE_PEER_CLIPS is not set";
  if (!support::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  int clips = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() != ".263") continue;
    PrintSyntax(entry.path().filename().string(),
                parser_test::WalkClipSyntax(support::ReadFile(entry.path().string())));
    ExpectCloseToFfmpeg(entry.path().string());
    ++clips;
  }
  EXPECT_GT(clips, 0) << "no .263 files in " << directory;
}

}  // namespace
