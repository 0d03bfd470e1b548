// Arbitrary resources, and for some inputs an arbitrary template, through the message
// writer. It either refuses with a reason or writes an executable whose resource
// directory the reader reads back holding exactly the resources it was given, byte
// for byte; anything else traps.
//
// The input: a control byte, then (when it asks for one) a 16-bit little-endian
// length and that many template bytes, then resource records. The control byte's
// low two bits pick the template: the committed player template for 0 to 2 (so
// most inputs get past the header checks to the layout), the input's own for 3.
// Bit 2 starts from the template's own resources and sets the given ones over
// them, as the tools do; bit 3 takes the first four records' bytes as a message
// (MOVIE, VOICE, start-up sound, logo) through WriteMessage instead.
//
// A record: a flags byte (bit 0: the type is a name, bit 1: the name is a name,
// bit 2: language 0x409, else a 16-bit language follows the keys), each key as a
// 16-bit id or a length byte and that many characters, then a 16-bit data length
// and the data (cut at the end of the input).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "message/message_file.h"
#include "message/pe_image.h"
#include "message/resource_directory.h"
#include "message/resource_writer.h"
#include "resources/player_template.h"

namespace {

using namespace clipnote::message;

struct Input {
  const uint8_t* at;
  const uint8_t* end;
  size_t Left() const { return static_cast<size_t>(end - at); }
  uint8_t Byte() { return at < end ? *at++ : 0; }
  uint16_t U16() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }
  std::vector<uint8_t> Take(size_t n) {
    n = std::min(n, Left());
    std::vector<uint8_t> out(at, at + n);
    at += n;
    return out;
  }
};

ResourceKey KeyFrom(Input& in, bool named) {
  if (!named) return {in.U16(), {}};
  const std::vector<uint8_t> chars = in.Take(in.Byte() % 80);  // past the longest name the reader keeps
  return {0, std::string(chars.begin(), chars.end())};
}

// (type id, type name, name id, name name, language, bytes): names upper case, ids 0 beside a name.
using Entry = std::tuple<uint16_t, std::string, uint16_t, std::string, uint16_t, std::vector<uint8_t>>;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return s;
}

std::vector<Entry> Given(const std::vector<ResourceItem>& items) {
  std::vector<Entry> entries;
  for (const ResourceItem& item : items) {
    entries.emplace_back(item.type.name.empty() ? item.type.id : 0, Upper(item.type.name),
                         item.name.name.empty() ? item.name.id : 0, Upper(item.name.name), item.language, item.data);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// What the reader finds in the written file, straight from its directory.
std::vector<Entry> ReadBack(const std::vector<uint8_t>& file) {
  std::string reason;
  const std::optional<PeImage> image = ReadPeImage(file, reason);
  if (!image) __builtin_trap();
  const std::optional<std::vector<Resource>> resources = ReadResources(file, *image, reason);
  if (!resources) __builtin_trap();
  std::vector<Entry> entries;
  for (const Resource& r : *resources) {
    if (!FitsIn(file.size(), r.data.offset, r.data.size)) __builtin_trap();
    const Bytes data = Slice(file, r.data);
    entries.emplace_back(r.type.id, r.type.name, r.name.id, r.name.name, r.language,
                         std::vector<uint8_t>(data.begin(), data.end()));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Input in{data, data + size};
  const uint8_t control = in.Byte();
  std::vector<uint8_t> executable;
  if ((control & 3) == 3) {
    executable = in.Take(in.U16());  // a copy of exactly its length, so reading past it is caught
  } else {
    const auto player = clipnote::PlayerTemplate();
    executable.assign(player.begin(), player.end());
  }
  std::vector<ResourceItem> records;
  while (in.Left() > 0 && records.size() < 64) {
    const uint8_t flags = in.Byte();
    ResourceItem item;
    item.type = KeyFrom(in, flags & 1);
    item.name = KeyFrom(in, flags & 2);
    item.language = (flags & 4) ? 0x409 : in.U16();
    item.data = in.Take(in.U16());
    records.push_back(std::move(item));
  }

  std::string reason;
  std::vector<ResourceItem> expected;
  std::optional<std::vector<uint8_t>> written;
  if (control & 8) {
    MessageResources message;
    if (records.size() > 0) message.movie = records[0].data;
    message.voice = records.size() > 1 ? records[1].data : kNoSpeechVoiceClip;
    if (records.size() > 2) message.startupSound = records[2].data;
    if (records.size() > 3) message.logo = records[3].data;
    written = WriteMessage(executable, message, reason);
    if (written) {
      std::string ignored;
      std::optional<std::vector<ResourceItem>> own = ResourceItemsOf(executable, ignored);
      if (!own) __builtin_trap();  // written from a template whose resources cannot be read
      expected = std::move(*own);
      SetResource(expected, {{263, {}}, {0, "MOVIE"}, 0x409, message.movie});
      SetResource(expected, {{723, {}}, {0, "VOICE"}, 0x409, message.voice});
      if (message.startupSound) SetResource(expected, {{0, "WAVE"}, {150, {}}, 0x409, *message.startupSound});
      if (message.logo) SetResource(expected, {{2, {}}, {147, {}}, 0x409, *message.logo});
    }
  } else {
    if (control & 4) {
      std::optional<std::vector<ResourceItem>> own = ResourceItemsOf(executable, reason);
      if (!own) {
        if (reason.empty()) __builtin_trap();
        return 0;
      }
      expected = std::move(*own);
      for (ResourceItem& item : records) SetResource(expected, std::move(item));
    } else {
      expected = std::move(records);
    }
    written = WriteMessageExecutable(executable, expected, reason);
  }
  if (!written) {
    if (reason.empty()) __builtin_trap();
    return 0;
  }
  if (ReadBack(*written) != Given(expected)) __builtin_trap();
  return 0;
}
