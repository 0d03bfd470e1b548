#include "message/pe_image.h"

#include <algorithm>

namespace clipnote::message {

namespace {

constexpr uint64_t kDosHeaderBytes = 64;
constexpr uint64_t kNewHeaderOffsetField = 0x3C;
constexpr uint64_t kCoffHeaderBytes = 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint64_t kRvaCountField = 92;      // in the PE32 optional header
constexpr uint64_t kDataDirectories = 96;    // first directory entry, 8 bytes each
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint64_t kSectionHeaderBytes = 40;

std::string At(uint64_t offset) { return " at offset " + std::to_string(offset); }

// The part of a section the file holds and a loader would map: its raw bytes, no
// further than its stated virtual size (a size of 0 meaning the raw size).
uint64_t MappedFileBytes(const PeSection& section, uint64_t fileSize) {
  uint64_t bytes = section.rawSize;
  if (section.virtualSize != 0) bytes = std::min<uint64_t>(bytes, section.virtualSize);
  if (section.rawOffset >= fileSize) return 0;
  return std::min<uint64_t>(bytes, fileSize - section.rawOffset);
}

}  // namespace

bool HasPeSignature(Bytes file) {
  if (!Fits(file, 0, kDosHeaderBytes) || file[0] != 'M' || file[1] != 'Z') return false;
  const uint32_t peOffset = U32At(file, kNewHeaderOffsetField);
  return Fits(file, peOffset, 4) && file[peOffset] == 'P' && file[peOffset + 1] == 'E' &&
         file[peOffset + 2] == 0 && file[peOffset + 3] == 0;
}

std::optional<PeImage> ReadPeImage(Bytes file, std::string& reason) {
  if (file.size() < 2 || file[0] != 'M' || file[1] != 'Z') {
    reason = "not a Windows executable (no MZ signature)";
    return std::nullopt;
  }
  if (!Fits(file, 0, kDosHeaderBytes)) {
    reason = "a truncated Windows executable: the file ends inside its DOS header";
    return std::nullopt;
  }
  const uint32_t peOffset = U32At(file, kNewHeaderOffsetField);
  if (!Fits(file, peOffset, 4)) {
    reason = "not a Windows executable: its PE header offset " + std::to_string(peOffset) +
             " lies past the end of the file";
    return std::nullopt;
  }
  if (!HasPeSignature(file)) {
    reason = "not a Windows executable: no PE signature" + At(peOffset) + " (an MS-DOS program?)";
    return std::nullopt;
  }
  const uint64_t coff = uint64_t{peOffset} + 4;
  if (!Fits(file, coff, kCoffHeaderBytes)) {
    reason = "a truncated Windows executable: the file ends inside its PE header";
    return std::nullopt;
  }
  const uint16_t sectionCount = U16At(file, coff + 2);
  const uint16_t optionalBytes = U16At(file, coff + 16);
  const uint64_t optional = coff + kCoffHeaderBytes;
  if (!Fits(file, optional, 2) || !Fits(file, optional, optionalBytes)) {
    reason = "a truncated Windows executable: the file ends inside its optional header" + At(optional);
    return std::nullopt;
  }
  const uint16_t magic = optionalBytes >= 2 ? U16At(file, optional) : 0;
  if (magic == kPe32PlusMagic) {
    reason = "a 64-bit Windows executable, not a message (messages are 32-bit executables)";
    return std::nullopt;
  }
  if (magic != kPe32Magic) {
    reason = "not a 32-bit Windows executable: unknown optional header" + At(optional);
    return std::nullopt;
  }

  PeImage image;
  if (optionalBytes >= kRvaCountField + 4) {
    const uint32_t directoryCount = U32At(file, optional + kRvaCountField);
    const uint64_t entry = kDataDirectories + 8 * kResourceDirectoryIndex;
    if (directoryCount > kResourceDirectoryIndex && optionalBytes >= entry + 8) {
      image.resourceRva = U32At(file, optional + entry);
      image.resourceSize = U32At(file, optional + entry + 4);
    }
  }

  const uint64_t table = optional + optionalBytes;
  if (!Fits(file, table, uint64_t{sectionCount} * kSectionHeaderBytes)) {
    reason = "a truncated Windows executable: its " + std::to_string(sectionCount) +
             " section headers run past the end of the file" + At(table);
    return std::nullopt;
  }
  image.sections.reserve(sectionCount);
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint64_t header = table + i * kSectionHeaderBytes;
    PeSection section;
    section.virtualSize = U32At(file, header + 8);
    section.virtualAddress = U32At(file, header + 12);
    section.rawSize = U32At(file, header + 16);
    section.rawOffset = U32At(file, header + 20);
    image.sections.push_back(section);
  }
  return image;
}

std::optional<ByteRange> FileStretchAt(const PeImage& image, uint64_t fileSize, uint32_t rva) {
  // The section FileOffsetOf takes for a stretch of no bytes.
  for (const PeSection& section : image.sections) {
    if (rva < section.virtualAddress) continue;
    const uint64_t into = rva - section.virtualAddress;
    const uint64_t held = MappedFileBytes(section, fileSize);
    if (into < held || (into == held && held > 0)) return ByteRange{section.rawOffset + into, held - into};
  }
  return std::nullopt;
}

std::optional<uint64_t> FileOffsetOf(const PeImage& image, uint64_t fileSize, uint32_t rva, uint64_t size) {
  for (const PeSection& section : image.sections) {
    if (rva < section.virtualAddress) continue;
    const uint64_t into = rva - section.virtualAddress;
    const uint64_t held = MappedFileBytes(section, fileSize);
    if (into < held && size <= held - into) return uint64_t{section.rawOffset} + into;
    // A zero-length stretch at the very end of a section is still inside it.
    if (size == 0 && into == held && held > 0) return uint64_t{section.rawOffset} + into;
  }
  return std::nullopt;
}

}  // namespace clipnote::message
