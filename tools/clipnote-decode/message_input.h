#pragma once

// The input of a command as a message: the file read whole and what it holds
// (a message executable or a bare clip, see message/message_file.h).

#include <cstdint>
#include <string>
#include <vector>

#include "message/message_file.h"
#include "tools/common/command_line.h"

struct MessageInput {
  std::vector<uint8_t> bytes;  // the whole file
  clipnote::message::MessageFile message;

  clipnote::message::Bytes Clip(const clipnote::message::ByteRange& range) const {
    return clipnote::message::Slice(bytes, range);
  }
};

// False, with a sentence naming the file in `error`, when the file cannot be read
// or holds no message.
bool ReadMessageInput(const char* path, clipnote::message::SpeechForm form, MessageInput& input,
                      std::string& error);

// The options that say how to read the speech, whatever the file's name, and the form the last of
// them given asks for.
inline constexpr clipnote::tools::Option kVoiceOption = {
    "voice", 0, nullptr, "read the speech as a VOICE clip (4-byte PCM-capacity prefix, then frames)"};
inline constexpr clipnote::tools::Option kRawOption = {"raw", 0, nullptr, "read the speech as a raw G.723.1 frame stream"};
clipnote::message::SpeechForm SpeechFormOf(const clipnote::tools::Arguments& arguments);
