// The message writer: any set of resources written into a template comes back from
// the reader exactly; templates it cannot rewrite safely are refused with the reason;
// the player template plus the default message is the built clipnote.exe.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "message/message_file.h"
#include "message/pe_builder.h"
#include "message/pe_image.h"
#include "message/resource_writer.h"
#include "support/test_support.h"

namespace {

using namespace clipnote::message;
using pe_builder::Item;
using pe_builder::Layout;

using support::ReadFile;

const std::string kResources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";

// (type, name, language, bytes) with names upper case, sorted: what a directory holds.
using Entry = std::tuple<uint16_t, std::string, uint16_t, std::string, uint16_t, std::vector<uint8_t>>;
std::vector<Entry> Entries(const std::vector<ResourceItem>& items) {
  std::vector<Entry> entries;
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return s;
  };
  for (const ResourceItem& item : items) {
    entries.emplace_back(item.type.name.empty() ? item.type.id : 0, upper(item.type.name),
                         item.name.name.empty() ? item.name.id : 0, upper(item.name.name), item.language, item.data);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

uint32_t U32(const std::vector<uint8_t>& file, uint64_t at) { return U32At(file, at); }

TEST(ResourceWriter, AnySetOfResourcesComesBackExactly) {
  std::vector<Item> many;
  for (int i = 0; i < 300; ++i) many.push_back({i % 7 + 1, i, 0x409, std::vector<uint8_t>(static_cast<size_t>(i % 13), uint8_t(i))});
  const struct {
    const char* what;
    std::vector<Item> items;
  } cases[] = {
      {"a message", pe_builder::SmallMessage()},
      {"none at all", {}},
      {"names of any case, stored upper", {{"wave", "Chime", 0x409, {1}}, {263, "movie", 0x409, {2, 3}}}},
      {"several languages of one name", {{263, "MOVIE", 0x407, {9}}, {263, "MOVIE", 0x409, {1}}, {263, "MOVIE", 0, {}}}},
      {"empty and odd-sized data", {{1, 1, 0x409, {}}, {1, 2, 0x409, {1}}, {1, 3, 0x409, {1, 2, 3}}, {1, 4, 0x409, {1, 2, 3, 4, 5, 6, 7}}}},
      {"a name of 64 characters", {{std::string(64, 'A').c_str(), 1, 0x409, {1}}}},
      {"300 resources of 7 types", many},
  };
  const Layout base = pe_builder::Build(pe_builder::SmallMessage());
  for (const auto& c : cases) {
    const std::vector<ResourceItem> items = pe_builder::ResourceItems(c.items);
    std::string reason;
    const std::optional<std::vector<uint8_t>> out = WriteMessageExecutable(base.bytes, items, reason);
    ASSERT_TRUE(out) << c.what << ": " << reason;
    const std::optional<std::vector<ResourceItem>> back = ResourceItemsOf(*out, reason);
    ASSERT_TRUE(back) << c.what << ": " << reason;
    EXPECT_EQ(Entries(*back), Entries(items)) << c.what;

    // Headers and everything before the section stay, but for the fields that describe it.
    const std::vector<uint32_t> updated = {Layout::kOptionalHeader + 8, Layout::kOptionalHeader + 56,
                                           Layout::kOptionalHeader + 64, Layout::kResourceDirectoryField + 4,
                                           Layout::kSectionTable + 8, Layout::kSectionTable + 16};
    for (uint32_t at = 0; at < Layout::kRoot; at += 4) {
      if (std::find(updated.begin(), updated.end(), at) == updated.end()) {
        EXPECT_EQ(U32(*out, at), U32(base.bytes, at)) << c.what << ": header field at " << at;
      }
    }
    const uint32_t size = U32(*out, Layout::kResourceDirectoryField + 4);
    EXPECT_EQ(U32(*out, Layout::kSectionTable + 8), size) << c.what;
    EXPECT_EQ(out->size(), Layout::kRoot + ((size + 511) & ~511u)) << c.what << ": the file ends with its section";
    EXPECT_EQ(U32(*out, Layout::kSectionTable + 16), out->size() - Layout::kRoot) << c.what;
    EXPECT_EQ(U32(*out, Layout::kOptionalHeader + 56), Layout::kSectionAddress + ((size + 0xFFF) & ~0xFFFu)) << c.what;
    EXPECT_EQ(U32(*out, Layout::kOptionalHeader + 64), PeChecksum(*out, Layout::kOptionalHeader + 64)) << c.what;

    // The same resources in another order, or written into the output again: the same bytes.
    std::vector<ResourceItem> reversed(items.rbegin(), items.rend());
    EXPECT_EQ(WriteMessageExecutable(base.bytes, reversed, reason), out) << c.what;
    EXPECT_EQ(WriteMessageExecutable(*out, *back, reason), out) << c.what;
  }
}

TEST(ResourceWriter, RefusesWhatItCannotWriteSafelyWithTheReason) {
  const std::vector<uint8_t> voice = kNoSpeechVoiceClip;
  struct Case {
    const char* what;
    std::function<void(Layout&)> damage;
    const char* reason;
    std::vector<ResourceItem> extra = {};
    bool message = false;  // through WriteMessage, which reads the template's resources first
  };
  auto addSection = [](Layout& pe, uint32_t address, uint32_t offset, uint32_t rawSize) {
    // A second section header after the first (the header area has room for it).
    const uint32_t header = Layout::kSectionTable + 40;
    std::copy_n(".reloc", 6, pe.bytes.begin() + header);
    pe.Put32(header + 8, 16);
    pe.Put32(header + 12, address);
    pe.Put32(header + 16, rawSize);
    pe.Put32(header + 20, offset);
    pe.Put16(Layout::kPeOffset + 6, 2);
  };
  const Case cases[] = {
      {"an x86-64 machine", [](Layout& pe) { pe.Put16(Layout::kPeOffset + 4, 0x8664); }, "not for i386"},
      {"PE32+", [](Layout& pe) { pe.Put16(Layout::kOptionalHeader, 0x20B); }, "64-bit"},
      {"no MZ", [](Layout& pe) { pe.bytes[0] = 'X'; }, "no MZ signature"},
      {"no resource directory", [](Layout& pe) { pe.Put32(Layout::kResourceDirectoryField, 0); }, "no resource section"},
      {"3 data directories", [](Layout& pe) { pe.Put32(Layout::kOptionalHeader + 92, 2); }, "no resource section"},
      {"signed", [](Layout& pe) { pe.Put32(Layout::kSecurityDirectoryField, 0x4000); pe.Put32(Layout::kSecurityDirectoryField + 4, 8); },
       "it is signed"},
      {"bytes after the section", [](Layout& pe) { pe.bytes.insert(pe.bytes.end(), 16, 0); }, "bytes follow its resource section"},
      {"a section after it in the image",
       [&](Layout& pe) { addSection(pe, Layout::kSectionAddress + 0x10000, 0, 0); }, "not the last section of the image"},
      {"a section after it in the file",
       [&](Layout& pe) { addSection(pe, 0x800, static_cast<uint32_t>(pe.bytes.size()), 16); pe.bytes.insert(pe.bytes.end(), 16, 0); },
       "not the last section in the file"},
      {"a section before it reaching into it in the image",
       [&](Layout& pe) {
         addSection(pe, Layout::kSectionAddress - 0x100, 0, 0);
         pe.Put32(Layout::kSectionTable + 40 + 8, 0x200);
       },
       "not the last section of the image"},
      {"a section before it whose bytes run into it in the file",
       [&](Layout& pe) { addSection(pe, 0x800, 0x100, 0x200); }, "not the last section in the file"},
      {"the directory inside the section, not at its start",
       [](Layout& pe) { pe.Put32(Layout::kSectionTable + 12, Layout::kSectionAddress - 0x10); }, "no section starts with"},
      {"no file alignment", [](Layout& pe) { pe.Put32(Layout::kOptionalHeader + 36, 0); }, "are not a linker's"},
      {"file alignment under 512", [](Layout& pe) { pe.Put32(Layout::kOptionalHeader + 36, 256); }, "are not a linker's"},
      {"file alignment over 64 KiB", [](Layout& pe) { pe.Put32(Layout::kOptionalHeader + 36, 0x20000); }, "are not a linker's"},
      {"section alignment not a power of two", [](Layout& pe) { pe.Put32(Layout::kOptionalHeader + 32, 0x1800); },
       "are not a linker's"},
      {"the section's address off the section alignment", [](Layout& pe) { pe.Put32(Layout::kOptionalHeader + 32, 0x2000); },
       "not aligned"},
      {"the section running past the end of the file", [](Layout& pe) {
         pe.Put32(Layout::kSectionTable + 16, static_cast<uint32_t>(pe.bytes.size())); },
       "runs past the end of the file"},
      {"section alignment under the file's", [](Layout& pe) {
         pe.Put32(Layout::kOptionalHeader + 36, 0x1000); pe.Put32(Layout::kOptionalHeader + 32, 0x800); },
       "are not a linker's"},
      {"the section off its alignment", [](Layout& pe) {
         pe.Put32(Layout::kOptionalHeader + 36, 0x400); pe.Put32(Layout::kOptionalHeader + 32, 0x400); },
       "not aligned"},
      {"a damaged directory", [](Layout& pe) { pe.Put32(Layout::kRoot + 16 + 4, 0x80000000); }, "(a loop?)", {}, true},
      {"a name longer than the reader keeps", [](Layout&) {}, "longer than 64 characters",
       {{{0, std::string(65, 'N')}, {1, {}}, 0x409, {}}}},
      {"a name of other characters", [](Layout&) {}, "other than printable ASCII", {{{0, "CAF\xC3\x89"}, {1, {}}, 0x409, {}}}},
      {"the same name twice, in two cases", [](Layout&) {}, "two resources \"X\"/1 of language 1033",
       {{{0, "x"}, {1, {}}, 0x409, {}}, {{0, "X"}, {1, {}}, 0x409, {1}}}},
  };
  for (const Case& c : cases) {
    Layout pe = pe_builder::Build(pe_builder::SmallMessage());
    c.damage(pe);
    std::string reason;
    std::optional<std::vector<uint8_t>> out;
    if (c.message) {
      out = WriteMessage(pe.bytes, {{1, 2}, voice, {}, {}}, reason);
    } else {
      std::vector<ResourceItem> items = pe_builder::ResourceItems(pe_builder::SmallMessage());
      items.insert(items.end(), c.extra.begin(), c.extra.end());
      out = WriteMessageExecutable(pe.bytes, items, reason);
    }
    EXPECT_FALSE(out) << c.what;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
  }
  // A message the player could not use.
  const struct {
    MessageResources message;
    const char* reason;
  } messages[] = {
      {{{}, {1, 2, 3}, {}, {}}, "shorter than its 4-byte length prefix"},
      {{{}, voice, std::vector<uint8_t>{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}, {}},
       "the start-up sound is not a WAVE file"},
      {{{}, voice, {}, std::vector<uint8_t>{40, 0, 0, 0}}, "the logo is no bitmap the player draws"},
  };
  for (const auto& m : messages) {
    std::string reason;
    EXPECT_FALSE(WriteMessage(pe_builder::Build(pe_builder::SmallMessage()).bytes, m.message, reason)) << m.reason;
    EXPECT_NE(reason.find(m.reason), std::string::npos) << reason;
  }
}

// The committed template is what the cross tree builds; with the default message it is
// that tree's clipnote.exe byte for byte, and anywhere it carries the message whole.
TEST(ResourceWriter, TheTemplateWithTheDefaultMessageIsThePlayer) {
  const std::vector<uint8_t> playerTemplate = ReadFile(kResources + "clipnote_template.exe");
  ASSERT_FALSE(playerTemplate.empty());
  std::vector<uint8_t> logo = ReadFile(kResources + "logo.bmp");
  logo.erase(logo.begin(), logo.begin() + 14);
  const MessageResources message{ReadFile(kResources + "message.263"), ReadFile(kResources + "message.723"),
                                 ReadFile(kResources + "startup_chime.wav"), logo};
  std::string reason;
  const std::optional<std::vector<uint8_t>> exe = WriteMessage(playerTemplate, message, reason);
  ASSERT_TRUE(exe) << reason;
  const std::optional<MessageFile> read = ReadMessage(*exe, "message.exe", SpeechForm::ByName, reason);
  ASSERT_TRUE(read) << reason;
  auto bytes = [&](const std::optional<ByteRange>& range) {
    const Bytes slice = Slice(*exe, range.value_or(ByteRange{}));
    return std::vector<uint8_t>(slice.begin(), slice.end());
  };
  EXPECT_EQ(bytes(read->video), message.movie);
  EXPECT_EQ(bytes(read->speech), message.voice);
  EXPECT_EQ(bytes(read->startupSound), message.startupSound);
  EXPECT_EQ(bytes(read->logo), message.logo);
  EXPECT_EQ(read->resources.size(), 8u) << "the window template, the icon group and its icons stay";
  const uint64_t checksum = 0x80 + 24 + 64;  // the template's PE header is at 0x80
  EXPECT_EQ(U32(playerTemplate, checksum), PeChecksum(playerTemplate, checksum)) << "the linker's own checksum";
#ifndef CLIPNOTE_WIN32_EXE
  GTEST_SKIP() << "no Windows tree named (-DCLIPNOTE_WIN32_BUILD_DIR)";
#else
  const std::vector<uint8_t> built = ReadFile(CLIPNOTE_WIN32_EXE);
  const std::vector<uint8_t> builtTemplate = ReadFile(CLIPNOTE_WIN32_TEMPLATE);
  if (built.empty() || builtTemplate.empty()) {
    CLIPNOTE_SKIP_UNLESS_CI("the Windows players are not built");
  }
  EXPECT_TRUE(builtTemplate == playerTemplate)
      << "resources/clipnote_template.exe is not this source's player: "
         "cmake --build build/win32 --target update_player_template, and commit it";
  EXPECT_TRUE(*exe == built) << "the written executable differs from " << CLIPNOTE_WIN32_EXE;
#endif
}

}  // namespace
