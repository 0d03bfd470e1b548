// Checksums of every picture the decoder produces from the committed clips,
// recorded once; any change to the decoder's output, however small, shows here
// (speed work must leave every sample as it was).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "clip_decoding.h"

namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

void ExpectChecksums(const char* name, const std::vector<uint64_t>& expected) {
  const DecodedClip clip =
      DecodeWithDecoder(ReadFileBytes(std::string(CLIPNOTE_SOURCE_DIR "/tests/video_recon/data/") + name));
  ASSERT_EQ(clip.pictures.size(), expected.size()) << name;
  for (size_t i = 0; i < expected.size(); ++i) {
    const uint64_t sum = Fnv1a(clip.pictures[i]);
    EXPECT_EQ(sum, expected[i]) << name << " picture " << i << ": 0x" << std::hex << sum;
  }
}

TEST(PictureChecksums, CommittedQcifClip) {
  ExpectChecksums("small_qcif.263",
                  {0x35bbc70a733e7131ull, 0x8695bf4602556f58ull, 0xd665e8e41fbfebb1ull,
                   0xaef25248168aa74eull, 0x3ac7b5deb5be4274ull, 0x9186708e067c1614ull});
}

TEST(PictureChecksums, CommittedCifClip) {
  ExpectChecksums("small_cif.263",
                  {0x6e69e8447e7ace27ull, 0x8b62835a0ca307bbull, 0x49288809d1774b8dull});
}

}  // namespace
