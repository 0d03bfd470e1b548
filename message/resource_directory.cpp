#include "message/resource_directory.h"

#include <map>

namespace clipnote::message {

namespace {

constexpr uint64_t kTableHeaderBytes = 16;
constexpr uint64_t kEntryBytes = 8;
constexpr uint64_t kDataEntryBytes = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kLargestResource = 0x7FFFFFFF;  // below 2 GiB, what a 32-bit process can hold
constexpr uint16_t kEnglishUs = 0x409;
constexpr int kLanguageLevel = 2;

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Walks the three levels. Offsets in the directory count from its start (`root`
// in the file); `extent` is how many file bytes its section holds from there.
class DirectoryWalk {
 public:
  DirectoryWalk(Bytes file, const PeImage& image, uint64_t root, uint64_t extent)
      : file_(file), image_(image), root_(root), extent_(extent) {}

  bool Walk(std::vector<Resource>& out) {
    out_ = &out;
    return ReadTable(0, 0, {});
  }

  const std::string& Reason() const { return reason_; }

 private:
  bool Damaged(uint64_t relative, const std::string& what) {
    reason_ = "resource directory damaged at offset " + std::to_string(root_ + relative) + ": " + what;
    return false;
  }

  // Each part of the directory may be read once: a second claim on the same bytes
  // means a loop or parts laid over each other.
  bool Claim(uint64_t relative, uint64_t size, const char* what) {
    if (!FitsIn(extent_, relative, size)) return Damaged(relative, std::string(what) + " runs past the end of the file");
    auto next = claimed_.lower_bound(relative);
    if (next != claimed_.end() && next->first < relative + size) {
      return Damaged(relative, std::string(what) + " overlaps another part of the directory (a loop?)");
    }
    if (next != claimed_.begin() && std::prev(next)->second > relative) {
      return Damaged(relative, std::string(what) + " overlaps another part of the directory (a loop?)");
    }
    claimed_.emplace(relative, relative + size);
    return true;
  }

  bool ReadKey(uint32_t field, ResourceKey& key) {
    if ((field & kHighBit) == 0) {
      key.id = static_cast<uint16_t>(field);
      return true;
    }
    const uint64_t at = field & ~kHighBit;
    if (!FitsIn(extent_, at, 2)) return Damaged(at, "a resource name lies past the end of the file");
    const uint16_t length = U16At(file_, root_ + at);
    if (!FitsIn(extent_, at + 2, uint64_t{length} * 2)) {
      return Damaged(at, "a resource name of " + std::to_string(length) + " characters runs past the end of the file");
    }
    if (length == 0) return Damaged(at, "a resource name of no characters");
    const size_t kept = length > kLongestResourceName ? kLongestResourceName : length;
    key.name.clear();
    for (size_t i = 0; i < kept; ++i) {
      const uint16_t c = U16At(file_, root_ + at + 2 + 2 * i);
      key.name.push_back(c >= 0x20 && c < 0x7F ? UpperAscii(static_cast<char>(c)) : '?');
    }
    if (kept < length) key.name += "...";
    return true;
  }

  // path: the type and name read on the way down.
  bool ReadTable(uint64_t relative, int level, const std::vector<ResourceKey>& path) {
    if (!FitsIn(extent_, relative, kTableHeaderBytes)) {
      return Damaged(relative, "a directory table lies past the end of the file");
    }
    const uint64_t count = uint64_t{U16At(file_, root_ + relative + 12)} + U16At(file_, root_ + relative + 14);
    if (!Claim(relative, kTableHeaderBytes + count * kEntryBytes, "a directory table")) return false;
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t entry = root_ + relative + kTableHeaderBytes + i * kEntryBytes;
      const uint32_t keyField = U32At(file_, entry);
      const uint32_t target = U32At(file_, entry + 4);
      const bool isTable = (target & kHighBit) != 0;
      ResourceKey key;
      if (level < kLanguageLevel) {
        if (!ReadKey(keyField, key)) return false;
        if (!isTable) return Damaged(entry - root_, "a resource's data where a directory table belongs");
        std::vector<ResourceKey> deeper = path;
        deeper.push_back(key);
        if (!ReadTable(target & ~kHighBit, level + 1, deeper)) return false;
      } else {
        if (isTable) return Damaged(entry - root_, "a directory table nested below the language level");
        if (!ReadData(target, path[0], path[1], static_cast<uint16_t>(keyField))) return false;
      }
    }
    return true;
  }

  bool ReadData(uint64_t relative, const ResourceKey& type, const ResourceKey& name, uint16_t language) {
    if (!Claim(relative, kDataEntryBytes, "a resource's data entry")) return false;
    if (out_->size() >= kMostResources) {
      static_assert(kMostResources == 65536);
      return Damaged(relative, "more than 65536 resources");
    }
    const uint32_t rva = U32At(file_, root_ + relative);
    const uint32_t size = U32At(file_, root_ + relative + 4);
    const std::string which = "resource " + type.Text() + "/" + name.Text();
    if (size > kLargestResource) {
      return Damaged(relative, which + " claims " + std::to_string(size) + " bytes, 2 GiB or more");
    }
    Resource resource{type, name, language, {}};
    if (size > 0) {
      const std::optional<uint64_t> offset = FileOffsetOf(image_, file_.size(), rva, size);
      if (!offset) {
        return Damaged(relative, which + " (" + std::to_string(size) + " bytes at address " + std::to_string(rva) +
                                     ") lies outside the file");
      }
      resource.data = {*offset, size};
    }
    out_->push_back(std::move(resource));
    return true;
  }

  Bytes file_;
  const PeImage& image_;
  uint64_t root_;
  uint64_t extent_;
  std::map<uint64_t, uint64_t> claimed_;  // start -> end, relative to the root
  std::vector<Resource>* out_ = nullptr;
  std::string reason_;
};

}  // namespace

bool ResourceKey::Is(const char* wanted) const {
  if (name.empty()) return false;
  size_t i = 0;
  for (; wanted[i] != '\0'; ++i) {
    if (i >= name.size() || name[i] != UpperAscii(wanted[i])) return false;
  }
  return i == name.size();
}

std::string ResourceKey::Text() const { return name.empty() ? std::to_string(id) : "\"" + name + "\""; }

std::optional<std::vector<Resource>> ReadResources(Bytes file, const PeImage& image, std::string& reason) {
  std::vector<Resource> resources;
  if (image.resourceRva == 0) return resources;
  // The directory's start and extent from the one section that holds it: taken from two
  // sections (one ending at the address, the next holding it), the extent ran past the file.
  const std::optional<ByteRange> root = FileStretchAt(image, file.size(), image.resourceRva);
  if (!root) {
    reason = "resource directory damaged: its address " + std::to_string(image.resourceRva) +
             " lies outside the file";
    return std::nullopt;
  }
  DirectoryWalk walk(file, image, root->offset, root->size);
  if (!walk.Walk(resources)) {
    reason = walk.Reason();
    return std::nullopt;
  }
  return resources;
}

const Resource* FindResource(const std::vector<Resource>& resources, const ResourceKey& type,
                             const ResourceKey& name) {
  const Resource* found = nullptr;
  for (const Resource& resource : resources) {
    const bool typeMatches = type.name.empty() ? resource.type.Is(type.id) : resource.type.Is(type.name.c_str());
    const bool nameMatches = name.name.empty() ? resource.name.Is(name.id) : resource.name.Is(name.name.c_str());
    if (!typeMatches || !nameMatches) continue;
    if (resource.language == kEnglishUs) return &resource;
    if (found == nullptr) found = &resource;
  }
  return found;
}

}  // namespace clipnote::message
