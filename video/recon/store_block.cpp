#include "video/recon/store_block.h"

#include <cstring>

namespace clipnote::h263 {

int StoreBlock(uint8_t* plane, const uint8_t* block, int planeWidth, int planeHeight,
               int blockWidth, int blockHeight, int blockIndex) {
  if (plane == nullptr || block == nullptr) return kStoreBlockNullPointer;
  if (planeWidth <= 0 || planeHeight <= 0 || blockWidth <= 0 || blockHeight <= 0) {
    return kStoreBlockBadSize;
  }
  if (blockWidth > planeWidth || blockHeight > planeHeight) return kStoreBlockLargerThanPlane;
  const int blocksPerRow = planeWidth / blockWidth;
  const int blockRows = planeHeight / blockHeight;
  if (blockIndex < 0 || blockIndex >= blocksPerRow * blockRows) return kStoreBlockBadIndex;

  uint8_t* target = plane + (blockIndex / blocksPerRow) * blockHeight * planeWidth +
                    (blockIndex % blocksPerRow) * blockWidth;
  for (int y = 0; y < blockHeight; ++y) {
    std::memcpy(target + y * planeWidth, block + y * blockWidth, static_cast<size_t>(blockWidth));
  }
  return kStoreBlockStored;
}

}  // namespace clipnote::h263
