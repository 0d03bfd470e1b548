#include "tools/clipnote-decode/message_input.h"

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
