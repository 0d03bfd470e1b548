// Checksums of every picture the decoder produces from the committed clips,
// recorded once; any change to the decoder's output, however small, shows here
// (speed work must leave every sample as it was). Every clip is decoded with each version
// of the reconstruction kernels.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "clip_decoding.h"
#include "support/kernel_tables.h"
#include "support/test_support.h"
#include "video/recon/recon_kernels.h"

namespace {

using clipnote::h263::ReconKernels;
using support::Fnv1a;

class PictureChecksums : public testing::TestWithParam<support::KernelTable<ReconKernels>> {
 protected:
  support::UseKernelTable<ReconKernels> kernels_{clipnote::h263::reconKernels, *GetParam().table};
};

#if defined(__SSE2__)
const ReconKernels* const kSse2 = &clipnote::h263::kSse2ReconKernels;
#else
const ReconKernels* const kSse2 = nullptr;
#endif
INSTANTIATE_TEST_SUITE_P(Kernels, PictureChecksums,
                         testing::ValuesIn(support::KernelTables(clipnote::h263::kPlainReconKernels,
                                                                 kSse2)),
                         support::KernelTableName());

// name: a clip under tests/video_recon/data, or a path from the source directory.
void ExpectChecksums(const std::string& name, const std::vector<uint64_t>& expected) {
  const std::string path = name.find('/') == std::string::npos
                               ? CLIPNOTE_SOURCE_DIR "/tests/video_recon/data/" + name
                               : CLIPNOTE_SOURCE_DIR "/" + name;
  const DecodedClip clip = DecodeWithDecoder(support::ReadFile(path));
  ASSERT_EQ(clip.pictures.size(), expected.size()) << name;
  EXPECT_EQ(clip.firstStaleReference, -1) << name;
  for (size_t i = 0; i < expected.size(); ++i) {
    const uint64_t sum = Fnv1a(clip.pictures[i]);
    EXPECT_EQ(sum, expected[i]) << name << " picture " << i << ": 0x" << std::hex << sum;
  }
}

TEST_P(PictureChecksums, CommittedQcifClip) {
  ExpectChecksums("small_qcif.263",
                  {0x35bbc70a733e7131ull, 0x8695bf4602556f58ull, 0xd665e8e41fbfebb1ull,
                   0xaef25248168aa74eull, 0x3ac7b5deb5be4274ull, 0x9186708e067c1614ull});
}

TEST_P(PictureChecksums, CommittedCifClip) {
  ExpectChecksums("small_cif.263",
                  {0x6e69e8447e7ace27ull, 0x8b62835a0ca307bbull, 0x49288809d1774b8dull});
}

TEST_P(PictureChecksums, ParserTestClips) {
  ExpectChecksums("tests/video_parser/clips/qcif_intra_inter.263",
                  {0xb805bdbb5651671bull, 0x21107d791c7f0924ull, 0x2910a6ea101eb662ull,
                   0x2b24b2a86da5b053ull, 0x0712bc823fbc6995ull, 0xf7929da96985f505ull});
  ExpectChecksums("tests/video_parser/clips/qcif_gob_headers.263",
                  {0x35bbc70a733e7131ull, 0x8695bf4602556f58ull, 0x6adf6179c9df808eull,
                   0x0a581a27a7da6a7full});
  ExpectChecksums("tests/video_parser/clips/cif_three_pictures.263",
                  {0x985e0368e14830d6ull, 0xbbd76f154283bb70ull, 0x41b763777d625669ull});
}

// The default message is long: one checksum runs over all its pictures in order,
// next to their count.
TEST_P(PictureChecksums, DefaultMessage) {
  const DecodedClip clip =
      DecodeWithDecoder(support::ReadFile(CLIPNOTE_SOURCE_DIR "/resources/message.263"));
  EXPECT_FALSE(clip.macroblockError);
  EXPECT_EQ(clip.firstStaleReference, -1);
  std::vector<uint8_t> all;
  for (const auto& picture : clip.pictures) all.insert(all.end(), picture.begin(), picture.end());
  EXPECT_EQ(clip.pictures.size(), 430u);
  EXPECT_EQ(Fnv1a(all), 0xd865b11f25e70f20ull) << "0x" << std::hex << Fnv1a(all);
}

}  // namespace
