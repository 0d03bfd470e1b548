// The native player's entry. Without arguments it plays the message compiled in,
// exactly as the Windows player does (no command line, exit code 0). As a native
// extension it also plays a message given as a file, read by the message reader and
// never run:
//
//   clipnote MESSAGE.exe              a message executable (its clips, and its logo,
//                                     start-up sound, window texts and icon where it
//                                     has them)
//   clipnote VIDEO.263 [SPEECH.723]   bare clips (no speech: a message with video only)
//   clipnote --speech SPEECH.723      speech alone (a .tco or .g723 raw stream works too)
//
//   clipnote --help | -h             this usage on standard output, exit 0
//   clipnote --version               the version on standard output, exit 0
//
// Arguments it does not take are a usage error: one line on standard error that
// points at --help, exit code 2, no window. A file that is no message is reported
// in a message box and on standard error, with exit code 1. One player runs per message: a second start with the same
// message brings the first forward. The platform and the player are built before
// anything else runs and torn down after it returns, the player first.

#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/message_player.h"
#include "app/player_main.h"
#include "audio/frame_unpacker.h"
#include "message/file_bytes.h"
#include "message/message_file.h"
#include "platform/gtk/gtk_platform.h"

namespace {

using clipnote::EmbeddedResource;
namespace message = clipnote::message;

constexpr const char* kUsage =
    "usage: clipnote [MESSAGE.exe | VIDEO.263 [SPEECH.723] | --speech SPEECH.723]";

constexpr const char* kHelp =
    "Plays a Clipnote video message in a window of its own.\n"
    "\n"
    "  clipnote                          the message built into this player\n"
    "  clipnote MESSAGE.exe              a message executable (read, never run)\n"
    "  clipnote VIDEO.263 [SPEECH.723]   bare clips; without speech the video plays alone\n"
    "  clipnote --speech SPEECH.723      speech alone (.723, .tco or .g723)\n"
    "  clipnote --help, -h               this text\n"
    "  clipnote --version                the player's version\n"
    "\n"
    "Exit status: 0 played (or help), 1 the file cannot be played, 2 a usage error.\n";

#ifndef CLIPNOTE_VERSION
#define CLIPNOTE_VERSION "unknown"
#endif

// What the command line asks for before any file is read.
enum class Request { Play, Help, Version, UsageError };

Request RequestOf(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    return Request::Help;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return Request::Version;
  if (argc == 3 && std::strcmp(argv[1], "--speech") == 0) return Request::Play;
  if (argc > 3 || (argc >= 2 && argv[1][0] == '-')) return Request::UsageError;
  return Request::Play;
}

// The files' bytes and the resources cut from them, for the life of the process.
struct Replacements {
  std::deque<std::vector<uint8_t>> bytes;  // one block per resource, so each starts aligned
  std::deque<std::string> names;
  std::vector<EmbeddedResource> resources;

  void Add(int typeId, const char* typeName, int nameId, const char* nameName, message::Bytes data) {
    bytes.emplace_back(data.begin(), data.end());
    // A resource of no bytes still needs an address: an empty clip, not a missing one.
    if (bytes.back().empty()) bytes.back().reserve(1);
    resources.push_back({typeId, typeName, nameId, nameName, 0x409, bytes.back().data(), bytes.back().size()});
  }

  // A resource of the executable under its own type and name.
  void Add(const message::Resource& resource, message::Bytes file) {
    const auto text = [&](const message::ResourceKey& key) -> const char* {
      if (key.name.empty()) return nullptr;
      return names.emplace_back(key.name).c_str();
    };
    Add(resource.type.id, text(resource.type), resource.name.id, text(resource.name),
        message::Slice(file, resource.data));
  }

  // What tells this message's player from others: a hash (FNV-1a, 64 bits) of
  // every resource taken over, so the same message under another name is the same.
  std::string Key() const {
    uint64_t hash = 0xcbf29ce484222325u;
    const auto mix = [&](const void* data, size_t size) {
      for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ static_cast<const uint8_t*>(data)[i]) * 0x100000001b3u;
      }
    };
    for (const EmbeddedResource& resource : resources) {
      mix(&resource.typeId, sizeof resource.typeId);
      if (resource.typeName) mix(resource.typeName, std::strlen(resource.typeName) + 1);
      mix(&resource.nameId, sizeof resource.nameId);
      if (resource.nameName) mix(resource.nameName, std::strlen(resource.nameName) + 1);
      mix(&resource.size, sizeof resource.size);
      mix(resource.data, resource.size);
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
  }
};

// What the message box and standard error say when a file cannot be played.
struct Refusal {
  std::string text;
};

struct ReadFile {
  std::vector<uint8_t> bytes;
  message::MessageFile file;
};

// Reads one file as a message; throws a Refusal naming the file and the reason.
ReadFile ReadMessageFile(const char* path) {
  ReadFile out;
  std::string error;
  if (!message::ReadFileBytes(path, out.bytes, error)) throw Refusal{error};
  std::optional<message::MessageFile> found =
      message::ReadMessage(out.bytes, path, message::SpeechForm::ByName, error);
  if (!found) throw Refusal{std::string(path) + ": " + error};
  out.file = std::move(*found);
  return out;
}

// The speech of a file as the VOICE resource the player reads. A raw stream gets a
// prefix reserving exactly what its frames decode to (480 bytes each): the prefix is
// also how long a message without video plays, so it must not be more than the speech.
std::vector<uint8_t> VoiceResource(const ReadFile& read, const char* path) {
  const message::MessageFile& file = read.file;
  if (!file.speech) throw Refusal{std::string(path) + ": " + MessageKindName(file.kind) + ", not speech"};
  const message::Bytes speech = message::Slice(read.bytes, *file.speech);
  if (file.speechHasPrefix) return {speech.begin(), speech.end()};
  uint64_t capacity = 0;
  for (size_t at = 0; at < speech.size(); at += static_cast<size_t>(clipnote::speech::CodedFrameLength(speech[at]))) {
    capacity += 480;
  }
  if (capacity > 0x7FFFFFFF) throw Refusal{std::string(path) + ": the speech stream is too large"};
  std::vector<uint8_t> voice = {static_cast<uint8_t>(capacity), static_cast<uint8_t>(capacity >> 8),
                                static_cast<uint8_t>(capacity >> 16), static_cast<uint8_t>(capacity >> 24)};
  voice.insert(voice.end(), speech.begin(), speech.end());
  return voice;
}

// The resources that take the place of the compiled-in ones for the arguments given.
void ReadArguments(int argc, char** argv, Replacements& out) {
  const std::vector<uint8_t> noSpeech = {0, 0, 0, 0};  // a prefix and no frames
  if (argc == 3 && std::strcmp(argv[1], "--speech") == 0) {
    const ReadFile speech = ReadMessageFile(argv[2]);
    out.Add(263, nullptr, 0, "MOVIE", {});
    out.Add(723, nullptr, 0, "VOICE", VoiceResource(speech, argv[2]));
    return;
  }
  if (argc < 2 || argc > 3 || argv[1][0] == '-') throw Refusal{kUsage};
  const ReadFile read = ReadMessageFile(argv[1]);
  const message::MessageFile& file = read.file;
  if (file.kind == message::MessageKind::Executable) {
    if (argc == 3) throw Refusal{std::string("a message executable carries its own speech: ") + kUsage};
    // A clip the executable lacks is an empty one: the player says which half is missing.
    out.Add(263, nullptr, 0, "MOVIE", file.video ? message::Slice(read.bytes, *file.video) : message::Bytes{});
    out.Add(723, nullptr, 0, "VOICE",
            file.speech ? message::Slice(read.bytes, *file.speech) : message::Bytes{noSpeech});
    // Everything else it carries (start-up sound, logo, window template, icons)
    // takes the place of ours; what it lacks is ours.
    for (const message::Resource& resource : file.resources) {
      if (!resource.type.Is(263) && !resource.type.Is(723)) out.Add(resource, read.bytes);
    }
    return;
  }
  if (file.kind != message::MessageKind::VideoClip) {
    throw Refusal{std::string(argv[1]) + ": " + MessageKindName(file.kind) + "; speech alone plays with --speech"};
  }
  out.Add(263, nullptr, 0, "MOVIE", message::Slice(read.bytes, *file.video));
  if (argc == 3) {
    out.Add(723, nullptr, 0, "VOICE", VoiceResource(ReadMessageFile(argv[2]), argv[2]));
  } else {
    out.Add(723, nullptr, 0, "VOICE", noSpeech);
  }
}

}  // namespace

int main(int argc, char** argv) {
  switch (RequestOf(argc, argv)) {
    case Request::Help:
      std::printf("%s\n\n%s", kUsage, kHelp);
      return 0;
    case Request::Version:
      std::printf("clipnote %s\n", CLIPNOTE_VERSION);
      return 0;
    case Request::UsageError:
      std::fprintf(stderr, "clipnote: %s (clipnote --help tells more)\n", kUsage);
      return 2;
    case Request::Play:
      break;
  }
  if (argc == 1) {
    static clipnote::gtk::GtkPlatform platform;
    static clipnote::MessagePlayer player(platform);
    return clipnote::PlayerWinMain(player, nullptr);
  }
  static Replacements replacements;
  try {
    ReadArguments(argc, argv, replacements);
  } catch (const Refusal& refusal) {
    std::fprintf(stderr, "clipnote: %s\n", refusal.text.c_str());
    clipnote::gtk::GtkPlatform platform;
    platform.MessageBoxA(nullptr, refusal.text.c_str(), "Cannot play",
                         clipnote::kMbIconError | clipnote::kMbSetForeground);
    return 1;
  }
  static clipnote::gtk::GtkPlatform platform(replacements.resources, replacements.Key());
  static clipnote::MessagePlayer player(platform);
  return clipnote::PlayerWinMain(player, nullptr);
}
