#include "fake_platform/block_cache.h"

#include <cstdlib>
#include <map>
#include <mutex>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

namespace clipnote::testing {
namespace {

// Smaller blocks come from the allocator's own pools already.
constexpr size_t kSmallestKept = 64 * 1024;
constexpr size_t kMostKept = 64 * 1024 * 1024;
// Kept blocks are made in whole steps of this size, so that a run asking for a few bytes
// more or less than the last (the speech image follows the clip's length) still finds one;
// the part past the size asked for stays poisoned.
constexpr size_t kStep = 64 * 1024;

size_t Made(size_t bytes) { return (bytes + kStep - 1) / kStep * kStep; }

struct Cache {
  std::mutex mutex;
  std::multimap<size_t, void*> blocks;
  size_t bytes = 0;
};

Cache& TheCache() {
  static Cache* cache = new Cache;  // outlives every fake, whatever the order of exit
  return *cache;
}

}  // namespace

void* TakeBlock(size_t bytes) {
  if (bytes < kSmallestKept) return std::malloc(bytes == 0 ? 1 : bytes);
  const size_t made = Made(bytes);
  void* block = nullptr;
  {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto found = cache.blocks.find(made);
    if (found != cache.blocks.end()) {
      block = found->second;
      cache.blocks.erase(found);
      cache.bytes -= made;
    }
  }
  if (block == nullptr) {
    block = std::malloc(made);
    if (block == nullptr) return nullptr;
    ASAN_POISON_MEMORY_REGION(block, made);
  }
  ASAN_UNPOISON_MEMORY_REGION(block, bytes);
  return block;
}

void GiveBackBlock(void* block, size_t bytes) {
  if (bytes >= kSmallestKept) {
    const size_t made = Made(bytes);
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.bytes + made <= kMostKept) {
      ASAN_POISON_MEMORY_REGION(block, made);
      cache.blocks.emplace(made, block);
      cache.bytes += made;
      return;
    }
    ASAN_UNPOISON_MEMORY_REGION(block, made);
  }
  std::free(block);
}

}  // namespace clipnote::testing
