#include "resources/embedded_resources.h"

#include <cctype>
#include <charconv>

namespace clipnote {

ResourceKey::ResourceKey(std::string_view text) {
  // "#<digits>" is a numeric id; anything else, even "#abc", is a name.
  if (text.size() > 1 && text.front() == '#') {
    int value = 0;
    const char* first = text.data() + 1;
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc() && end == last && value > 0 && value <= 0xFFFF) {
      id_ = value;
      return;
    }
  }
  name_ = text;
}

bool ResourceKey::Matches(int id, const char* name) const {
  if (id_ != 0) return id == id_;
  if (name == nullptr) return false;
  std::string_view other(name);
  if (other.size() != name_.size()) return false;
  for (std::size_t i = 0; i < other.size(); ++i) {
    auto a = static_cast<unsigned char>(other[i]);
    auto b = static_cast<unsigned char>(name_[i]);
    if (std::toupper(a) != std::toupper(b)) return false;
  }
  return true;
}

const EmbeddedResource* FindEmbeddedResource(ResourceKey type, ResourceKey name) {
  for (const EmbeddedResource& resource : AllEmbeddedResources()) {
    if (type.Matches(resource.typeId, resource.typeName) &&
        name.Matches(resource.nameId, resource.nameName)) {
      return &resource;
    }
  }
  return nullptr;
}

}  // namespace clipnote
