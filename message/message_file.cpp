#include "message/message_file.h"

#include "message/pe_image.h"

namespace clipnote::message {

namespace {

constexpr uint16_t kMovieType = 263;
constexpr uint16_t kVoiceType = 723;
constexpr uint16_t kBitmapType = 2;
constexpr uint16_t kLogoId = 147;
constexpr uint16_t kStartupSoundId = 150;
constexpr uint64_t kVoicePrefixBytes = 4;

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// A picture header starts with the 22-bit picture start code, byte-aligned.
bool StartsWithPictureStartCode(Bytes file) {
  return file.size() >= 3 && file[0] == 0 && file[1] == 0 && (file[2] & 0xFC) == 0x80;
}

ResourceKey Id(uint16_t id) { return ResourceKey{id, {}}; }
ResourceKey Name(const char* name) { return ResourceKey{0, name}; }

std::optional<ByteRange> Found(const Resource* resource) {
  if (resource == nullptr) return std::nullopt;
  return resource->data;
}

std::optional<MessageFile> ReadExecutable(Bytes file, std::string& reason) {
  const std::optional<PeImage> image = ReadPeImage(file, reason);
  if (!image) return std::nullopt;
  std::optional<std::vector<Resource>> resources = ReadResources(file, *image, reason);
  if (!resources) return std::nullopt;

  MessageFile message;
  message.kind = MessageKind::Executable;
  message.video = Found(FindResource(*resources, Id(kMovieType), Name("MOVIE")));
  message.speech = Found(FindResource(*resources, Id(kVoiceType), Name("VOICE")));
  message.speechHasPrefix = true;
  if (!message.video && !message.speech) {
    reason = "an executable without a message (no MOVIE or VOICE resource)";
    return std::nullopt;
  }
  if (message.speech && message.speech->size < kVoicePrefixBytes) {
    reason = "the VOICE resource holds " + std::to_string(message.speech->size) +
             " bytes, fewer than its 4-byte length prefix";
    return std::nullopt;
  }
  message.startupSound = Found(FindResource(*resources, Name("WAVE"), Id(kStartupSoundId)));
  message.logo = Found(FindResource(*resources, Id(kBitmapType), Id(kLogoId)));
  message.resources = std::move(*resources);
  return message;
}

MessageFile WholeFileAs(Bytes file, MessageKind kind) {
  MessageFile message;
  message.kind = kind;
  const ByteRange whole{0, file.size()};
  if (kind == MessageKind::VideoClip) {
    message.video = whole;
  } else {
    message.speech = whole;
    message.speechHasPrefix = kind == MessageKind::VoiceClip;
  }
  return message;
}

}  // namespace

bool HasMzSignature(Bytes file) { return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z'; }

const char* MessageKindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::Executable: return "message executable";
    case MessageKind::VideoClip: return "H.263 clip";
    case MessageKind::VoiceClip: return "VOICE clip";
    case MessageKind::RawSpeech: return "raw G.723.1 stream";
  }
  return "?";
}

std::optional<MessageFile> ReadMessage(Bytes file, std::string_view fileName, SpeechForm form, std::string& reason) {
  MessageKind kind;
  if (form == SpeechForm::Voice) {
    kind = MessageKind::VoiceClip;
  } else if (form == SpeechForm::Raw) {
    kind = MessageKind::RawSpeech;
  } else if (file.empty()) {
    reason = "the file is empty (0 bytes)";
    return std::nullopt;
  } else if (HasMzSignature(file)) {
    return ReadExecutable(file, reason);
  } else if (EndsWithNoCase(fileName, ".723")) {
    kind = MessageKind::VoiceClip;
  } else if (EndsWithNoCase(fileName, ".tco") || EndsWithNoCase(fileName, ".g723")) {
    kind = MessageKind::RawSpeech;
  } else if (StartsWithPictureStartCode(file)) {
    kind = MessageKind::VideoClip;
  } else {
    reason = "not a message: neither a Windows executable nor an H.263 clip (no picture start code), "
             "and not named as speech (.723 for a VOICE clip, .tco or .g723 for a raw stream)";
    return std::nullopt;
  }
  if (kind == MessageKind::VoiceClip && file.size() < kVoicePrefixBytes) {
    reason = "a VOICE clip of " + std::to_string(file.size()) + " bytes, shorter than its 4-byte length prefix";
    return std::nullopt;
  }
  return WholeFileAs(file, kind);
}

}  // namespace clipnote::message
