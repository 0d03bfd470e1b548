// Whole clips through the encoder: its reference after every picture equals our decoder's
// picture of the stream, the stream's bytes are as recorded, and no settings, pictures or
// ticks make a stream the decoder refuses. The recorded clips are coded with each version of
// the kernels, the encoder's and the reconstruction's.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "support/kernel_tables.h"
#include "support/test_support.h"
#include "video/encoder/encoder_kernels.h"
#include "video/encoder/video_encoder.h"
#include "video/recon/recon_kernels.h"
#include "video_recon/clip_decoding.h"

namespace clipnote::h263 {
namespace {

using Picture = std::vector<uint8_t>;
using support::Fnv1a;

uint32_t Next(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// Made pictures: a textured background panning by `pan` half samples a picture, a square
// moving across it, sensor noise, and (cut > 0) a new scene from picture `cut` on.
std::vector<Picture> MakePictures(int width, int height, int count, int pan, int noise, int cut) {
  std::vector<Picture> pictures;
  uint32_t state = 2024;
  for (int i = 0; i < count; ++i) {
    Picture p(static_cast<size_t>(width) * height * 3 / 2);
    const bool second = cut > 0 && i >= cut;
    const int shift = pan * i / 2;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int gx = x + shift;
        int value = second ? 40 + ((gx / 8 + y / 8) % 2) * 120 : 60 + (gx * 3 + y * 2) % 97 +
                                                                 ((gx / 16 + y / 12) % 3) * 20;
        const int sx = 20 + 3 * i, sy = 30 + 2 * i;
        if (x >= sx % width && x < sx % width + 32 && y >= sy % height && y < sy % height + 24) {
          value = 220 - (x + y) % 16;
        }
        if (noise > 0) value += static_cast<int>(Next(state) % (2 * noise + 1)) - noise;
        p[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(std::clamp(value, 0, 255));
      }
    }
    const size_t chroma = static_cast<size_t>(width / 2) * (height / 2);
    for (size_t k = 0; k < chroma; ++k) {
      p[static_cast<size_t>(width) * height + k] = static_cast<uint8_t>(128 + (k + shift) % 23);
      p[static_cast<size_t>(width) * height + chroma + k] =
          static_cast<uint8_t>(second ? 90 : 128 - (k / width) % 31);
    }
    pictures.push_back(std::move(p));
  }
  return pictures;
}

struct Encoded {
  std::vector<uint8_t> clip;
  std::vector<Picture> references;
  int32_t code = -1;
  int32_t quantiser = 0;
};

Encoded Encode(const std::vector<Picture>& pictures, const std::vector<int64_t>& ticks,
               const VideoEncoderSettings& settings, int64_t maxBytes = 0) {
  static VideoEncoder encoder;
  Encoded e;
  e.clip.resize(pictures.size() * 60000 + 1024);
  std::vector<const uint8_t*> pointers;
  for (const Picture& p : pictures) pointers.push_back(p.data());
  const VideoClipInput input{pointers.data(), ticks.data(), static_cast<int32_t>(pictures.size()),
                             pictures.empty() ? 0 : pictures[0].size()};
  size_t written = 0;
  const size_t pictureBytes = static_cast<size_t>(settings.width) * settings.height * 3 / 2;
  struct Context {
    Encoded* e;
    size_t bytes;
  } context{&e, pictureBytes};
  e.code = EncodeVideoClip(
      encoder, settings, input, maxBytes, e.clip.data(), e.clip.size(), &written, &e.quantiser,
      [](void* c, int32_t, const uint8_t* picture) {
        auto* ctx = static_cast<Context*>(c);
        ctx->e->references.emplace_back(picture, picture + ctx->bytes);
      },
      &context);
  e.clip.resize(written);
  return e;
}

std::vector<int64_t> EveryTick(int count, int step) {
  std::vector<int64_t> ticks;
  for (int i = 0; i < count; ++i) ticks.push_back(int64_t{step} * i);
  return ticks;
}

struct ClipCase {
  const char* name;
  int width;
  int height;
  int pictures;
  int pan;
  int noise;
  int cut;
  int quantiser;
  bool gobHeaders;
  int gobPayloadBytes;
  uint64_t checksum;  // of the stream's bytes
  int bitsPerSecond = 0;  // above 0: the clip must come within 15% of this rate
  EncoderSpeed speed = EncoderSpeed::kThorough;
};

const ClipCase kClipCases[] = {
    {"qcif still", 176, 144, 6, 0, 0, 0, 8, false, 0, 0xe7bc398a4b7091e8ull},
    {"qcif pan, noise", 176, 144, 12, 3, 4, 0, 4, false, 0, 0x202298efc83cd158ull},
    {"qcif scene cut, GOB headers", 176, 144, 10, 1, 2, 5, 12, true, 0, 0x38936a9a7fe4b5e6ull},
    {"qcif coarse, GOBs by size", 176, 144, 8, 5, 6, 0, 20, false, 200, 0xa20105fc25c6f556ull},
    {"qcif finest", 176, 144, 4, 2, 8, 0, 1, false, 0, 0xedffddcbc9e365c5ull},
    {"cif pan", 352, 288, 4, 2, 3, 0, 10, false, 0, 0xe8885b601dc1b950ull},
    // Held rates move the quantiser inside pictures with DQUANT and at GOB headers.
    {"qcif pan at 48 kbit/s", 176, 144, 45, 3, 4, 0, 8, false, 0, 0x708af20f49f3322dull, 48000},
    {"qcif scene cut at 96 kbit/s, from too fine", 176, 144, 45, 1, 6, 20, 2, true, 0, 0xf70ec69acb9e55dfull, 96000},
    {"qcif pan, noise, fast", 176, 144, 12, 3, 4, 0, 4, false, 0, 0x600489b61981e684ull, 0, EncoderSpeed::kFast},
    {"qcif still, fast", 176, 144, 6, 0, 0, 0, 8, false, 0, 0x735d913eed9a0aacull, 0, EncoderSpeed::kFast},
    {"cif pan, fast", 352, 288, 4, 2, 3, 0, 10, false, 0, 0x9bfc763d6ae6750full, 0, EncoderSpeed::kFast},
    {"qcif scene cut at 64 kbit/s, fast", 176, 144, 45, 1, 6, 20, 8, false, 0, 0x31a0876b3525d502ull, 64000,
     EncoderSpeed::kFast},
};

// Both areas' tables of one version.
struct KernelVersion {
  const char* name;
  const EncoderKernels* encoder;
  const ReconKernels* recon;
};

void PrintTo(const KernelVersion& version, std::ostream* out) { *out << version.name; }

class VideoEncoderKernels : public testing::TestWithParam<KernelVersion> {
 protected:
  support::UseKernelTable<EncoderKernels> encoder_{encoderKernels, *GetParam().encoder};
  support::UseKernelTable<ReconKernels> recon_{reconKernels, *GetParam().recon};
};

INSTANTIATE_TEST_SUITE_P(Kernels, VideoEncoderKernels,
                         testing::Values(KernelVersion{"Plain", &kPlainEncoderKernels, &kPlainReconKernels}
#if defined(__SSE2__)
                                         , KernelVersion{"Sse2", &kSse2EncoderKernels, &kSse2ReconKernels}
#endif
                                         ),
                         support::KernelTableName());

TEST_P(VideoEncoderKernels, ReferenceEqualsTheDecodersPictureOnEveryPicture) {
  for (const ClipCase& c : kClipCases) {
    const std::vector<Picture> pictures = MakePictures(c.width, c.height, c.pictures, c.pan, c.noise, c.cut);
    VideoEncoderSettings settings;
    settings.width = c.width;
    settings.height = c.height;
    settings.quantiser = c.quantiser;
    settings.gobHeaders = c.gobHeaders;
    settings.gobPayloadBytes = c.gobPayloadBytes;
    settings.bitsPerSecond = c.bitsPerSecond;
    settings.speed = c.speed;
    const Encoded e = Encode(pictures, EveryTick(c.pictures, 2), settings);
    ASSERT_EQ(e.code, kEncoderOk) << c.name;
    const DecodedClip decoded = DecodeWithDecoder(e.clip);
    ASSERT_EQ(decoded.pictures.size(), pictures.size()) << c.name;
    EXPECT_FALSE(decoded.macroblockError) << c.name;
    ASSERT_EQ(e.references.size(), pictures.size()) << c.name;
    for (size_t i = 0; i < pictures.size(); ++i) {
      ASSERT_EQ(decoded.pictures[i], e.references[i]) << c.name << " picture " << i;
      EXPECT_GT(LumaPsnr(pictures[i], decoded.pictures[i], c.width, c.height), c.bitsPerSecond == 0 && c.quantiser <= 12 ? 30.0 : 24.0)
          << c.name << " picture " << i;
    }
    if (c.bitsPerSecond > 0) {
      // Every picture stands for 2 ticks of 1001/30000 s.
      const double wanted = c.bitsPerSecond * (2.0 * c.pictures * 1001 / 30000) / 8;
      EXPECT_NEAR(static_cast<double>(e.clip.size()), wanted, 0.15 * wanted) << c.name;
    }
    EXPECT_EQ(Fnv1a(e.clip), c.checksum) << c.name << ": 0x" << std::hex << Fnv1a(e.clip);
  }
}

TEST(VideoEncoder, ReencodesARealClipExactly) {
  // The decoder's pictures of a committed camera clip, coded again.
  const DecodedClip source =
      DecodeWithDecoder(support::ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_recon/data/small_qcif.263"));
  ASSERT_FALSE(source.pictures.empty());
  const Encoded e = Encode(source.pictures, EveryTick(static_cast<int>(source.pictures.size()), 3), {});
  ASSERT_EQ(e.code, kEncoderOk);
  const DecodedClip decoded = DecodeWithDecoder(e.clip);
  ASSERT_EQ(decoded.pictures.size(), source.pictures.size());
  for (size_t i = 0; i < decoded.pictures.size(); ++i) {
    ASSERT_EQ(decoded.pictures[i], e.references[i]) << i;
    EXPECT_GT(LumaPsnr(source.pictures[i], decoded.pictures[i], 176, 144), 32.0) << i;
  }
}

TEST(VideoEncoder, RefusesWhatItCannotCodeAndStaysInItsBuffers) {
  VideoEncoder encoder;
  struct SettingsCase {
    int width, height, quantiser;
  };
  for (const SettingsCase& s : {SettingsCase{128, 96, 8}, SettingsCase{176, 144, 0},
                                SettingsCase{176, 144, 32}, SettingsCase{704, 576, 8},
                                SettingsCase{-176, 144, 8}}) {
    VideoEncoderSettings settings;
    settings.width = s.width;
    settings.height = s.height;
    settings.quantiser = s.quantiser;
    EXPECT_EQ(encoder.Start(settings), kEncoderBadSettings);
  }
  const std::vector<Picture> pictures = MakePictures(176, 144, 3, 2, 3, 0);
  EXPECT_EQ(encoder.EncodePicture(pictures[0].data(), pictures[0].size(), 0), kEncoderNotStarted);
  ASSERT_EQ(encoder.Start({}), kEncoderOk);
  EXPECT_EQ(encoder.EncodePicture(nullptr, pictures[0].size(), 0), kEncoderBadPicture);
  EXPECT_EQ(encoder.EncodePicture(pictures[0].data(), pictures[0].size() - 1, 0), kEncoderBadPicture);

  // An output too small for the clip: refused, nothing written past its end.
  std::vector<uint8_t> out(600, 0xEE);
  std::vector<const uint8_t*> pointers{pictures[0].data(), pictures[1].data(), pictures[2].data()};
  const std::vector<int64_t> ticks = EveryTick(3, 1);
  const VideoClipInput input{pointers.data(), ticks.data(), 3, pictures[0].size()};
  size_t written = 1;
  EXPECT_EQ(EncodeVideoClip(encoder, {}, input, 0, out.data(), 500, &written), kEncoderOutputFull);
  EXPECT_EQ(written, 0u);
  for (size_t i = 500; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
}

TEST(VideoEncoder, AnyTicksGiveOnePictureEach) {
  const std::vector<Picture> pictures = MakePictures(176, 144, 8, 1, 2, 0);
  const std::vector<std::vector<int64_t>> schedules = {
      {0, 0, 0, 0, 0, 0, 0, 0},                      // all at once
      {5, 3, 1, -7, 2, 9, 9, 8},                     // backwards and repeated
      {0, 1000, 1001, 70000, 70001, 70400, 1 << 30, int64_t{1} << 40},  // gaps past TR's range
  };
  for (const auto& ticks : schedules) {
    const Encoded e = Encode(pictures, ticks, {});
    ASSERT_EQ(e.code, kEncoderOk);
    const DecodedClip decoded = DecodeWithDecoder(e.clip);
    EXPECT_EQ(decoded.pictures.size(), pictures.size());
    EXPECT_FALSE(decoded.macroblockError);
  }
}

TEST(VideoEncoder, TargetSizePicksTheFinestQuantiserThatFits) {
  const std::vector<Picture> pictures = MakePictures(176, 144, 10, 3, 4, 0);
  const std::vector<int64_t> ticks = EveryTick(10, 2);
  const Encoded fine = Encode(pictures, ticks, {}, 0);
  ASSERT_EQ(fine.code, kEncoderOk);
  const int64_t budget = static_cast<int64_t>(fine.clip.size()) / 2;
  const Encoded fitted = Encode(pictures, ticks, {}, budget);
  ASSERT_EQ(fitted.code, kEncoderOk);
  EXPECT_LE(static_cast<int64_t>(fitted.clip.size()), budget);
  EXPECT_GT(fitted.quantiser, 8);
  VideoEncoderSettings one = {};
  one.quantiser = fitted.quantiser - 1;
  EXPECT_GT(static_cast<int64_t>(Encode(pictures, ticks, one).clip.size()), budget);
  EXPECT_EQ(Encode(pictures, ticks, {}, 100).code, kEncoderTooLarge);
}

}  // namespace
}  // namespace clipnote::h263
