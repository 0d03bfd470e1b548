// The message reader: message executables (real and made here, whole and damaged)
// and bare clips told apart by content and name.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "message/message_file.h"
#include "message/pe_image.h"
#include "message/resource_directory.h"
#include "message/pe_builder.h"
#include "support/test_support.h"

namespace {

using namespace clipnote::message;
using pe_builder::Layout;

using support::ReadFile;

std::vector<uint8_t> Bytes(Bytes file, const std::optional<ByteRange>& range) {
  if (!range) return {};
  const clipnote::message::Bytes slice = Slice(file, *range);
  return std::vector<uint8_t>(slice.begin(), slice.end());
}

std::optional<MessageFile> Read(const std::vector<uint8_t>& file, std::string& reason,
                                const char* name = "message.exe", SpeechForm form = SpeechForm::ByName) {
  return ReadMessage(file, name, form, reason);
}

TEST(MessageReader, TheBuiltPlayerCarriesTheDefaultMessage) {
#ifndef CLIPNOTE_WIN32_EXE
  GTEST_SKIP() << "no Windows tree named (-DCLIPNOTE_WIN32_BUILD_DIR)";
#else
  const std::vector<uint8_t> exe = ReadFile(CLIPNOTE_WIN32_EXE);
  if (exe.empty()) GTEST_SKIP() << CLIPNOTE_WIN32_EXE << " is not built";
  const std::string resources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";
  std::string reason;
  const std::optional<MessageFile> message = Read(exe, reason);
  ASSERT_TRUE(message) << reason;
  EXPECT_EQ(message->kind, MessageKind::Executable);
  EXPECT_TRUE(message->speechHasPrefix);
  EXPECT_EQ(Bytes(exe, message->video), ReadFile(resources + "message.263"));
  EXPECT_EQ(Bytes(exe, message->speech), ReadFile(resources + "message.723"));
  EXPECT_EQ(Bytes(exe, message->startupSound), ReadFile(resources + "startup_chime.wav"));
  std::vector<uint8_t> bmp = ReadFile(resources + "logo.bmp");
  bmp.erase(bmp.begin(), bmp.begin() + 14);  // the resource is the bitmap without its file header
  EXPECT_EQ(Bytes(exe, message->logo), bmp);
  const Resource* dialog = FindResource(message->resources, {5, {}}, {0, "displaybox"});
  ASSERT_NE(dialog, nullptr);
  EXPECT_GT(dialog->data.size, 0u);
#endif
}

TEST(MessageReader, MadeExecutablesGiveTheirResources) {
  using pe_builder::Item;
  struct Case {
    const char* what;
    std::vector<Item> items;
    std::vector<uint8_t> video, speech;  // expected bytes
    bool hasVideo, hasLogo;
  };
  const std::vector<uint8_t> movie = {0, 0, 0x80, 2}, voice = {1, 0, 0, 0, 3};
  const Case cases[] = {
      {"whole", pe_builder::SmallMessage(), pe_builder::SmallMessage()[0].data, pe_builder::SmallMessage()[1].data,
       true, true},
      {"names in any case", {{263, "movie", 0x409, movie}, {723, "Voice", 0x409, voice}}, movie, voice, true, false},
      {"English US preferred, else the first",
       {{263, "MOVIE", 0x407, {9}}, {263, "MOVIE", 0x409, movie}, {723, "VOICE", 0x40C, voice}},
       movie, voice, true, false},
      {"audio only: an empty MOVIE", {{263, "MOVIE", 0x409, {}}, {723, "VOICE", 0x409, voice}}, {}, voice, true,
       false},
      {"no MOVIE at all", {{723, "VOICE", 0x409, voice}, {3, 1, 0x409, {1, 2}}}, {}, voice, false, false},
      {"several languages, none English US: the first",
       {{263, "MOVIE", 0x40C, {9}}, {263, "MOVIE", 0x407, movie}, {723, "VOICE", 0x40C, voice}}, movie, voice, true,
       false},
      {"other types and names ignored",
       {{"MOVIE", 263, 0x409, {7}}, {263, "MOVIES", 0x409, {7}}, {263, "MOVIE", 0x409, movie},
        {723, "VOICE", 0x409, voice}},
       movie, voice, true, false},
  };
  for (const Case& c : cases) {
    const Layout pe = pe_builder::Build(c.items);
    std::string reason;
    const std::optional<MessageFile> message = Read(pe.bytes, reason);
    ASSERT_TRUE(message) << c.what << ": " << reason;
    EXPECT_EQ(message->video.has_value(), c.hasVideo) << c.what;
    EXPECT_EQ(Bytes(pe.bytes, message->video), c.video) << c.what;
    EXPECT_EQ(Bytes(pe.bytes, message->speech), c.speech) << c.what;
    EXPECT_EQ(message->logo.has_value(), c.hasLogo) << c.what;
    EXPECT_EQ(message->resources.size(), c.items.size()) << c.what;
  }

  // A name is kept to 64 characters, however long the file says it is.
  const std::string longName(300, 'n');
  const Layout pe = pe_builder::Build({{263, "MOVIE", 0x409, movie}, {longName.c_str(), 1, 0x409, {1}}});
  std::string reason;
  const std::optional<MessageFile> message = Read(pe.bytes, reason);
  ASSERT_TRUE(message) << reason;
  ASSERT_EQ(message->resources.size(), 2u);
  EXPECT_EQ(message->resources[0].type.name, std::string(64, 'N') + "...");
}

TEST(MessageReader, DamagedExecutablesAreRefusedWithTheirReason) {
  struct Case {
    const char* what;
    std::function<void(Layout&)> damage;
    const char* reason;
  };
  const uint32_t root = Layout::kRoot;
  const Case cases[] = {
      {"cut inside the DOS header", [](Layout& pe) { pe.bytes.resize(40); }, "ends inside its DOS header"},
      {"cut before the PE header", [](Layout& pe) { pe.bytes.resize(66); }, "past the end of the file"},
      {"PE header offset past the end", [](Layout& pe) { pe.Put32(0x3C, 0xFFFFFFF0); }, "past the end of the file"},
      {"no PE signature", [](Layout& pe) { pe.bytes[Layout::kPeOffset] = 'N'; }, "no PE signature"},
      {"cut inside the optional header", [](Layout& pe) { pe.bytes.resize(Layout::kOptionalHeader + 50); },
       "inside its optional header"},
      {"64-bit", [](Layout& pe) { pe.Put16(Layout::kOptionalHeader, 0x20B); }, "64-bit"},
      {"unknown optional header", [](Layout& pe) { pe.Put16(Layout::kOptionalHeader, 0x107); }, "not a 32-bit"},
      // The magic is read only when the header says it has one.
      {"no optional header", [](Layout& pe) { pe.Put16(Layout::kPeOffset + 20, 0); }, "not a 32-bit"},
      // Too short to hold the resource entry: what lies behind it is not read as one.
      {"optional header without the resource entry", [](Layout& pe) { pe.Put16(Layout::kPeOffset + 20, 104); },
       "without a message"},
      // Too short to hold the directories, and the file ends with it (ASan sees a read past it).
      {"optional header without directories",
       [](Layout& pe) {
         pe.Put16(Layout::kPeOffset + 6, 0);
         pe.Put16(Layout::kPeOffset + 20, 92);
         pe.bytes.resize(Layout::kOptionalHeader + 92);
         pe.bytes.shrink_to_fit();
       },
       "without a message"},
      {"65535 sections", [](Layout& pe) { pe.Put16(Layout::kPeOffset + 6, 0xFFFF); }, "section headers run past"},
      {"no resources", [](Layout& pe) { pe.Put32(Layout::kResourceDirectoryField, 0); }, "without a message"},
      {"directory outside every section",
       [](Layout& pe) { pe.Put32(Layout::kResourceDirectoryField, 0x90000000); }, "its address 2415919104"},
      {"section past the end of the file", [](Layout& pe) { pe.Put32(Layout::kSectionTable + 20, 0x7FFFFFF0); },
       "lies outside the file"},
      // A section ending where the directory starts, ahead of the one holding it: the
      // directory's start comes from the first, so its extent must too (ASan sees a read past).
      {"directory where one section ends and the next begins",
       [](Layout& pe) {
         const uint32_t first = Layout::kSectionTable;
         std::copy_n(pe.bytes.begin() + first, 40, pe.bytes.begin() + first + 40);
         pe.Put32(first + 8, 16);
         pe.Put32(first + 12, Layout::kSectionAddress - 16);
         pe.Put32(first + 16, 16);
         pe.Put32(first + 20, static_cast<uint32_t>(pe.bytes.size()) - 16);
         pe.Put16(Layout::kPeOffset + 6, 2);
         pe.bytes.shrink_to_fit();
       },
       "a directory table lies past the end of the file"},
      {"cut in the last resource", [](Layout& pe) { pe.bytes.resize(pe.bytes.size() - 2); }, "lies outside the file"},
      {"cut in the directory", [](Layout& pe) { pe.bytes.resize(root + 30); },
       "resource directory damaged at offset 512: a directory table runs past the end"},
      {"a type loops back to the root", [](Layout& pe) { pe.Put32(root + 16 + 4, 0x80000000); },
       "overlaps another part of the directory (a loop?)"},
      {"a name table loops to its type table",
       [](Layout& pe) { pe.Put32(pe.languageTables[0] - 8 + 4, pe.Get32(root + 16 + 4)); },
       "(a loop?)"},
      {"two resources share a data entry",
       [](Layout& pe) { pe.Put32(pe.languageTables[1] + 16 + 4, pe.dataEntries[0] - root); }, "overlaps"},
      {"a table nested below the languages",
       [](Layout& pe) { pe.Put32(pe.languageTables[0] + 16 + 4, 0x80000000 | 16); }, "nested below the language"},
      {"data where a table belongs", [](Layout& pe) { pe.Put32(root + 16 + 4, pe.dataEntries[0] - root); },
       "data where a directory table belongs"},
      {"65535 + 65535 entries", [](Layout& pe) { pe.Put32(root + 12, 0xFFFFFFFF); }, "runs past the end"},
      {"a name of 65535 characters", [](Layout& pe) { pe.Put16(pe.names[0], 0xFFFF); },
       "a resource name of 65535 characters runs past the end"},
      {"a name past the end", [](Layout& pe) { pe.Put32(root + 16, 0xFFFFFFFF); }, "name lies past the end"},
      {"a resource of 2 GiB", [](Layout& pe) { pe.Put32(pe.dataEntries[1] + 4, 0x80000000); },
       "claims 2147483648 bytes, 2 GiB or more"},
      {"a resource of 4 GiB - 1", [](Layout& pe) { pe.Put32(pe.dataEntries[0] + 4, 0xFFFFFFFF); }, "2 GiB or more"},
      {"data address past the end",
       [](Layout& pe) { pe.Put32(pe.dataEntries[0], 0xFFFFFFF0); }, "resource 263/\"MOVIE\" (5 bytes at address"},
      {"a VOICE shorter than its prefix", [](Layout& pe) { pe.Put32(pe.dataEntries[1] + 4, 3); },
       "fewer than its 4-byte length prefix"},
  };
  for (const Case& c : cases) {
    Layout pe = pe_builder::Build(pe_builder::SmallMessage());
    c.damage(pe);
    std::string reason;
    EXPECT_FALSE(Read(pe.bytes, reason)) << c.what;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
  }
}

// Every prefix of a small message and every single-bit change of its headers and
// directory: the reader stays inside the bytes (ASan checks it) and any clip it
// gives lies inside the file.
TEST(MessageReader, AnyCutOrFlippedBitStaysInsideTheFile) {
  const Layout pe = pe_builder::Build(pe_builder::SmallMessage());
  auto check = [](const std::vector<uint8_t>& bytes) {
    std::string reason;
    if (const std::optional<MessageFile> message = Read(bytes, reason)) {
      for (const std::optional<ByteRange>& range : {message->video, message->speech, message->logo}) {
        if (range) {
          EXPECT_TRUE(FitsIn(bytes.size(), range->offset, range->size));
        }
      }
    } else {
      EXPECT_FALSE(reason.empty());
    }
  };
  for (size_t length = 0; length < pe.bytes.size(); ++length) {
    check(std::vector<uint8_t>(pe.bytes.begin(), pe.bytes.begin() + length));
  }
  for (size_t bit = 0; bit < 8 * pe.bytes.size(); ++bit) {
    std::vector<uint8_t> flipped = pe.bytes;
    flipped[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    check(flipped);
  }
}

std::vector<uint8_t> DosProgram() {
  std::vector<uint8_t> bytes(100, 'M');
  bytes[1] = 'Z';
  return bytes;
}

TEST(MessageReader, BareFilesAreToldByContentNameAndOption) {
  const std::vector<uint8_t> h263 = {0x00, 0x00, 0x80, 0x02, 0x08, 0x00};
  const std::vector<uint8_t> speech = {0x00, 0x00, 0x80, 0x00, 0x01};  // could be either
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    SpeechForm form;
    std::optional<MessageKind> kind;  // nothing: refused
    const char* reason;
  };
  const Case cases[] = {
      {"clip.263", h263, SpeechForm::ByName, MessageKind::VideoClip, ""},
      {"clip.bin", h263, SpeechForm::ByName, MessageKind::VideoClip, ""},
      {"speech.723", speech, SpeechForm::ByName, MessageKind::VoiceClip, ""},
      {"SPEECH.TCO", speech, SpeechForm::ByName, MessageKind::RawSpeech, ""},
      {"speech.g723", speech, SpeechForm::ByName, MessageKind::RawSpeech, ""},
      {"speech.723", speech, SpeechForm::Raw, MessageKind::RawSpeech, ""},
      {"speech.tco", speech, SpeechForm::Voice, MessageKind::VoiceClip, ""},
      {"speech", speech, SpeechForm::ByName, MessageKind::VideoClip, ""},  // content says H.263
      {"picture.png", png, SpeechForm::ByName, std::nullopt, "not a message: neither a Windows executable"},
      {"empty.263", {}, SpeechForm::ByName, std::nullopt, "the file is empty (0 bytes)"},
      {"short.723", {1, 2, 3}, SpeechForm::ByName, std::nullopt, "shorter than its 4-byte length prefix"},
      {"dos.exe", DosProgram(), SpeechForm::ByName, std::nullopt, "not a Windows executable"},
      {"MZ.723", {'M', 'Z', 0, 0}, SpeechForm::ByName, std::nullopt, "ends inside its DOS header"},
      {"MZ.723", {'M', 'Z', 0, 0}, SpeechForm::Voice, MessageKind::VoiceClip, ""},
      // Names shorter than the endings looked for.
      {"723", speech, SpeechForm::ByName, MessageKind::VideoClip, ""},
      {"", png, SpeechForm::ByName, std::nullopt, "not a message"},
      // Near misses of the picture start code.
      {"clip.bin", {0x00, 0x01, 0x80, 0x02}, SpeechForm::ByName, std::nullopt, "no picture start code"},
      {"clip.bin", {0x00, 0x00, 0x7C, 0x02}, SpeechForm::ByName, std::nullopt, "no picture start code"},
  };
  for (const Case& c : cases) {
    std::string reason;
    const std::optional<MessageFile> message = Read(c.bytes, reason, c.name, c.form);
    ASSERT_EQ(message.has_value(), c.kind.has_value()) << c.name << ": " << reason;
    if (!message) {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << c.name << ": " << reason;
      continue;
    }
    EXPECT_EQ(message->kind, *c.kind) << c.name;
    const std::optional<ByteRange>& whole = *c.kind == MessageKind::VideoClip ? message->video : message->speech;
    ASSERT_TRUE(whole) << c.name;
    EXPECT_EQ(whole->size, c.bytes.size()) << c.name;
    EXPECT_EQ(message->speechHasPrefix, *c.kind == MessageKind::VoiceClip) << c.name;
  }
}

}  // namespace
