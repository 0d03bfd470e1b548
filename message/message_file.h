#pragma once

// What a file given to our tools holds, told from its bytes and its name: a
// message executable (the player with its message as resources), a bare H.263
// clip, a VOICE clip (4-byte PCM-capacity prefix + G.723.1 frames) or a raw
// G.723.1 frame stream. The clips come back as byte ranges inside the file.
//
// Executables ("MZ" ... "PE\0\0") and H.263 clips (a picture start code first)
// are told by their content. The two speech forms cannot always be told apart by
// content, so the name decides (.723 is a VOICE clip, .tco and .g723 a raw
// stream) unless the caller says which (SpeechForm), which overrides everything.
//
//   std::string reason;
//   if (auto message = ReadMessage(bytes, "hello.exe", SpeechForm::ByName, reason)) {
//     Bytes movie = Slice(bytes, *message->video);
//   }

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/byte_view.h"
#include "message/resource_directory.h"

namespace clipnote::message {

enum class MessageKind { Executable, VideoClip, VoiceClip, RawSpeech };

// How a file that is not an executable is taken: by its content and name, or as
// the speech form the user named (--voice, --raw).
enum class SpeechForm { ByName, Voice, Raw };

struct MessageFile {
  MessageKind kind = MessageKind::VideoClip;
  std::optional<ByteRange> video;   // the H.263 clip; absent when the file carries none
  std::optional<ByteRange> speech;  // the speech clip; absent when the file carries none
  bool speechHasPrefix = false;     // true for a VOICE clip: its first 4 bytes are the PCM capacity
  std::optional<ByteRange> startupSound;  // executables: "WAVE" 150, a whole RIFF WAVE file
  std::optional<ByteRange> logo;          // executables: bitmap 147, a DIB without the .bmp file header
  std::vector<Resource> resources;        // executables: every resource, for the rest (dialog, icons)
};

// True when the file starts "MZ": whatever else it holds, it is read as an executable.
bool HasMzSignature(Bytes file);

// Nothing, with a sentence in `reason`, when the file is no message we can read.
std::optional<MessageFile> ReadMessage(Bytes file, std::string_view fileName, SpeechForm form, std::string& reason);

// "message executable", "H.263 clip", "VOICE clip", "raw G.723.1 stream".
const char* MessageKindName(MessageKind kind);

}  // namespace clipnote::message
