// The lookup of carried resources, and the formats the player relies on in each.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "resources/embedded_resources.h"
#include "resources/resource_ids.h"

namespace {

using clipnote::EmbeddedResource;
using clipnote::FindEmbeddedResource;

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

TEST(FindEmbeddedResource, TakesTypesAndNamesAsTheWindowsLookupDoes) {
  const EmbeddedResource* movie = FindEmbeddedResource("#263", "MOVIE");
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(FindEmbeddedResource(RT_MOVIE_CLIP, "movie"), movie);  // names ignore case
  EXPECT_EQ(FindEmbeddedResource(std::string("#263"), std::string("Movie")), movie);
  EXPECT_EQ(movie->language, 0x409);

  const EmbeddedResource* chime = FindEmbeddedResource("WAVE", IDW_STARTUP_SOUND);
  ASSERT_NE(chime, nullptr);
  EXPECT_EQ(FindEmbeddedResource("wave", "#150"), chime);

  // A numeric id never matches a name that merely looks like it, and back.
  EXPECT_EQ(FindEmbeddedResource("#263", "#1"), nullptr);
  EXPECT_EQ(FindEmbeddedResource("263", "MOVIE"), nullptr);
  EXPECT_EQ(FindEmbeddedResource("#723", "MOVIE"), nullptr);
  EXPECT_EQ(FindEmbeddedResource("#263x", "MOVIE"), nullptr);
  EXPECT_EQ(FindEmbeddedResource("", ""), nullptr);
  EXPECT_EQ(FindEmbeddedResource("WAVE", 0), nullptr);
  EXPECT_EQ(FindEmbeddedResource("#99999999999", "MOVIE"), nullptr);
}

TEST(EmbeddedResources, VideoClipStartsWithAQcifPictureHeader) {
  const EmbeddedResource* movie = FindEmbeddedResource(RT_MOVIE_CLIP, "MOVIE");
  ASSERT_NE(movie, nullptr);
  if (movie->size == 0) GTEST_SKIP() << "the message has no video";
  ASSERT_GE(movie->size, 5u);
  const std::uint8_t* p = movie->data;
  // 22-bit picture start code, 8-bit temporal reference, then PTYPE: "1 0", split screen,
  // document camera, freeze release, and the 3-bit source format (2 = QCIF).
  const std::uint64_t bits = static_cast<std::uint64_t>(p[0]) << 32 | static_cast<std::uint64_t>(p[1]) << 24 |
                             static_cast<std::uint64_t>(p[2]) << 16 | p[3] << 8 | p[4];
  EXPECT_EQ(bits >> 18, 0x20u) << "picture start code";
  EXPECT_EQ((bits >> 8) & 0x3, 0x2u) << "PTYPE marker bits";
  EXPECT_EQ((bits >> 2) & 0x7, 2u) << "source format must be QCIF";
}

TEST(EmbeddedResources, SpeechClipPrefixReservesThePcmItsFramesCanYield) {
  const EmbeddedResource* voice = FindEmbeddedResource(RT_VOICE_CLIP, "VOICE");
  ASSERT_NE(voice, nullptr);
  ASSERT_GE(voice->size, 4u);
  const std::size_t coded = voice->size - 4;
  EXPECT_EQ(Le32(voice->data), 480u * (coded + 1));
}

TEST(EmbeddedResources, StartupSoundIsTenThousandBytesOfMono8kHz16BitPcm) {
  const EmbeddedResource* chime = FindEmbeddedResource("WAVE", IDW_STARTUP_SOUND);
  ASSERT_NE(chime, nullptr);
  ASSERT_EQ(chime->size, 44u + 10000u);
  const std::uint8_t* p = chime->data;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), "RIFF");
  EXPECT_EQ(Le32(p + 4), chime->size - 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 8), 8), "WAVEfmt ");
  EXPECT_EQ(Le32(p + 16), 16u);
  EXPECT_EQ(Le16(p + 20), 1);      // PCM
  EXPECT_EQ(Le16(p + 22), 1);      // mono
  EXPECT_EQ(Le32(p + 24), 8000u);  // samples per second
  EXPECT_EQ(Le32(p + 28), 16000u); // bytes per second
  EXPECT_EQ(Le16(p + 32), 2);      // block align
  EXPECT_EQ(Le16(p + 34), 16);     // bits per sample
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 36), 4), "data");
  EXPECT_EQ(Le32(p + 40), 10000u);
}

TEST(EmbeddedResources, LogoIsA146By32SixteenColourBitmap) {
  const EmbeddedResource* logo = FindEmbeddedResource(clipnote::kResourceTypeBitmap, IDB_LOGO);
  ASSERT_NE(logo, nullptr);
  ASSERT_GE(logo->size, 40u + 64u);
  const std::uint8_t* p = logo->data;  // a bitmap resource starts at its info header
  EXPECT_EQ(Le32(p), 40u);
  EXPECT_EQ(Le32(p + 4), 146u);
  EXPECT_EQ(Le32(p + 8), 32u);
  EXPECT_EQ(Le16(p + 14), 4);  // bits per pixel
  EXPECT_EQ(Le32(p + 16), 0u); // uncompressed
  const std::size_t stride = (146 * 4 + 31) / 32 * 4;
  EXPECT_EQ(logo->size, 40u + 16u * 4u + stride * 32u);
}

TEST(EmbeddedResources, IconGroupHoldsSixteenColourIconsOf32And16Pixels) {
  const EmbeddedResource* group = FindEmbeddedResource(clipnote::kResourceTypeGroupIcon, IDI_PLAYER);
  if (group == nullptr) GTEST_SKIP() << "built without a resource compiler: no icons";
  ASSERT_GE(group->size, 6u);
  const std::uint8_t* p = group->data;
  EXPECT_EQ(Le16(p + 2), 1);  // icons, not cursors
  const int count = Le16(p + 4);
  ASSERT_EQ(count, 2);
  ASSERT_EQ(group->size, 6u + 14u * count);
  const int sizes[] = {32, 16};
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* entry = p + 6 + 14 * i;
    SCOPED_TRACE("icon " + std::to_string(i));
    EXPECT_EQ(entry[0], sizes[i]);
    EXPECT_EQ(entry[1], sizes[i]);
    EXPECT_EQ(entry[2], 16);         // colours
    EXPECT_EQ(Le16(entry + 6), 4);   // bits per pixel
    const EmbeddedResource* image = FindEmbeddedResource(clipnote::kResourceTypeIcon, Le16(entry + 12));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size, Le32(entry + 8));
    ASSERT_GE(image->size, 40u);
    EXPECT_EQ(Le32(image->data + 4), static_cast<std::uint32_t>(sizes[i]));
    EXPECT_EQ(Le32(image->data + 8), 2u * sizes[i]);  // colour rows and mask rows
    EXPECT_EQ(Le16(image->data + 14), 4);
  }
}

}  // namespace
