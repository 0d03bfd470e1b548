#pragma once

// Bounds-checked little-endian reads from a file held in memory. Every read states
// its offset and length; nothing is read unless the whole field lies in the file.

#include <cstddef>
#include <cstdint>
#include <span>

namespace clipnote::message {

using Bytes = std::span<const uint8_t>;

// A stretch of a file: where it starts and how many bytes it holds.
struct ByteRange {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// True when [offset, offset + size) lies inside a file of fileSize bytes (no overflow).
inline bool FitsIn(uint64_t fileSize, uint64_t offset, uint64_t size) {
  return offset <= fileSize && size <= fileSize - offset;
}

inline bool Fits(Bytes file, uint64_t offset, uint64_t size) { return FitsIn(file.size(), offset, size); }

// Callers check Fits first; these only assemble the bytes.
inline uint16_t U16At(Bytes file, uint64_t offset) {
  return static_cast<uint16_t>(file[offset] | file[offset + 1] << 8);
}
inline uint32_t U32At(Bytes file, uint64_t offset) {
  return static_cast<uint32_t>(U16At(file, offset)) | static_cast<uint32_t>(U16At(file, offset + 2)) << 16;
}

// The bytes of a range the reader has already checked against the file.
inline Bytes Slice(Bytes file, ByteRange range) {
  return file.subspan(static_cast<size_t>(range.offset), static_cast<size_t>(range.size));
}

}  // namespace clipnote::message
