#include "tools/clipnote-decode/message_input.h"

#include <cstring>

#include "tools/common/file_input.h"

bool ReadMessageInput(const char* path, clipnote::message::SpeechForm form, MessageInput& input,
                      std::string& error) {
  if (!ReadWholeFile(path, input.bytes, error)) return false;
  std::string reason;
  std::optional<clipnote::message::MessageFile> message =
      clipnote::message::ReadMessage(input.bytes, path, form, reason);
  if (!message) {
    error = std::string(path) + ": " + reason;
    return false;
  }
  input.message = std::move(*message);
  return true;
}

clipnote::message::SpeechForm SpeechFormOf(const clipnote::tools::Arguments& arguments) {
  clipnote::message::SpeechForm form = clipnote::message::SpeechForm::ByName;
  for (const auto& given : arguments.given()) {
    if (std::strcmp(given.option->name, kVoiceOption.name) == 0) form = clipnote::message::SpeechForm::Voice;
    if (std::strcmp(given.option->name, kRawOption.name) == 0) form = clipnote::message::SpeechForm::Raw;
  }
  return form;
}
