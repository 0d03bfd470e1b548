#pragma once

// Small 32-bit Windows executables made in memory for the tests: the headers, one
// section ".rsrc" and, laid out by the message writer, a resource directory holding
// the given resources. The section is not padded to the file alignment, so cutting
// the file cuts the last resource. The result names where each part went (file
// offsets), so a test can damage exactly that part.

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "message/resource_writer.h"

namespace pe_builder {

// A type or name: a numeric id, or a string when `name` is not empty.
struct Key {
  uint16_t id = 0;
  std::string name;
  Key(int i) : id(static_cast<uint16_t>(i)) {}
  Key(const char* n) : name(n) {}
  clipnote::message::ResourceKey Stored() const { return {name.empty() ? id : uint16_t{0}, name}; }
};

struct Item {
  Key type;
  Key name;
  uint16_t language = 0x409;
  std::vector<uint8_t> data;
};

struct Layout {
  std::vector<uint8_t> bytes;
  static constexpr uint32_t kPeOffset = 64;
  static constexpr uint32_t kOptionalHeader = kPeOffset + 24;
  static constexpr uint32_t kResourceDirectoryField = kOptionalHeader + 112;  // address, then size
  static constexpr uint32_t kSecurityDirectoryField = kOptionalHeader + 128;
  static constexpr uint32_t kSectionTable = kOptionalHeader + 224;
  static constexpr uint32_t kRoot = 0x200;  // file offset of the resource directory
  static constexpr uint32_t kSectionAddress = 0x1000;
  std::vector<uint32_t> dataEntries;  // file offsets, in item order
  std::vector<uint32_t> names;        // file offsets of the name strings
  std::vector<uint32_t> languageTables;

  void Put16(uint32_t at, uint32_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  uint32_t Get32(uint32_t at) const {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
  }
  void Put32(uint32_t at, uint32_t v) {
    Put16(at, v & 0xFFFF);
    Put16(at + 2, v >> 16);
  }
};

inline std::vector<clipnote::message::ResourceItem> ResourceItems(const std::vector<Item>& items) {
  std::vector<clipnote::message::ResourceItem> out;
  for (const Item& item : items) out.push_back({item.type.Stored(), item.name.Stored(), item.language, item.data});
  return out;
}

// The headers of a linker's i386 executable whose one section, ".rsrc", holds `section`.
inline Layout Build(const std::vector<Item>& items) {
  std::string reason;
  const auto section = clipnote::message::LayOutResourceSection(ResourceItems(items), Layout::kSectionAddress, reason);
  if (!section) throw std::invalid_argument(reason);
  const uint32_t size = static_cast<uint32_t>(section->bytes.size());

  Layout out;
  out.bytes.assign(Layout::kRoot, 0);
  out.bytes.insert(out.bytes.end(), section->bytes.begin(), section->bytes.end());
  out.bytes[0] = 'M';
  out.bytes[1] = 'Z';
  out.Put32(0x3C, Layout::kPeOffset);
  out.bytes[Layout::kPeOffset] = 'P';
  out.bytes[Layout::kPeOffset + 1] = 'E';
  out.Put16(Layout::kPeOffset + 4, 0x14C);       // i386
  out.Put16(Layout::kPeOffset + 6, 1);           // one section
  out.Put16(Layout::kPeOffset + 20, 224);        // optional header size
  out.Put16(Layout::kPeOffset + 22, 0x0102);     // executable, 32-bit
  out.Put16(Layout::kOptionalHeader, 0x10B);     // PE32
  out.Put32(Layout::kOptionalHeader + 32, 0x1000);  // section alignment
  out.Put32(Layout::kOptionalHeader + 36, 0x200);   // file alignment
  out.Put32(Layout::kOptionalHeader + 56, Layout::kSectionAddress + ((size + 0xFFF) & ~0xFFFu));  // image size
  out.Put32(Layout::kOptionalHeader + 60, Layout::kRoot);  // header size
  out.Put32(Layout::kOptionalHeader + 92, 16);   // data directories
  out.Put32(Layout::kResourceDirectoryField, Layout::kSectionAddress);
  out.Put32(Layout::kResourceDirectoryField + 4, size);
  const uint32_t header = Layout::kSectionTable;
  std::copy_n(".rsrc", 5, out.bytes.begin() + header);
  out.Put32(header + 8, size);
  out.Put32(header + 12, Layout::kSectionAddress);
  out.Put32(header + 16, size);
  out.Put32(header + 20, Layout::kRoot);
  out.Put32(header + 36, 0xC0000040);  // initialized data, read, write
  for (uint32_t at : section->dataEntries) out.dataEntries.push_back(Layout::kRoot + at);
  for (uint32_t at : section->names) out.names.push_back(Layout::kRoot + at);
  for (uint32_t at : section->languageTables) out.languageTables.push_back(Layout::kRoot + at);
  return out;
}

// A small message: a few bytes standing for each clip, the start-up sound and the logo.
inline std::vector<Item> SmallMessage() {
  return {
      {263, "MOVIE", 0x409, {0x00, 0x00, 0x80, 0x02, 0x08}},
      {723, "VOICE", 0x409, {0x60, 0x09, 0x00, 0x00, 0x02, 0x11, 0x22, 0x33}},
      {"WAVE", 150, 0x409, {'R', 'I', 'F', 'F'}},
      {2, 147, 0x409, {40, 0, 0, 0}},
  };
}

}  // namespace pe_builder
