#pragma once

#include <cstdint>

namespace clipnote::h263 {

// Results of StoreBlock.
enum StoreBlockResult {
  kStoreBlockStored = 0,
  kStoreBlockNullPointer = 1,
  kStoreBlockBadSize = 2,        // a size is zero or negative
  kStoreBlockBadIndex = 3,       // index outside the blocks that fit the plane
  kStoreBlockLargerThanPlane = 4,
};

// Copies a blockWidth x blockHeight block (rows contiguous) into the plane at
// block number blockIndex, counted in raster order over blocks of that size
// (planeWidth / blockWidth per row). Nothing is written unless the result is 0.
// Every check comes before any division, and the size check precedes the index
// check so that each result can occur.
int StoreBlock(uint8_t* plane, const uint8_t* block, int planeWidth, int planeHeight,
               int blockWidth, int blockHeight, int blockIndex);

}  // namespace clipnote::h263
