// Arbitrary bytes through the message reader, as a file of our tools. The first
// byte picks how the file is named or taken (an executable's name, a VOICE clip's,
// a raw stream's, or --voice / --raw); the rest is the file. Whatever the headers
// claim, the reader stays inside the file and every range it gives lies inside it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "message/message_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipnote::message;
  if (size < 1) return 0;
  static const char* const kNames[] = {"message.exe", "speech.723", "speech.tco", "message.exe", "message.exe"};
  static const SpeechForm kForms[] = {SpeechForm::ByName, SpeechForm::ByName, SpeechForm::ByName,
                                      SpeechForm::Voice, SpeechForm::Raw};
  const unsigned pick = data[0] % 5;
  // A copy of exactly the given length, so reading past it is caught.
  const std::vector<uint8_t> file(data + 1, data + size);
  std::string reason;
  const std::optional<MessageFile> message = ReadMessage(file, kNames[pick], kForms[pick], reason);
  if (!message) {
    if (reason.empty()) __builtin_trap();
    return 0;
  }
  for (const std::optional<ByteRange>& range : {message->video, message->speech, message->startupSound, message->logo}) {
    if (range && !FitsIn(file.size(), range->offset, range->size)) __builtin_trap();
  }
  for (const Resource& resource : message->resources) {
    if (!FitsIn(file.size(), resource.data.offset, resource.data.size)) __builtin_trap();
  }
  return 0;
}
