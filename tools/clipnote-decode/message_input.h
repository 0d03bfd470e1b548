#pragma once

// The input of a command as a message: the file read whole and what it holds
// (a message executable or a bare clip, see message/message_file.h).

#include <cstdint>
#include <string>
#include <vector>

#include "message/message_file.h"

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
