#include "message/resource_writer.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "message/bitmap_file.h"
#include "message/pe_image.h"

namespace clipnote::message {

namespace {

constexpr uint32_t kTableHeaderBytes = 16;
constexpr uint32_t kEntryBytes = 8;
constexpr uint32_t kDataEntryBytes = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kLargestImage = 0x80000000u;  // what a 32-bit process can map

// Header fields, from the start of the COFF header ("PE\0\0" + 4) or the optional header.
constexpr uint64_t kNewHeaderOffsetField = 0x3C;
constexpr uint16_t kI386 = 0x14C;
constexpr uint64_t kOptionalSizeField = 16;
constexpr uint64_t kCoffHeaderBytes = 20;
constexpr uint64_t kInitializedDataField = 8;
constexpr uint64_t kSectionAlignmentField = 32;
constexpr uint64_t kFileAlignmentField = 36;
constexpr uint64_t kImageSizeField = 56;
constexpr uint64_t kChecksumField = 64;
constexpr uint64_t kRvaCountField = 92;
constexpr uint64_t kDataDirectories = 96;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint64_t kSectionHeaderBytes = 40;
constexpr uint32_t kInitializedData = 0x40;  // section characteristics

// The message's resources, as the player finds them.
constexpr uint16_t kMovieType = 263;
constexpr uint16_t kVoiceType = 723;
constexpr uint16_t kBitmapType = 2;
constexpr uint16_t kLogoId = 147;
constexpr uint16_t kStartupSoundId = 150;
constexpr uint16_t kEnglishUs = 0x409;

bool Printable(char c) { return c >= 0x20 && c < 0x7F; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Names before ids; names by their characters, ids by value: the directory's order.
struct KeyOrder {
  bool operator()(const ResourceKey& a, const ResourceKey& b) const {
    if (a.name.empty() != b.name.empty()) return !a.name.empty();
    return a.name.empty() ? a.id < b.id : a.name < b.name;
  }
};

// A key as the directory holds it: a name, or an id when there is no name.
ResourceKey Keyed(const ResourceKey& key) { return key.name.empty() ? key : ResourceKey{0, key.name}; }

// A key as the resource compiler stores it: names upper case.
ResourceKey Stored(const ResourceKey& key) {
  ResourceKey stored = Keyed(key);
  std::transform(stored.name.begin(), stored.name.end(), stored.name.begin(), UpperAscii);
  return stored;
}

bool NameWritable(const ResourceKey& key, std::string& reason) {
  if (key.name.empty()) return true;
  if (key.name.size() > kLongestResourceName) {
    reason = "resource name " + key.Text() + " is longer than " + std::to_string(kLongestResourceName) + " characters";
    return false;
  }
  if (!std::all_of(key.name.begin(), key.name.end(), Printable)) {
    reason = "resource name " + key.Text() + " has characters other than printable ASCII";
    return false;
  }
  return true;
}

void Put16(std::vector<uint8_t>& out, uint64_t at, uint32_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}
void Put32(std::vector<uint8_t>& out, uint64_t at, uint32_t value) {
  Put16(out, at, value & 0xFFFF);
  Put16(out, at + 2, value >> 16);
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }
bool PowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

std::optional<ResourceSection> LayOutResourceSection(const std::vector<ResourceItem>& items, uint32_t sectionRva,
                                                     std::string& reason) {
  using Languages = std::map<uint16_t, size_t>;
  using Names = std::map<ResourceKey, Languages, KeyOrder>;
  std::map<ResourceKey, Names, KeyOrder> tree;
  for (size_t i = 0; i < items.size(); ++i) {
    const ResourceKey type = Keyed(items[i].type);
    const ResourceKey name = Keyed(items[i].name);
    if (!tree[type][name].emplace(items[i].language, i).second) {
      reason = "two resources " + type.Text() + "/" + name.Text() + " of language " +
               std::to_string(items[i].language);
      return std::nullopt;
    }
  }

  // Sizes in 64 bits: the sum is checked against what the image can hold before any is written.
  uint64_t size = kTableHeaderBytes + kEntryBytes * tree.size();
  for (const auto& [type, names] : tree) {
    size += kTableHeaderBytes + kEntryBytes * names.size();
    for (const auto& [name, languages] : names) size += kTableHeaderBytes + kEntryBytes * languages.size();
  }
  // Each distinct name once, in the order the walk meets it: types' names, then their names'.
  std::vector<std::pair<const ResourceKey*, uint64_t>> nameOffsets;
  for (const auto& [type, names] : tree) {
    if (!type.name.empty()) nameOffsets.emplace_back(&type, 0);
    for (const auto& [name, languages] : names) {
      if (!name.name.empty()) nameOffsets.emplace_back(&name, 0);
    }
  }
  for (auto& [key, offset] : nameOffsets) {
    offset = size;
    size += 2 + 2 * key->name.size();
  }
  // Then the data entries and the data, both in directory order, each resource on an
  // 8-byte boundary and padded to one.
  size = AlignUp(size, 8);
  const uint64_t entriesStart = size;
  size += uint64_t{kDataEntryBytes} * items.size();
  std::vector<size_t> directoryOrder;
  directoryOrder.reserve(items.size());
  for (const auto& [type, names] : tree) {
    for (const auto& [name, languages] : names) {
      for (const auto& [language, index] : languages) directoryOrder.push_back(index);
    }
  }
  std::vector<uint64_t> dataOffsets(items.size());
  std::vector<uint64_t> entryOffsets(items.size());
  for (size_t slot = 0; slot < directoryOrder.size(); ++slot) {
    const size_t i = directoryOrder[slot];
    entryOffsets[i] = entriesStart + uint64_t{kDataEntryBytes} * slot;
    dataOffsets[i] = size;
    size = AlignUp(size + items[i].data.size(), 8);
  }
  if (size > kLargestImage - sectionRva || sectionRva >= kLargestImage) {
    reason = "the resources (" + std::to_string(size) + " bytes) do not fit in a 32-bit image at address " +
             std::to_string(sectionRva);
    return std::nullopt;
  }

  ResourceSection out;
  std::vector<uint8_t>& bytes = out.bytes;
  bytes.assign(size, 0);
  auto keyField = [&](const ResourceKey& key) -> uint32_t {
    if (key.name.empty()) return key.id;
    for (const auto& [stored, offset] : nameOffsets) {
      if (stored == &key) return kHighBit | static_cast<uint32_t>(offset);
    }
    return 0;  // every name was given an offset above
  };
  // A table of `count` id entries, or of names first when `named` of them are names.
  auto table = [&](uint64_t at, size_t named, size_t count) {
    Put16(bytes, at + 12, static_cast<uint32_t>(named));
    Put16(bytes, at + 14, static_cast<uint32_t>(count - named));
    return at + kTableHeaderBytes;
  };
  auto namedCount = [](const auto& level) {
    return static_cast<size_t>(std::count_if(level.begin(), level.end(), [](const auto& e) { return !e.first.name.empty(); }));
  };

  out.dataEntries.resize(items.size());
  uint64_t rootEntry = table(0, namedCount(tree), tree.size());
  uint64_t cursor = rootEntry + kEntryBytes * tree.size();
  for (const auto& [type, names] : tree) {
    const uint64_t typeTable = cursor;
    Put32(bytes, rootEntry, keyField(type));
    Put32(bytes, rootEntry + 4, kHighBit | static_cast<uint32_t>(typeTable));
    rootEntry += kEntryBytes;
    uint64_t typeEntry = table(typeTable, namedCount(names), names.size());
    cursor = typeEntry + kEntryBytes * names.size();
    for (const auto& [name, languages] : names) {
      const uint64_t languageTable = cursor;
      Put32(bytes, typeEntry, keyField(name));
      Put32(bytes, typeEntry + 4, kHighBit | static_cast<uint32_t>(languageTable));
      typeEntry += kEntryBytes;
      out.languageTables.push_back(static_cast<uint32_t>(languageTable));
      uint64_t languageEntry = table(languageTable, 0, languages.size());
      cursor = languageEntry + kEntryBytes * languages.size();
      for (const auto& [language, index] : languages) {
        const uint64_t entry = entryOffsets[index];
        Put32(bytes, languageEntry, language);
        Put32(bytes, languageEntry + 4, static_cast<uint32_t>(entry));
        languageEntry += kEntryBytes;
        Put32(bytes, entry, sectionRva + static_cast<uint32_t>(dataOffsets[index]));
        Put32(bytes, entry + 4, static_cast<uint32_t>(items[index].data.size()));
        out.dataEntries[index] = static_cast<uint32_t>(entry);
      }
    }
  }
  for (const auto& [key, offset] : nameOffsets) {
    out.names.push_back(static_cast<uint32_t>(offset));
    Put16(bytes, offset, static_cast<uint32_t>(key->name.size()));
    for (size_t i = 0; i < key->name.size(); ++i) {
      Put16(bytes, offset + 2 + 2 * i, static_cast<uint8_t>(key->name[i]));
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    std::copy(items[i].data.begin(), items[i].data.end(), bytes.begin() + static_cast<ptrdiff_t>(dataOffsets[i]));
  }
  return out;
}

std::optional<std::vector<ResourceItem>> ResourceItemsOf(Bytes executable, std::string& reason) {
  const std::optional<PeImage> image = ReadPeImage(executable, reason);
  if (!image) return std::nullopt;
  const std::optional<std::vector<Resource>> resources = ReadResources(executable, *image, reason);
  if (!resources) return std::nullopt;
  std::vector<ResourceItem> items;
  items.reserve(resources->size());
  for (const Resource& resource : *resources) {
    const Bytes data = Slice(executable, resource.data);
    items.push_back({resource.type, resource.name, resource.language, {data.begin(), data.end()}});
  }
  return items;
}

void SetResource(std::vector<ResourceItem>& items, ResourceItem item) {
  const ResourceKey type = Stored(item.type);
  const ResourceKey name = Stored(item.name);
  auto same = [&](const ResourceItem& other) {
    const ResourceKey otherType = Stored(other.type);
    const ResourceKey otherName = Stored(other.name);
    return other.language == item.language && std::tie(otherType.id, otherType.name) == std::tie(type.id, type.name) &&
           std::tie(otherName.id, otherName.name) == std::tie(name.id, name.name);
  };
  auto found = std::find_if(items.begin(), items.end(), same);
  if (found != items.end()) {
    *found = std::move(item);
  } else {
    items.push_back(std::move(item));
  }
}

uint32_t PeChecksum(Bytes file, uint64_t checksumOffset) {
  uint64_t sum = 0;
  for (uint64_t at = 0; at < file.size(); at += 2) {
    if (at >= checksumOffset && at < checksumOffset + 4) continue;
    const uint32_t word = file[at] | (at + 1 < file.size() ? file[at + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file.size());
}

std::optional<std::vector<uint8_t>> WriteMessageExecutable(Bytes executable, const std::vector<ResourceItem>& items,
                                                           std::string& reason) {
  std::optional<PeImage> image = ReadPeImage(executable, reason);
  if (!image) return std::nullopt;
  // ReadPeImage has checked that the headers up to the section table lie in the file.
  const uint64_t coff = uint64_t{U32At(executable, kNewHeaderOffsetField)} + 4;
  const uint64_t optional = coff + kCoffHeaderBytes;
  const uint16_t optionalBytes = U16At(executable, coff + kOptionalSizeField);
  const uint64_t table = optional + optionalBytes;
  auto refuse = [&](const std::string& why) {
    reason = "cannot write a message into this executable: " + why;
    return std::nullopt;
  };
  if (U16At(executable, coff) != kI386) return refuse("it is not for i386 processors");
  auto directoryField = [&](uint32_t index) { return optional + kDataDirectories + 8 * uint64_t{index}; };
  const uint32_t directoryCount = optionalBytes >= kRvaCountField + 4 ? U32At(executable, optional + kRvaCountField) : 0;
  if (directoryCount <= kResourceDirectory || optionalBytes < directoryField(kResourceDirectory) + 8 - optional ||
      image->resourceRva == 0) {
    return refuse("it has no resource section");
  }
  if (directoryCount > kSecurityDirectory && optionalBytes >= directoryField(kSecurityDirectory) + 8 - optional &&
      (U32At(executable, directoryField(kSecurityDirectory)) != 0 ||
       U32At(executable, directoryField(kSecurityDirectory) + 4) != 0)) {
    return refuse("it is signed, and a new message would break its signature");
  }
  const uint32_t sectionAlignment = U32At(executable, optional + kSectionAlignmentField);
  const uint32_t fileAlignment = U32At(executable, optional + kFileAlignmentField);
  if (!PowerOfTwo(fileAlignment) || !PowerOfTwo(sectionAlignment) || fileAlignment < 512 ||
      fileAlignment > 0x10000 || sectionAlignment < fileAlignment) {
    return refuse("its alignments (file " + std::to_string(fileAlignment) + ", sections " +
                  std::to_string(sectionAlignment) + ") are not a linker's");
  }

  const std::vector<PeSection>& sections = image->sections;
  size_t resourceIndex = sections.size();
  for (size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].virtualAddress == image->resourceRva) resourceIndex = i;
  }
  if (resourceIndex == sections.size()) return refuse("no section starts with its resource directory");
  const PeSection& resources = sections[resourceIndex];
  // Every other section has to end where the resource section starts, in the image and
  // in the file: one reaching into it would have its bytes overwritten by the new
  // resources, or would be where a loader (and our reader) finds the resources' addresses.
  for (size_t i = 0; i < sections.size(); ++i) {
    if (i == resourceIndex) continue;
    const PeSection& other = sections[i];
    const uint32_t extent = other.virtualSize != 0 ? other.virtualSize : other.rawSize;
    if (uint64_t{other.virtualAddress} + extent > resources.virtualAddress) {
      return refuse("its resource section is not the last section of the image");
    }
    if (other.rawSize != 0 && uint64_t{other.rawOffset} + other.rawSize > resources.rawOffset) {
      return refuse("its resource section is not the last section in the file");
    }
  }
  if (resources.rawOffset % fileAlignment != 0 || resources.virtualAddress % sectionAlignment != 0) {
    return refuse("its resource section is not aligned as its headers say");
  }
  if (uint64_t{resources.rawOffset} + resources.rawSize != executable.size()) {
    return refuse(uint64_t{resources.rawOffset} + resources.rawSize < executable.size()
                      ? "bytes follow its resource section (a symbol table or appended data)"
                      : "its resource section runs past the end of the file");
  }
  // The headers end before the first section's bytes; the section table must too.
  if (table + kSectionHeaderBytes * sections.size() > resources.rawOffset) {
    return refuse("its section table runs into its resource section");
  }

  std::vector<ResourceItem> stored;
  stored.reserve(items.size());
  for (const ResourceItem& item : items) {
    if (!NameWritable(item.type, reason) || !NameWritable(item.name, reason)) return std::nullopt;
    stored.push_back({Stored(item.type), Stored(item.name), item.language, item.data});
  }
  std::optional<ResourceSection> section = LayOutResourceSection(stored, resources.virtualAddress, reason);
  if (!section) return std::nullopt;
  const uint64_t rawSize = AlignUp(section->bytes.size(), fileAlignment);
  const uint64_t imageSize = AlignUp(uint64_t{resources.virtualAddress} + section->bytes.size(), sectionAlignment);
  if (imageSize > kLargestImage || uint64_t{resources.rawOffset} + rawSize > kLargestImage) {
    return refuse("the resources make an image larger than 2 GiB");
  }

  std::vector<uint8_t> out(executable.begin(), executable.begin() + resources.rawOffset);
  out.resize(resources.rawOffset + rawSize, 0);
  std::copy(section->bytes.begin(), section->bytes.end(), out.begin() + resources.rawOffset);
  const uint64_t header = table + kSectionHeaderBytes * resourceIndex;
  const uint32_t characteristics = U32At(executable, header + 36);
  if ((characteristics & kInitializedData) != 0) {
    const uint32_t initialized = U32At(executable, optional + kInitializedDataField);
    Put32(out, optional + kInitializedDataField,
          static_cast<uint32_t>(initialized - resources.rawSize + static_cast<uint32_t>(rawSize)));
  }
  Put32(out, header + 8, static_cast<uint32_t>(section->bytes.size()));
  Put32(out, header + 16, static_cast<uint32_t>(rawSize));
  Put32(out, directoryField(kResourceDirectory) + 4, static_cast<uint32_t>(section->bytes.size()));
  Put32(out, optional + kImageSizeField, static_cast<uint32_t>(imageSize));
  Put32(out, optional + kChecksumField, PeChecksum(out, optional + kChecksumField));
  return out;
}

std::optional<std::vector<uint8_t>> WriteMessage(Bytes executable, const MessageResources& message,
                                                 std::string& reason) {
  if (message.voice.size() < 4) {
    reason = "a VOICE clip of " + std::to_string(message.voice.size()) +
             " bytes, shorter than its 4-byte length prefix";
    return std::nullopt;
  }
  // The player hands the start-up sound to the system as a whole WAVE file and draws the
  // logo as a bitmap: refused here, not found broken by the person the message is for.
  const std::optional<std::vector<uint8_t>>& sound = message.startupSound;
  if (sound && (sound->size() < 12 || std::memcmp(sound->data(), "RIFF", 4) != 0 ||
                std::memcmp(sound->data() + 8, "WAVE", 4) != 0)) {
    reason = "the start-up sound is not a WAVE file (no RIFF WAVE header)";
    return std::nullopt;
  }
  if (message.logo && !BitmapFileFromResource(*message.logo, reason)) {
    reason = "the logo is no bitmap the player draws: " + reason;
    return std::nullopt;
  }
  std::optional<std::vector<ResourceItem>> items = ResourceItemsOf(executable, reason);
  if (!items) {
    reason = "cannot write a message into this executable: " + reason;
    return std::nullopt;
  }
  SetResource(*items, {{kMovieType, {}}, {0, "MOVIE"}, kEnglishUs, message.movie});
  SetResource(*items, {{kVoiceType, {}}, {0, "VOICE"}, kEnglishUs, message.voice});
  if (message.startupSound) SetResource(*items, {{0, "WAVE"}, {kStartupSoundId, {}}, kEnglishUs, *message.startupSound});
  if (message.logo) SetResource(*items, {{kBitmapType, {}}, {kLogoId, {}}, kEnglishUs, *message.logo});
  return WriteMessageExecutable(executable, *items, reason);
}

}  // namespace clipnote::message
