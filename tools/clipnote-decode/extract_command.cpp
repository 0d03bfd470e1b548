// clipnote-decode extract MESSAGE.exe DIR
//
// Writes what a message executable carries as ordinary files in DIR (made when
// missing): message.263 and message.723 byte for byte as the resources hold them,
// and, where the executable has them, startup.wav (the start-up sound, already a
// whole WAVE file) and logo.bmp (the bitmap with the .bmp file header in front).
// Exit codes: 0 all written; 1 the file is no message executable, or a file could
// not be made; 2 usage.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "message/bitmap_file.h"
#include "tools/clipnote-decode/commands.h"
#include "tools/clipnote-decode/message_input.h"

namespace {

using clipnote::message::Bytes;

bool WriteFile(const std::filesystem::path& path, Bytes bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "clipnote-decode extract: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "clipnote-decode extract: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
  return true;
}

// A WAVE resource is played as the whole RIFF file it is; anything else is not written.
bool IsWaveFile(Bytes bytes) {
  return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
         std::memcmp(bytes.data() + 8, "WAVE", 4) == 0;
}

}  // namespace

int RunExtractCommand(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: clipnote-decode extract MESSAGE.exe DIR\n");
    return 2;
  }
  const char* path = argv[1];
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
  const std::filesystem::path directory = argv[2];
  std::error_code made;
  std::filesystem::create_directories(directory, made);
  if (made) {
    std::fprintf(stderr, "clipnote-decode extract: cannot make %s: %s\n", directory.c_str(), made.message().c_str());
    return 1;
  }

  bool complete = true;
  if (message.video) {
    complete &= WriteFile(directory / "message.263", input.Clip(*message.video));
  } else {
    std::fprintf(stderr, "clipnote-decode extract: %s has no MOVIE resource: no message.263\n", path);
  }
  if (message.speech) {
    complete &= WriteFile(directory / "message.723", input.Clip(*message.speech));
  } else {
    std::fprintf(stderr, "clipnote-decode extract: %s has no VOICE resource: no message.723\n", path);
  }
  if (message.startupSound) {
    const Bytes sound = input.Clip(*message.startupSound);
    if (IsWaveFile(sound)) {
      complete &= WriteFile(directory / "startup.wav", sound);
    } else {
      std::fprintf(stderr, "clipnote-decode extract: %s: the start-up sound is no WAVE file: no startup.wav\n", path);
      complete = false;
    }
  }
  if (message.logo) {
    std::string reason;
    if (const auto bitmap = clipnote::message::BitmapFileFromResource(input.Clip(*message.logo), reason)) {
      complete &= WriteFile(directory / "logo.bmp", *bitmap);
    } else {
      std::fprintf(stderr, "clipnote-decode extract: %s: %s: no logo.bmp\n", path, reason.c_str());
      complete = false;
    }
  }
  return complete ? 0 : 1;
}
