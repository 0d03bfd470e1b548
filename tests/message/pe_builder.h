#pragma once

// Small 32-bit Windows executables made in memory for the message reader's tests:
// the headers, one section ".rsrc" and a resource directory holding the given
// resources, laid out as a resource compiler lays them out. The result names where
// each part went, so a test can damage exactly that part.

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pe_builder {

// A type or name: a numeric id, or a string when `name` is not empty.
struct Key {
  uint16_t id = 0;
  std::string name;
  Key(int i) : id(static_cast<uint16_t>(i)) {}
  Key(const char* n) : name(n) {}
  bool operator<(const Key& other) const {  // names first, as the format orders them
    if (name.empty() != other.name.empty()) return !name.empty();
    return name.empty() ? id < other.id : name < other.name;
  }
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

inline Layout Build(const std::vector<Item>& items) {
  std::map<Key, std::map<Key, std::map<uint16_t, size_t>>> tree;
  for (size_t i = 0; i < items.size(); ++i) tree[items[i].type][items[i].name][items[i].language] = i;

  // Tables first, then data entries, names and the data, as windres writes them.
  uint32_t size = 16 + 8 * static_cast<uint32_t>(tree.size());
  for (auto& [type, names] : tree) {
    size += 16 + 8 * static_cast<uint32_t>(names.size());
    for (auto& [name, languages] : names) size += 16 + 8 * static_cast<uint32_t>(languages.size());
  }
  const uint32_t entriesStart = size;
  size += 16 * static_cast<uint32_t>(items.size());
  std::vector<std::pair<const Key*, uint32_t>> nameOffsets;
  for (auto& [type, names] : tree) {
    if (!type.name.empty()) nameOffsets.emplace_back(&type, 0);
    for (auto& [name, languages] : names) {
      if (!name.name.empty()) nameOffsets.emplace_back(&name, 0);
    }
  }
  for (auto& [key, offset] : nameOffsets) {
    offset = size;
    size += 2 + 2 * static_cast<uint32_t>(key->name.size());
  }
  std::vector<uint32_t> dataOffsets(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    size = (size + 3) & ~3u;
    dataOffsets[i] = size;
    size += static_cast<uint32_t>(items[i].data.size());
  }

  Layout out;
  out.bytes.assign(Layout::kRoot + size, 0);
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
  out.Put32(Layout::kOptionalHeader + 92, 16);   // data directories
  out.Put32(Layout::kResourceDirectoryField, Layout::kSectionAddress);
  out.Put32(Layout::kResourceDirectoryField + 4, size);
  const uint32_t section = Layout::kSectionTable;
  std::copy_n(".rsrc", 5, out.bytes.begin() + section);
  out.Put32(section + 8, size);
  out.Put32(section + 12, Layout::kSectionAddress);
  out.Put32(section + 16, size);
  out.Put32(section + 20, Layout::kRoot);

  auto nameOffset = [&](const Key& key) {
    for (auto& [k, offset] : nameOffsets) {
      if (k == &key) return offset;
    }
    return 0u;
  };
  auto keyField = [&](const Key& key) { return key.name.empty() ? key.id : 0x80000000u | nameOffset(key); };
  auto table = [&](uint32_t at, size_t count) {
    out.Put16(Layout::kRoot + at + 14, static_cast<uint32_t>(count));
    return at + 16;
  };
  // Tables in the order the walk meets them: the root, then each type's table
  // followed by the language tables of its names.
  out.dataEntries.resize(items.size());
  uint32_t cursor = table(0, tree.size()) + 8 * static_cast<uint32_t>(tree.size());
  uint32_t rootEntry = 16;
  for (auto& [type, names] : tree) {
    const uint32_t typeTable = cursor;
    out.Put32(Layout::kRoot + rootEntry, keyField(type));
    out.Put32(Layout::kRoot + rootEntry + 4, 0x80000000u | typeTable);
    rootEntry += 8;
    uint32_t typeEntry = table(typeTable, names.size());
    cursor = typeEntry + 8 * static_cast<uint32_t>(names.size());
    for (auto& [name, languages] : names) {
      const uint32_t languageTable = cursor;
      out.Put32(Layout::kRoot + typeEntry, keyField(name));
      out.Put32(Layout::kRoot + typeEntry + 4, 0x80000000u | languageTable);
      typeEntry += 8;
      out.languageTables.push_back(Layout::kRoot + languageTable);
      uint32_t languageEntry = table(languageTable, languages.size());
      cursor = languageEntry + 8 * static_cast<uint32_t>(languages.size());
      for (auto& [language, index] : languages) {
        const uint32_t entry = entriesStart + 16 * static_cast<uint32_t>(index);
        out.Put32(Layout::kRoot + languageEntry, language);
        out.Put32(Layout::kRoot + languageEntry + 4, entry);
        languageEntry += 8;
        out.Put32(Layout::kRoot + entry, Layout::kSectionAddress + dataOffsets[index]);
        out.Put32(Layout::kRoot + entry + 4, static_cast<uint32_t>(items[index].data.size()));
        out.dataEntries[index] = Layout::kRoot + entry;
      }
    }
  }
  for (auto& [key, offset] : nameOffsets) {
    out.names.push_back(Layout::kRoot + offset);
    out.Put16(Layout::kRoot + offset, static_cast<uint32_t>(key->name.size()));
    for (size_t i = 0; i < key->name.size(); ++i) {
      out.Put16(Layout::kRoot + offset + 2 + 2 * static_cast<uint32_t>(i), static_cast<uint8_t>(key->name[i]));
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    std::copy(items[i].data.begin(), items[i].data.end(), out.bytes.begin() + Layout::kRoot + dataOffsets[i]);
  }
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
