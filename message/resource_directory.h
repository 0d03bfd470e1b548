#pragma once

// The resource directory of a Windows executable, read straight from the file:
// three levels (type, name, language) leading to the resources' bytes. The walk
// never leaves the file and does each part of the directory once: tables that
// overlap (as a loop or a shared subtree would), offsets past the end and
// resources of 2 GiB or more are reported as damage, not followed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "message/byte_view.h"
#include "message/pe_image.h"

namespace clipnote::message {

// A type or a name: a numeric id, or a string (ASCII; other characters read as '?').
struct ResourceKey {
  uint16_t id = 0;   // used when name is empty
  std::string name;  // upper case as stored; names of more than kLongestResourceName
                     // characters are cut there and end in "..."

  bool Is(uint16_t wanted) const { return name.empty() && id == wanted; }
  // Names compare without regard to case, as the system's lookup does.
  bool Is(const char* wanted) const;
  std::string Text() const;  // "263", "\"MOVIE\""
};

inline constexpr size_t kLongestResourceName = 64;
// More resources than any program carries: beyond it the directory counts as damaged.
inline constexpr size_t kMostResources = 65536;

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  ByteRange data;  // inside the file (a resource of 0 bytes: offset 0)
};

// Every resource, in directory order; an executable without resources gives none.
// Nothing, with `reason` ("resource directory damaged at offset N: ..."), when the
// directory cannot be read whole.
std::optional<std::vector<Resource>> ReadResources(Bytes file, const PeImage& image, std::string& reason);

// The resource of that type and name: language 0x409 (English US, the player's
// own) where there are several, else the first one listed.
const Resource* FindResource(const std::vector<Resource>& resources, const ResourceKey& type,
                             const ResourceKey& name);

}  // namespace clipnote::message
