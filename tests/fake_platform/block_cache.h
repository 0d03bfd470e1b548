#pragma once

// Large memory blocks kept from one fake run for the next instead of being returned: mapping
// fresh pages for the player's megabytes of buffers took a fifth of every fuzzed run. A kept
// block is poisoned under AddressSanitizer, so a use after it was freed is still reported.

#include <cstddef>

namespace clipnote::testing {

// A block for `bytes` (contents unspecified), or nullptr when there is no memory. Under
// AddressSanitizer any access past those bytes is reported, as past a block of that size.
void* TakeBlock(size_t bytes);
// Gives back a block TakeBlock returned, with the size it was taken with.
void GiveBackBlock(void* block, size_t bytes);

}  // namespace clipnote::testing
