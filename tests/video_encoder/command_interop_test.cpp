// `clipnote-encode video` on clips ffmpeg makes (motion, noise, a scene cut): its
// reconstruction is byte for byte what `clipnote-decode video` writes for the stream, and
// ffmpeg's decoder, whose inverse transform is not ours, stays within 45 dB of our decoder on
// every picture (the intra refresh bounds how far the two drift apart). The three-minute runs
// of the same check are in bench/encoders/.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "video_recon/clip_decoding.h"

namespace {

const std::string kEncode = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-encode/clipnote-encode";
const std::string kDecode = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";

struct InteropCase {
  const char* name;
  const char* source;  // an ffmpeg -f lavfi graph of QCIF pictures at 30000/1001 Hz
  int quantiser;
  bool gobHeaders;
};

const InteropCase kInteropCases[] = {
    {"test pattern, moving, noisy", "testsrc2=s=176x144:r=30000/1001:d=8,noise=alls=8:allf=t", 2, false},
    {"cut to a zoom", "testsrc2=s=176x144:r=30000/1001:d=3[a];"
                      "mandelbrot=s=176x144:r=30000/1001,trim=duration=3,setpts=PTS-STARTPTS[b];"
                      "[a][b]concat=n=2[out0]", 8, true},
    {"cells, coarse", "life=s=176x144:r=30000/1001:mold=10:ratio=0.2:death_color=#204080:"
                      "life_color=#e0c040,noise=alls=6:allf=t,trim=duration=6", 20, false},
};

TEST(EncodeCommand, ReconstructionIsOurDecodeAndFfmpegsStaysClose) {
  if (!support::HaveTool("ffmpeg")) {
    CLIPNOTE_SKIP_UNLESS_CI("ffmpeg is not installed");
  }
  for (const InteropCase& c : kInteropCases) {
    SCOPED_TRACE(c.name);
    const std::string in = support::Scratch("in.y4m");
    const std::string clip = support::Scratch("out.263");
    const std::string recon = support::Scratch("recon.y4m");
    const std::string decoded = support::Scratch("decoded.y4m");
    ASSERT_EQ(support::Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", c.source, "-pix_fmt",
                            "yuv420p", in}).status, 0);
    std::vector<std::string> encode = {kEncode, "video", in, clip, "--quantiser", std::to_string(c.quantiser),
                                       "--reconstruction", recon};
    if (c.gobHeaders) encode.push_back("--gob-headers");
    const support::RunResult run = support::Run(encode);
    ASSERT_EQ(run.status, 0) << run.Output();
    ASSERT_EQ(support::Run({kDecode, "video", clip, decoded}).status, 0);
    EXPECT_EQ(support::ReadFile(recon), support::ReadFile(decoded));

    const DecodedClip ours = DecodeWithDecoder(support::ReadFile(clip));
    const std::vector<std::vector<uint8_t>> theirs = DecodeWithFfmpeg(clip, 176, 144);
    ASSERT_GT(ours.pictures.size(), 150u);
    ASSERT_EQ(theirs.size(), ours.pictures.size());
    double lowest = 99.0;
    for (size_t i = 0; i < theirs.size(); ++i) {
      lowest = std::min(lowest, LumaPsnr(ours.pictures[i], theirs[i], 176, 144));
    }
    EXPECT_GE(lowest, 45.0);
  }
}

}  // namespace
