#pragma once

// The headers of a 32-bit Windows executable (PE32), read only as far as the
// message reader needs them: its sections, to turn addresses into file offsets,
// and where its resource directory is. Nothing is loaded or mapped.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "message/byte_view.h"

namespace clipnote::message {

struct PeSection {
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;  // where its bytes start in the file
  uint32_t rawSize = 0;
};

struct PeImage {
  std::vector<PeSection> sections;
  uint32_t resourceRva = 0;  // 0: the executable has no resources
  uint32_t resourceSize = 0;
};

// True when the file starts "MZ" and its new-header offset points at "PE\0\0":
// it is meant as a Windows executable, whether or not the rest holds together.
bool HasPeSignature(Bytes file);

// Reads the headers; nothing (and the reason in `reason`) when the file is not a
// whole 32-bit Windows executable.
std::optional<PeImage> ReadPeImage(Bytes file, std::string& reason);

// The file offset of `size` bytes at address `rva`, when all of them are bytes
// of one section that the file holds (not the zero fill a loader would add).
std::optional<uint64_t> FileOffsetOf(const PeImage& image, uint64_t fileSize, uint32_t rva, uint64_t size);

// Where the file holds the bytes from `rva` on: their offset and how many of them the
// section has there (none at the very end of a section); nothing when no section holds
// `rva`. Both come from the same section, so the stretch always lies inside the file.
std::optional<ByteRange> FileStretchAt(const PeImage& image, uint64_t fileSize, uint32_t rva);

}  // namespace clipnote::message
