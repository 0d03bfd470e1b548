// clipnote-decode pack MOVIE.263 [VOICE.723] OUT.exe [--logo BMP] [--sound WAV] [--template EXE] [--force]
//
// Writes a message executable: the Windows player (the template this program carries,
// or --template's) with the given clips as its message, and the logo and start-up
// sound when given (else the template's). The clips are told by content and name as
// everywhere else: a .723 file is the VOICE clip, an H.263 clip the MOVIE; either may
// be left out for a message with speech only or pictures only. The window template
// and its caption stay the template's: a running player is found by that title.
// Exit codes: 0 written; 1 an input or the template refused, or OUT not written (then
// nothing is); 2 usage.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "message/message_file.h"
#include "message/resource_writer.h"
#include "resources/player_template.h"
#include "tools/common/atomic_output.h"
#include "tools/clipnote-decode/commands.h"
#include "tools/common/command_line.h"
#include "tools/common/file_input.h"

namespace {

using clipnote::message::Bytes;
using clipnote::message::MessageKind;

constexpr clipnote::tools::Option kOptions[] = {
    {"logo", 0, "BMP", "the logo the player shows, a .bmp file (else the template's)"},
    {"sound", 0, "WAV", "the start-up sound, a .wav file (else the template's)"},
    {"template", 0, "EXE", "the player to carry the message (else the one built in)"},
    clipnote::tools::kForceOption,
};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode pack", "MOVIE.263 [VOICE.723] OUT.exe",
    "Writes a message executable: the Windows player with the given clips as its message. Either\n"
    "clip may be left out, for a message with speech only or pictures only.",
    kOptions, 2, 3,
    "Exit codes: 0 written; 1 an input or the template refused, or OUT not written; 2 usage."};
constexpr size_t kBitmapFileHeaderBytes = 14;

bool Fail(const std::string& what) {
  std::fprintf(stderr, "clipnote-decode pack: %s\n", what.c_str());
  return false;
}

bool Read(const char* path, std::vector<uint8_t>& bytes) {
  std::string error;
  return ReadWholeFile(path, bytes, error) || Fail(error);
}

// A clip goes where its kind says; an executable or a raw frame stream is no clip to pack.
bool ReadClip(const char* path, clipnote::message::MessageResources& message, bool& haveMovie, bool& haveVoice) {
  std::vector<uint8_t> bytes;
  if (!Read(path, bytes)) return false;
  std::string reason;
  const auto clip = clipnote::message::ReadMessage(bytes, path, clipnote::message::SpeechForm::ByName, reason);
  if (!clip) return Fail(std::string(path) + ": " + reason);
  if (clip->kind == MessageKind::VideoClip && !haveMovie) {
    message.movie = std::move(bytes);
    haveMovie = true;
    return true;
  }
  if (clip->kind == MessageKind::VoiceClip && !haveVoice) {
    message.voice = std::move(bytes);
    haveVoice = true;
    return true;
  }
  if (clip->kind == MessageKind::VideoClip || clip->kind == MessageKind::VoiceClip) {
    return Fail(std::string(path) + ": a second " + MessageKindName(clip->kind) + "; a message has one of each");
  }
  return Fail(std::string(path) + ": a " + MessageKindName(clip->kind) +
              ", not a clip to pack (an H.263 clip, or a VOICE clip named .723)");
}

// The logo resource is the .bmp without its file header (the writer checks the rest).
bool ReadLogo(const char* path, clipnote::message::MessageResources& message) {
  std::vector<uint8_t> bytes;
  if (!Read(path, bytes)) return false;
  if (bytes.size() < kBitmapFileHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M') {
    return Fail(std::string(path) + ": not a .bmp file (no BM header)");
  }
  message.logo.emplace(bytes.begin() + kBitmapFileHeaderBytes, bytes.end());
  return true;
}

bool ReadSound(const char* path, clipnote::message::MessageResources& message) {
  message.startupSound.emplace();
  return Read(path, *message.startupSound);
}

}  // namespace

int RunPackCommand(int argc, char** argv) {
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  for (const char* name : {"logo", "sound", "template"}) {
    if (args.Values(name).size() > 1) return clipnote::tools::UsageError(kCommand, std::string("--") + name + " is given twice");
  }
  const auto logoPath = args.Value("logo"), soundPath = args.Value("sound"), templateOption = args.Value("template");
  const char* logo = logoPath ? logoPath->c_str() : nullptr;
  const char* sound = soundPath ? soundPath->c_str() : nullptr;
  const char* templatePath = templateOption ? templateOption->c_str() : nullptr;
  std::vector<const char*> positional;
  for (const std::string& operand : args.operands()) positional.push_back(operand.c_str());
  const char* out = positional.back();
  positional.pop_back();
  std::string error;
  if (!clipnote::tools::MayWriteOutput(out, args.Has("force"), error)) return clipnote::tools::Refuse(kCommand.program, error);

  clipnote::message::MessageResources message;
  bool haveMovie = false;
  bool haveVoice = false;
  for (const char* path : positional) {
    if (!ReadClip(path, message, haveMovie, haveVoice)) return 1;
  }
  if (!haveVoice) message.voice = clipnote::message::kNoSpeechVoiceClip;
  if ((logo != nullptr && !ReadLogo(logo, message)) || (sound != nullptr && !ReadSound(sound, message))) return 1;
  std::vector<uint8_t> templateBytes;
  Bytes playerTemplate = clipnote::PlayerTemplate();
  if (templatePath != nullptr) {
    if (!Read(templatePath, templateBytes)) return 1;
    playerTemplate = templateBytes;
  }

  std::string reason;
  const std::optional<std::vector<uint8_t>> exe = clipnote::message::WriteMessage(playerTemplate, message, reason);
  if (!exe) {
    Fail((templatePath != nullptr ? std::string(templatePath) + ": " : std::string()) + reason);
    return 1;
  }
  clipnote::tools::OutputFile file;
  bool written = file.Open(out, error);
  if (written) {
    std::fwrite(exe->data(), 1, exe->size(), file.stream());
    written = file.Finish(error) && clipnote::tools::CommitOutput(file, error);
  }
  if (!written) {
    Fail(error + "; nothing written");
    return 1;
  }
  std::printf("%s: %zu bytes (MOVIE %zu bytes, VOICE %zu bytes)\n", out, exe->size(), message.movie.size(),
              message.voice.size());
  return 0;
}
