// `clipnote-encode video` on clips ffmpeg makes (motion, noise, a scene cut): its
// reconstruction is byte for byte what `clipnote-decode video` writes for the stream, and
// ffmpeg's decoder, whose inverse transform is not ours, stays within 45 dB of our decoder on
// every picture (the intra refresh bounds how far the two drift apart). The three-minute runs
// of the same check are in bench/encoders/.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
  int bitrate = 0;  // above 0: held with --bitrate (the quantiser moves with DQUANT)
  const char* speed = "thorough";
};

const InteropCase kInteropCases[] = {
    {"test pattern, moving, noisy", "testsrc2=s=176x144:r=30000/1001:d=8,noise=alls=8:allf=t", 2, false},
    {"cut to a zoom", "testsrc2=s=176x144:r=30000/1001:d=3[a];"
                      "mandelbrot=s=176x144:r=30000/1001,trim=duration=3,setpts=PTS-STARTPTS[b];"
                      "[a][b]concat=n=2[out0]", 8, true},
    {"cells, coarse", "life=s=176x144:r=30000/1001:seed=7:mold=10:ratio=0.2:death_color=#204080:"
                      "life_color=#e0c040,noise=alls=6:allf=t,trim=duration=6", 20, false},
    {"test pattern held at 96 kbit/s", "testsrc2=s=176x144:r=30000/1001:d=6,noise=alls=8:allf=t", 8, true,
     96000},
    {"cut to a zoom, fast, at 64 kbit/s", "testsrc2=s=176x144:r=30000/1001:d=3[a];"
                      "mandelbrot=s=176x144:r=30000/1001,trim=duration=3,setpts=PTS-STARTPTS[b];"
                      "[a][b]concat=n=2[out0]", 8, false, 64000, "fast"},
    {"cells, fast", "life=s=176x144:r=30000/1001:seed=7:mold=10:ratio=0.2:death_color=#204080:"
                    "life_color=#e0c040,noise=alls=6:allf=t,trim=duration=6", 4, false, 0, "fast"},
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
                                       "--reconstruction", recon, "--force"};
    if (c.gobHeaders) encode.push_back("--gob-headers");
    if (c.bitrate > 0) encode.insert(encode.end(), {"--bitrate", std::to_string(c.bitrate)});
    encode.insert(encode.end(), {"--speed", c.speed});
    const support::RunResult run = support::Run(encode);
    ASSERT_EQ(run.status, 0) << run.Output();
    ASSERT_EQ(support::Run({kDecode, "video", clip, decoded, "--force"}).status, 0);
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

// A QCIF Y4M of `frames` pictures, a gradient that moves a pixel a picture, behind `header`.
std::vector<uint8_t> MovingY4m(int frames, const std::string& header = "YUV4MPEG2 W176 H144 F30000:1001 C420jpeg") {
  std::vector<uint8_t> out(header.begin(), header.end());
  out.push_back('\n');
  for (int f = 0; f < frames; ++f) {
    const std::string frame = "FRAME\n";
    out.insert(out.end(), frame.begin(), frame.end());
    for (int y = 0; y < 144; ++y) {
      for (int x = 0; x < 176; ++x) out.push_back(static_cast<uint8_t>((x + f) * 3 + y));
    }
    out.insert(out.end(), 2 * 88 * 72, 128);
  }
  return out;
}

// What the command takes and what it refuses: each row an input, its options, the exit status
// and a piece of what it says. Refused runs leave no output behind.
TEST(EncodeCommand, AnswersEveryInputAndOptionAsItShould) {
  const std::vector<uint8_t> good = MovingY4m(6);
  std::vector<uint8_t> cut = good;
  cut.resize(cut.size() - 100);
  std::vector<uint8_t> noFrame;
  const std::string header = "YUV4MPEG2 W176 H144 F30000:1001 C420jpeg\n";
  noFrame.assign(header.begin(), header.end());
  const std::string junk = "FRAMX\n";
  noFrame.insert(noFrame.end(), junk.begin(), junk.end());
  noFrame.insert(noFrame.end(), 176 * 144 * 3 / 2, 0);

  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    std::vector<std::string> options;
    int status;
    const char* says;  // on standard error for a refusal, standard output when written
  };
  const std::vector<Row> rows = {
      {"fixed quantiser", good, {"--quantiser", "12"}, 0, "6 pictures, 176x144, quantiser 12"},
      {"fast", good, {"--speed", "fast", "--quantiser", "6"}, 0, "6 pictures, 176x144, quantiser 6"},
      {"held bitrate", good, {"--bitrate", "64000", "--gob-headers"}, 0, "64000 bits/s from quantiser"},
      {"size budget met", good, {"--max-size", "60000"}, 0, "6 pictures, 176x144, quantiser"},
      {"size budget out of reach", good, {"--max-size", "40"}, 1, "do not fit 40 bytes at any quantiser"},
      {"not Y4M", {'R', 'I', 'F', 'F', '\n'}, {}, 1, "not a YUV4MPEG2 file"},
      {"empty file", {}, {}, 1, "not a YUV4MPEG2 file"},
      {"no frames", MovingY4m(0), {}, 1, "no frames"},
      {"frame cut short", cut, {}, 1, "frame 5 is cut short"},
      {"no FRAME header", noFrame, {}, 1, "frame 0: no FRAME header"},
      {"frame rate", MovingY4m(1, "YUV4MPEG2 W176 H144 F25:0"), {}, 1, "frame rate 25:0 is not a rate"},
      {"4:2:2", MovingY4m(1, "YUV4MPEG2 W176 H144 F25:1 C422"), {}, 1, "colour space C422 is not 4:2:0"},
      {"odd size", MovingY4m(1, "YUV4MPEG2 W320 H240 F25:1"), {}, 1, "only QCIF (176x144) and CIF"},
      {"quantiser 0", good, {"--quantiser", "0"}, 2, "--quantiser takes 1 to 31, not 0"},
      {"size in words", good, {"--max-size", "big"}, 2, "--max-size takes a number of bytes, not big"},
      {"bitrate too low", good, {"--bitrate", "999"}, 2, "--bitrate takes 1000 to 100000000"},
      {"speed in words", good, {"--speed", "quick"}, 2, "--speed is thorough or fast, not quick"},
      {"budget and quantiser", good, {"--max-size", "9000", "--quantiser", "4"}, 2, "give it alone"},
      {"unknown option", good, {"--fast"}, 2, "unknown option --fast"},
      {"option without value", good, {"--quantiser"}, 2, "--quantiser needs a value (Q)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string in = support::WriteFile(support::Scratch("in.y4m"), row.file);
    const std::string out = support::Scratch("out.263");
    std::filesystem::remove(out);  // the row before may have written it
    std::vector<std::string> command = {kEncode, "video", in, out};
    command.insert(command.end(), row.options.begin(), row.options.end());
    const support::RunResult run = support::Run(command);
    EXPECT_EQ(run.status, row.status) << run.Output();
    EXPECT_NE((row.status == 0 ? run.out : run.err).find(row.says), std::string::npos) << run.Output();
    EXPECT_EQ(std::filesystem::exists(out), row.status == 0);
    if (row.status == 0 && row.options[0] == "--max-size") {
      EXPECT_LE(std::filesystem::file_size(out), 60000u);
    }
  }

  // A missing input, an output folder that is not there, and too few arguments.
  const std::string in = support::WriteFile(support::Scratch("in.y4m"), good);
  const support::RunResult missing = support::Run({kEncode, "video", support::Scratch("none.y4m"), support::Scratch("o.263")});
  EXPECT_EQ(missing.status, 1) << missing.Output();
  const support::RunResult noFolder = support::Run({kEncode, "video", in, support::Scratch("no/such/o.263")});
  EXPECT_EQ(noFolder.status, 1) << noFolder.Output();
  EXPECT_EQ(support::Run({kEncode, "video", in}).status, 2);
  EXPECT_EQ(support::Run({kEncode}).status, 2);
  EXPECT_EQ(support::Run({kEncode, "picture", in, support::Scratch("o.263")}).status, 2);
}

}  // namespace
