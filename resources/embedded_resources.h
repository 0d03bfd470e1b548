#pragma once

// The player's resources compiled into a native program.
//
// On Windows the player finds its message, window template, icon, logo and
// start-up sound with FindResourceA. A native build has no resource section, so
// the same resources (compiled from resources/clipnote.rc by the resource
// compiler, byte for byte as the Windows executable carries them) are turned
// into byte arrays at build time and linked in through the library
// `clipnote_embedded_resources`. This header is how they are found.
//
// Types and names are written the way FindResourceA takes them: a string
// "#263" stands for the numeric id 263, any other string is a name, compared
// without regard to case. A plain integer is a numeric id too:
//
//   const EmbeddedResource* movie = FindEmbeddedResource("#263", "MOVIE");
//   const EmbeddedResource* chime = FindEmbeddedResource("WAVE", 150);
//   const EmbeddedResource* logo = FindEmbeddedResource(kResourceTypeBitmap, 147);
//   if (movie) use(movie->data, movie->size);
//
// What the program carries (language 0x409 throughout):
//   "#263" "MOVIE"        the video clip, a raw H.263 bitstream
//   "#723" "VOICE"        the speech clip: 4-byte little-endian PCM capacity, G.723.1 frames
//   "WAVE" 150            the start-up sound, a whole RIFF WAVE file
//   kResourceTypeBitmap 147      the logo: BITMAPINFOHEADER, palette, bits (no file header)
//   kResourceTypeDialog "DISPLAYBOX"  the player window's extended dialog template
//   kResourceTypeGroupIcon 128   the icon directory; its images are kResourceTypeIcon 1, 2, ...
// Without a resource compiler on the build machine only the first four are carried.
//
// The data is read-only, lives for the whole program and is never freed.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace clipnote {

// Numeric resource types of the Windows resource format (RT_BITMAP and so on).
inline constexpr int kResourceTypeIcon = 3;
inline constexpr int kResourceTypeBitmap = 2;
inline constexpr int kResourceTypeDialog = 5;
inline constexpr int kResourceTypeGroupIcon = 14;

// One carried resource. A type or name is either a numeric id (`...Id` nonzero,
// `...Name` null) or a name (`...Id` 0).
struct EmbeddedResource {
  int typeId;
  const char* typeName;
  int nameId;
  const char* nameName;
  std::uint16_t language;
  const std::uint8_t* data;  // never null; at least 4-byte aligned
  std::size_t size;          // may be 0
};

// A type or name as FindResourceA takes it: "#150" or 150 for a numeric id,
// "MOVIE" for a name.
class ResourceKey {
 public:
  ResourceKey(int id) : id_(id) {}
  ResourceKey(const char* text) : ResourceKey(std::string_view(text)) {}
  ResourceKey(const std::string& text) : ResourceKey(std::string_view(text)) {}
  ResourceKey(std::string_view text);

  bool Matches(int id, const char* name) const;

 private:
  int id_ = 0;              // nonzero for a numeric key
  std::string_view name_;   // for a named key
};

// The resource of that type and name, or nullptr when the program carries none.
const EmbeddedResource* FindEmbeddedResource(ResourceKey type, ResourceKey name);

// Every carried resource, in the order the resource compiler wrote them.
std::span<const EmbeddedResource> AllEmbeddedResources();

}  // namespace clipnote
