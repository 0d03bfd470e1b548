#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "video/recon/store_block.h"

using namespace clipnote::h263;

namespace {

TEST(StoreBlock, PlacesTheBlockByRasterIndex) {
  std::vector<uint8_t> plane(176 * 144, 0);
  uint8_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(i + 1);
  ASSERT_EQ(StoreBlock(plane.data(), block, 176, 144, 8, 8, 99), kStoreBlockStored);
  for (int y = 0; y < 144; ++y) {
    for (int x = 0; x < 176; ++x) {
      const bool inside = y >= 32 && y < 40 && x >= 88 && x < 96;  // rows 32..39, columns 88..95
      ASSERT_EQ(plane[y * 176 + x], inside ? block[(y - 32) * 8 + x - 88] : 0) << y << "," << x;
    }
  }
}

TEST(StoreBlock, EveryRefusalIsReachableAndWritesNothing) {
  std::vector<uint8_t> plane(176 * 144, 0);
  uint8_t block[256] = {9};
  EXPECT_EQ(StoreBlock(nullptr, block, 176, 144, 8, 8, 0), kStoreBlockNullPointer);
  EXPECT_EQ(StoreBlock(plane.data(), nullptr, 176, 144, 8, 8, 0), kStoreBlockNullPointer);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, 144, 0, 8, 0), kStoreBlockBadSize);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, -144, 8, 8, 0), kStoreBlockBadSize);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, 144, 8, 8, 396), kStoreBlockBadIndex);
  EXPECT_EQ(StoreBlock(plane.data(), block, 176, 144, 8, 8, -1), kStoreBlockBadIndex);
  // Checked before the index, so it is told apart from a bad index.
  EXPECT_EQ(StoreBlock(plane.data(), block, 8, 8, 16, 16, 0), kStoreBlockLargerThanPlane);
  for (uint8_t v : plane) ASSERT_EQ(v, 0);
}

}  // namespace
