// clipnote-decode extract MESSAGE.exe DIR [--force]
//
// Writes what a message executable carries as ordinary files in DIR (made when
// missing): message.263 and message.723 byte for byte as the resources hold them,
// and, where the executable has them, startup.wav (the start-up sound, already a
// whole WAVE file) and logo.bmp (the bitmap with the .bmp file header in front).
// A file of those names already in DIR is replaced only with --force. Exit codes: 0 all
// written; 1 the file is no message executable, a file exists without --force, or a file could
// not be made (then none of them is); 2 usage.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "message/bitmap_file.h"
#include "tools/common/atomic_output.h"
#include "tools/clipnote-decode/commands.h"
#include "tools/common/command_line.h"
#include "tools/clipnote-decode/message_input.h"

namespace {

using clipnote::message::Bytes;

using clipnote::tools::OutputFile;

// Every file is written beside its place first; they are put in place together once all are whole.
struct Extracted {
  std::vector<std::unique_ptr<OutputFile>> files;
  std::vector<size_t> sizes;
  bool force = false;  // files already there are replaced
  bool failed = false;

  void Write(const std::filesystem::path& path, Bytes bytes) {
    if (failed) return;
    auto file = std::make_unique<OutputFile>();
    std::string error;
    failed = !clipnote::tools::MayWriteOutput(path.string(), force, error) || !file->Open(path.string(), error);
    if (!failed) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file->stream());
      failed = !file->Finish(error);
    }
    if (failed) {
      std::fprintf(stderr, "clipnote-decode extract: %s; nothing written\n", error.c_str());
      return;
    }
    files.push_back(std::move(file));
    sizes.push_back(bytes.size());
  }

  bool Commit() {
    if (failed) return false;
    std::vector<OutputFile*> outputs;
    for (const auto& file : files) outputs.push_back(file.get());
    std::string error;
    if (!clipnote::tools::CommitOutputs(outputs, error)) {
      std::fprintf(stderr, "clipnote-decode extract: %s; nothing written\n", error.c_str());
      return false;
    }
    for (size_t i = 0; i < files.size(); ++i) std::printf("%s: %zu bytes\n", files[i]->path().c_str(), sizes[i]);
    return true;
  }
};

// A WAVE resource is played as the whole RIFF file it is; anything else is not written.
bool IsWaveFile(Bytes bytes) {
  return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
         std::memcmp(bytes.data() + 8, "WAVE", 4) == 0;
}

constexpr clipnote::tools::Option kOptions[] = {clipnote::tools::kForceOption};
constexpr clipnote::tools::Command kCommand = {
    "clipnote-decode extract", "MESSAGE.exe DIR",
    "Writes what a message executable carries as ordinary files in DIR (made when missing):\n"
    "message.263, message.723, and startup.wav and logo.bmp where it has them.",
    kOptions, 2, 2,
    "Exit codes: 0 all written; 1 no message executable, a file in DIR exists without --force,\n"
    "or a file could not be made (then none of them is); 2 usage."};

}  // namespace

int RunExtractCommand(int argc, char** argv) {
  clipnote::tools::Arguments args;
  if (const auto done = clipnote::tools::ParseCommandLine(kCommand, argc, argv, args)) return *done;
  const char* path = args.operands()[0].c_str();
  MessageInput input;
  std::string error;
  if (!ReadMessageInput(path, clipnote::message::SpeechForm::ByName, input, error)) {
    std::fprintf(stderr, "clipnote-decode extract: %s\n", error.c_str());
    return 1;
  }
  const clipnote::message::MessageFile& message = input.message;
  if (message.kind != clipnote::message::MessageKind::Executable) {
    std::fprintf(stderr, "clipnote-decode extract: %s: a bare %s, not a message executable: nothing to extract\n", path,
                 MessageKindName(message.kind));
    return 1;
  }
  const std::filesystem::path directory = args.operands()[1];
  std::error_code made;
  std::filesystem::create_directories(directory, made);
  if (made) {
    std::fprintf(stderr, "clipnote-decode extract: cannot make %s: %s\n", directory.c_str(), made.message().c_str());
    return 1;
  }

  bool complete = true;
  Extracted out;
  out.force = args.Has("force");
  if (message.video) {
    out.Write(directory / "message.263", input.Clip(*message.video));
  } else {
    std::fprintf(stderr, "clipnote-decode extract: %s has no MOVIE resource: no message.263\n", path);
  }
  if (message.speech) {
    out.Write(directory / "message.723", input.Clip(*message.speech));
  } else {
    std::fprintf(stderr, "clipnote-decode extract: %s has no VOICE resource: no message.723\n", path);
  }
  if (message.startupSound) {
    const Bytes sound = input.Clip(*message.startupSound);
    if (IsWaveFile(sound)) {
      out.Write(directory / "startup.wav", sound);
    } else {
      std::fprintf(stderr, "clipnote-decode extract: %s: the start-up sound is no WAVE file: no startup.wav\n", path);
      complete = false;
    }
  }
  if (message.logo) {
    std::string reason;
    if (const auto bitmap = clipnote::message::BitmapFileFromResource(input.Clip(*message.logo), reason)) {
      out.Write(directory / "logo.bmp", *bitmap);
    } else {
      std::fprintf(stderr, "clipnote-decode extract: %s: %s: no logo.bmp\n", path, reason.c_str());
      complete = false;
    }
  }
  // A part the executable lacks or holds damaged is reported and left out; a file that cannot be
  // written leaves none of this run's files behind.
  complete &= out.Commit();
  return complete ? 0 : 1;
}
