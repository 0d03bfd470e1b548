#pragma once

// The message writer: a new message executable from a player executable (the
// template) and a set of resources. The template's resource section, which has
// to be the last section in the file and in the image, is replaced by one holding
// the given resources; every byte of code and data before it stays as it is, and
// the headers that describe the section (its size, the image size, the resource
// data directory, the initialized-data size and the image checksum) are brought
// up to date.
//
// The section is laid out as the mingw resource compiler and linker lay it out:
// the directory tables (root, then each type's table followed by the language
// tables of its names), the name strings, the data entries, then each resource's
// bytes on an 8-byte boundary, all in directory order. Names sort before ids, names
// by their characters, ids by value, so the same resources give the same bytes
// whatever order they come in: the bytes the toolchain writes for them.
//
//   std::string reason;
//   std::vector<ResourceItem> items = ResourceItemsOf(template, reason).value();
//   SetResource(items, {{263, {}}, {0, "MOVIE"}, 0x409, movieBytes});
//   if (auto exe = WriteMessageExecutable(template, items, reason)) save(*exe);

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "message/byte_view.h"
#include "message/resource_directory.h"

namespace clipnote::message {

struct ResourceItem {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0x409;
  std::vector<uint8_t> data;
};

// A resource section laid out for the address `sectionRva`, and where its parts
// went (offsets from the section's start), so tests can damage exactly one part.
struct ResourceSection {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> dataEntries;     // in the order of the items given
  std::vector<uint32_t> names;           // the name strings, in the order they are stored
  std::vector<uint32_t> languageTables;  // in directory order
};

// Nothing, with the reason, for two items with the same type, name and language, or
// more bytes than a 32-bit image holds at that address. Names are stored as given,
// one character to each 16-bit unit.
std::optional<ResourceSection> LayOutResourceSection(const std::vector<ResourceItem>& items, uint32_t sectionRva,
                                                     std::string& reason);

// The template's resources as items (what a new message starts from); nothing,
// with the reason, when its resource directory cannot be read.
std::optional<std::vector<ResourceItem>> ResourceItemsOf(Bytes executable, std::string& reason);

// Replaces the item with the same type, name and language, or adds it.
void SetResource(std::vector<ResourceItem>& items, ResourceItem item);

// The template with its resources replaced by `items`, names stored upper case as
// the resource compiler stores them. Nothing, with the reason, for a name the reader
// would not read back (longer than kLongestResourceName characters, or not printable
// ASCII) and for a template that cannot be rewritten safely: not a PE32 i386
// executable, no resource section, one that is not the last in the file and the
// image or does not start with the resource directory, bytes after it in the file,
// or a signature.
std::optional<std::vector<uint8_t>> WriteMessageExecutable(Bytes executable, const std::vector<ResourceItem>& items,
                                                           std::string& reason);

// A message's own resources, as the player looks them up: the clips "MOVIE" (type
// 263; empty for a message without pictures) and "VOICE" (type 723; its 4-byte
// PCM-capacity prefix and the frames, kNoSpeechVoiceClip for none), and where given
// the start-up sound ("WAVE" 150, a whole RIFF WAVE file) and the logo (bitmap 147,
// the .bmp without its file header). Absent ones stay the template's.
struct MessageResources {
  std::vector<uint8_t> movie;
  std::vector<uint8_t> voice;
  std::optional<std::vector<uint8_t>> startupSound;
  std::optional<std::vector<uint8_t>> logo;
};

// The VOICE clip of a message without speech: a capacity of 480 bytes and no frames.
inline const std::vector<uint8_t> kNoSpeechVoiceClip = {0xE0, 0x01, 0x00, 0x00};

// The template with the message's resources in place of its own, and every other
// resource (window template, icons) as it was; nothing, with the reason, when the
// template cannot be rewritten, the VOICE clip is shorter than its prefix, the sound
// is no RIFF WAVE file or the logo no bitmap a .bmp can carry.
std::optional<std::vector<uint8_t>> WriteMessage(Bytes executable, const MessageResources& message,
                                                 std::string& reason);

// The image checksum a Windows loader checks for drivers and system files: the
// file as 16-bit little-endian words (the checksum field counted as zero) summed
// with the carries folded back in, plus the file's length.
uint32_t PeChecksum(Bytes file, uint64_t checksumOffset);

}  // namespace clipnote::message
