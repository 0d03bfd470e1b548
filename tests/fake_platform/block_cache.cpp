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
  if (bytes >= kSmallestKept) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto found = cache.blocks.find(bytes);
    if (found != cache.blocks.end()) {
      void* block = found->second;
      cache.blocks.erase(found);
      cache.bytes -= bytes;
      ASAN_UNPOISON_MEMORY_REGION(block, bytes);
      return block;
    }
  }
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void GiveBackBlock(void* block, size_t bytes) {
  if (bytes >= kSmallestKept) {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.bytes + bytes <= kMostKept) {
      ASAN_POISON_MEMORY_REGION(block, bytes);
      cache.blocks.emplace(bytes, block);
      cache.bytes += bytes;
      return;
    }
  }
  std::free(block);
}

}  // namespace clipnote::testing
