// The plain and the SSE2 table of the reconstruction kernels, each kernel run on the same
// random and extreme inputs: their results must agree bit for bit. (The plain ones are what
// targets without SSE2 run; the decoder's checksum tests run whole clips with either table.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "video/recon/dequantise.h"
#include "video/recon/inverse_transform.h"
#include "video/recon/recon_kernels.h"
#include "video/recon/reference_grids.h"

using namespace clipnote::h263;

#if defined(__SSE2__)

namespace {

int Uniform(std::mt19937& rng, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// A sample that is often at either end of its range, to catch sums that overflow a byte.
uint8_t Sample(std::mt19937& rng) {
  return static_cast<uint8_t>(std::clamp(Uniform(rng, -200, 455), 0, 255));
}

// Blocks that take every short-cut of the plain transform, ordinary ones and extreme ones.
void TransformInput(std::mt19937& rng, int kind, int16_t block[64]) {
  const auto coefficient = [&](int lo, int hi) { return static_cast<int16_t>(Uniform(rng, lo, hi)); };
  std::fill(block, block + 64, int16_t{0});
  switch (kind) {
    case 0:  // DC only, over the whole int16 range
      block[0] = coefficient(-32768, 32767);
      break;
    case 1:  // only row 0: every column takes its short-cut
      for (int i = 0; i < 8; ++i) block[i] = coefficient(-2048, 2047);
      break;
    case 2:  // some rows with only their first term, rows 4 to 7 often empty
      for (int r = 0; r < 8; ++r) {
        if (r >= 4 && Uniform(rng, 0, 1) == 0) continue;
        const bool full = Uniform(rng, 0, 1) != 0;
        for (int i = 0; i < (full ? 8 : 1); ++i) block[8 * r + i] = coefficient(-2048, 2047);
      }
      break;
    case 3:  // a few coefficients, as real blocks have
      for (int k = Uniform(rng, 1, 6); k > 0; --k) block[Uniform(rng, 0, 63)] = coefficient(-300, 300);
      break;
    case 4:  // the dequantiser's extremes
      for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(Uniform(rng, 0, 1) ? 2047 : -2048);
      break;
    default:  // anything, wrapping on the way
      for (int i = 0; i < 64; ++i) block[i] = coefficient(-32768, 32767);
  }
}

TEST(KernelVersions, InverseTransform) {
  int32_t weights[6];
  ComputeIdctWeightsInto(weights);
  std::mt19937 rng(5);
  for (int trial = 0; trial < 30000; ++trial) {
    int16_t block[64];
    TransformInput(rng, trial % 6, block);
    int16_t plain[64], sse2[64], forPlain[64], forSse2[64];
    std::copy(block, block + 64, plain);
    std::copy(block, block + 64, sse2);
    std::copy(block, block + 64, forPlain);
    std::copy(block, block + 64, forSse2);
    kPlainReconKernels.idctToResidual(weights, plain);
    kSse2ReconKernels.idctToResidual(weights, sse2);
    ASSERT_TRUE(std::equal(plain, plain + 64, sse2)) << "residual, trial " << trial;
    uint8_t pixelsPlain[64], pixelsSse2[64];
    kPlainReconKernels.idctToPixels(weights, pixelsPlain, forPlain);
    kSse2ReconKernels.idctToPixels(weights, pixelsSse2, forSse2);
    ASSERT_TRUE(std::equal(pixelsPlain, pixelsPlain + 64, pixelsSse2)) << "pixels, trial " << trial;
  }
}

// Rows of many widths (the SSE2 rows work 16 samples at a time, the last step overlapping the
// one before) over whole rows and over parts of them, as the update around changed macroblocks
// builds them. Outside [from, to) a version may only write what the whole row holds there.
TEST(KernelVersions, GridRows) {
  std::mt19937 rng(3);
  for (int width : {1, 2, 15, 16, 17, 18, 31, 33, 88, 176, 352}) {
    for (int trial = 0; trial < 40; ++trial) {
      std::vector<uint8_t> row(width), below(width);
      for (uint8_t& s : row) s = Sample(rng);
      for (uint8_t& s : below) s = Sample(rng);
      int from = 0, to = width;
      if (trial % 2 != 0) {
        from = Uniform(rng, 0, width - 1);
        to = Uniform(rng, from + 1, width);
      }
      SCOPED_TRACE(testing::Message() << "width " << width << " columns " << from << ".." << to);
      // Luma: two grid rows of 2 x width.
      std::vector<uint8_t> whole(4 * width);
      BuildLumaGridRowPlain(row.data(), below.data(), width, 0, width, whole.data(),
                            whole.data() + 2 * width);
      std::vector<uint8_t> plain(whole.size());  // unlike the whole row everywhere
      for (size_t i = 0; i < whole.size(); ++i) plain[i] = static_cast<uint8_t>(~whole[i]);
      std::vector<uint8_t> sse2 = plain;
      BuildLumaGridRowPlain(row.data(), below.data(), width, from, to, plain.data(),
                            plain.data() + 2 * width);
      BuildLumaGridRowSse2(row.data(), below.data(), width, from, to, sse2.data(),
                           sse2.data() + 2 * width);
      for (int i = 0; i < 4 * width; ++i) {
        const int column = (i % (2 * width)) / 2;
        if (column >= from && column < to) {
          ASSERT_EQ(sse2[i], plain[i]) << "luma byte " << i;
        } else {
          ASSERT_TRUE(sse2[i] == plain[i] || sse2[i] == whole[i]) << "luma byte " << i;
        }
      }
      // Chroma: four grid rows of 4 x width.
      const int stride = 4 * width;
      std::vector<uint8_t> chromaWhole(4 * stride);
      BuildChromaGridRowPlain(row.data(), below.data(), width, 0, width, chromaWhole.data(),
                              chromaWhole.data() + stride, stride);
      std::vector<uint8_t> chromaPlain(4 * stride);
      for (int i = 0; i < 4 * stride; ++i) chromaPlain[i] = static_cast<uint8_t>(~chromaWhole[i]);
      std::vector<uint8_t> chromaSse2 = chromaPlain;
      BuildChromaGridRowPlain(row.data(), below.data(), width, from, to, chromaPlain.data(),
                              chromaPlain.data() + stride, stride);
      BuildChromaGridRowSse2(row.data(), below.data(), width, from, to, chromaSse2.data(),
                             chromaSse2.data() + stride, stride);
      for (int i = 0; i < 4 * stride; ++i) {
        const int column = (i % stride) / 4;
        if (column >= from && column < to) {
          ASSERT_EQ(chromaSse2[i], chromaPlain[i]) << "chroma byte " << i;
        } else {
          ASSERT_TRUE(chromaSse2[i] == chromaPlain[i] || chromaSse2[i] == chromaWhole[i])
              << "chroma byte " << i;
        }
      }
    }
  }
}

// The tables' grid parts, built row by row from the row kernels above: whole planes and parts
// of them (the update around changed macroblocks) over a grid built from another picture. In
// the part both versions write the same; outside it a version may leave the old grid or write
// what the whole build of the new picture holds.
TEST(KernelVersions, GridParts) {
  std::mt19937 rng(31);
  for (int cell : {2, 4}) {
    const auto part = [&](const ReconKernels& k) {
      return cell == 2 ? k.buildLumaGridPart : k.buildChromaGridPart;
    };
    for (int trial = 0; trial < 60; ++trial) {
      const int width = trial % 3 == 0 ? 176 : Uniform(rng, 1, 90), height = Uniform(rng, 1, 40);
      std::vector<uint8_t> before(width * height), plane(width * height);
      for (uint8_t& s : before) s = Sample(rng);
      for (uint8_t& s : plane) s = Sample(rng);
      const size_t size = static_cast<size_t>(cell * width) * cell * height;
      std::vector<uint8_t> whole(size), plain(size);
      part(kPlainReconKernels)(plane.data(), width, height, 0, height, 0, width, whole.data());
      part(kPlainReconKernels)(before.data(), width, height, 0, height, 0, width, plain.data());
      std::vector<uint8_t> sse2 = plain;
      const int rowFrom = Uniform(rng, 0, height - 1), rowTo = Uniform(rng, rowFrom + 1, height);
      const int from = Uniform(rng, 0, width - 1), to = Uniform(rng, from + 1, width);
      SCOPED_TRACE(testing::Message() << "cell " << cell << ", " << width << " x " << height << " rows "
                                      << rowFrom << ".." << rowTo << " columns " << from << ".." << to);
      part(kPlainReconKernels)(plane.data(), width, height, rowFrom, rowTo, from, to, plain.data());
      part(kSse2ReconKernels)(plane.data(), width, height, rowFrom, rowTo, from, to, sse2.data());
      for (size_t i = 0; i < size; ++i) {
        const int x = static_cast<int>(i % (cell * width)) / cell;
        const int y = static_cast<int>(i / (cell * width)) / cell;
        if (y >= rowFrom && y < rowTo && x >= from && x < to) {
          ASSERT_EQ(sse2[i], plain[i]) << "grid byte " << i;
          ASSERT_EQ(plain[i], whole[i]) << "grid byte " << i;
        } else {
          ASSERT_TRUE(sse2[i] == plain[i] || sse2[i] == whole[i]) << "grid byte " << i;
        }
      }
    }
  }
}

// Positions inside the grid, at its edges and past them, with the decoder's two steps and
// another, into rows 8 bytes or a picture's width apart.
TEST(KernelVersions, GridFetch) {
  constexpr int kGridW = 352, kGridH = 288;
  std::mt19937 rng(9);
  std::vector<uint8_t> grid(kGridW * kGridH);
  for (uint8_t& g : grid) g = static_cast<uint8_t>(rng());
  for (int trial = 0; trial < 30000; ++trial) {
    const int step = (trial % 5 == 4) ? 3 : 2 + 2 * (trial % 2);
    const int stride = trial % 3 == 0 ? 8 : 176;
    const int row = Uniform(rng, -70, kGridH + 40), col = Uniform(rng, -70, kGridW + 40);
    std::vector<uint8_t> plain(8 * stride, 0x5A), sse2(8 * stride, 0x5A);
    kPlainReconKernels.fetchFromGridInto(plain.data(), stride, grid.data(), kGridW, kGridH, row, col, step);
    kSse2ReconKernels.fetchFromGridInto(sse2.data(), stride, grid.data(), kGridW, kGridH, row, col, step);
    ASSERT_EQ(plain, sse2) << row << "," << col << " step " << step << " stride " << stride;
  }
}

TEST(KernelVersions, AddResidual) {
  std::mt19937 rng(13);
  const int extremes[] = {-256, -255, -1, 0, 1, 254, 255};
  for (int trial = 0; trial < 5000; ++trial) {
    const int stride = trial % 2 == 0 ? 8 : 176;
    std::vector<uint8_t> plain(8 * stride);
    for (uint8_t& s : plain) s = Sample(rng);
    std::vector<uint8_t> sse2 = plain;
    int16_t residual[64];
    for (int16_t& r : residual) {
      r = static_cast<int16_t>(trial % 3 == 0 ? extremes[Uniform(rng, 0, 6)] : Uniform(rng, -256, 255));
    }
    kPlainReconKernels.addResidualInto(plain.data(), stride, residual);
    kSse2ReconKernels.addResidualInto(sse2.data(), stride, residual);
    ASSERT_EQ(plain, sse2) << "trial " << trial;
  }
}

// Mostly zero levels with a few of any size, every quantiser the decoder holds and a few it
// never does, intra and inter; the coefficients start out as garbage.
TEST(KernelVersions, Dequantise) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 20000; ++trial) {
    int8_t levels[64] = {};
    const int count = trial % 4 == 0 ? 64 : Uniform(rng, 0, 8);
    for (int k = 0; k < count; ++k) {
      levels[Uniform(rng, 0, 63)] =
          static_cast<int8_t>(trial % 8 == 1 ? (Uniform(rng, 0, 1) ? 127 : -128) : Uniform(rng, -128, 127));
    }
    const int quant = trial % 16 == 0 ? Uniform(rng, -3, 40) : Uniform(rng, 1, 31);
    const bool intra = trial % 3 == 0;
    int16_t plain[64], sse2[64];
    for (int i = 0; i < 64; ++i) plain[i] = sse2[i] = static_cast<int16_t>(rng());
    kPlainReconKernels.dequantiseLevels(plain, levels, quant, intra);
    kSse2ReconKernels.dequantiseLevels(sse2, levels, quant, intra);
    ASSERT_TRUE(std::equal(plain, plain + 64, sse2)) << "trial " << trial << " quant " << quant;
  }
}

}  // namespace

#endif
