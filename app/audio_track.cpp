#include "app/audio_track.h"

#include <cstdint>
#include <limits>

#include "app/display_box.h"
#include "app/fatal_report.h"
#include "app/media_resources.h"
#include "app/playback_control.h"
#include "audio/wav_image.h"

namespace clipnote {

namespace {

bool IsSet(Platform& os, Handle event) { return os.WaitForSingleObject(event, 0) == kWaitObject0; }

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool AbortRequested(void* context) {
  auto& player = *static_cast<MessagePlayer*>(context);
  return IsSet(player.os, player.events.prepAbortEvent);
}

}  // namespace

void StartAudioPreparation(MessagePlayer& player) {
  Platform& os = player.os;
  if (CreatePlayerThread(player, AudioPrepThread, player.prepThread)) {
    os.SetThreadPriority(player.prepThread.handle, kThreadPriorityAboveNormal);
    return;
  }
  ShowErrorReport(os, player.window, kThreadErrorText, kThreadErrorCaption);
  os.SetEvent(player.events.audioPreparedEvent);
}

void PrepareAudio(MessagePlayer& player) {
  Platform& os = player.os;
  try {
    const LockedClip clip = LocateAudioClip(os, player.audioAbsent);
    const uint32_t capacity = clip.size >= kAudioPrefixBytes ? ReadLittleEndian32(clip.data) : 0;
    const uint32_t codedBytes = clip.size > kAudioPrefixBytes ? clip.size - kAudioPrefixBytes : 0;
    player.pcmCapacity = capacity;
    // A prefix so large that the image size would not fit 32 bits cannot be
    // reserved any more than a too-large block.
    if (capacity > std::numeric_limits<uint32_t>::max() - kWavImageExtraBytes) {
      RaiseStartupFailure(os, kNotEnoughMemoryText);
    }
    auto* image = static_cast<uint8_t*>(os.GlobalAlloc(kGmemFixed | kGmemZeroInit,
                                                       capacity + kWavImageExtraBytes));
    if (image == nullptr) RaiseStartupFailure(os, kNotEnoughMemoryText);
    player.wavImage = image;

    SpeechDecodeResult decoded;
    if (codedBytes != 0) {
      decoded = player.speechDecoding.DecodeSpeech(
          os, clip.data + kAudioPrefixBytes, codedBytes, image + kWavImageHeaderBytes,
          capacity + kWavImageExtraBytes - kWavImageHeaderBytes,
          SpeechAbortPoll{AbortRequested, &player});
    }
    if (decoded.failed) RaiseStartupFailure(os, kNotEnoughMemoryText);
    if (decoded.aborted) return;
    speech::WriteWavHeader(image, decoded.pcmBytes);
    player.audioReady = true;
  } catch (const StartupFailure& failure) {
    ReportFatal(os, failure);
  }
}

uint32_t AudioPrepThread(void* parameter) {
  MessagePlayer& player = *static_cast<MessagePlayer*>(parameter);
  PrepareAudio(player);
  player.os.SetEvent(player.events.audioPreparedEvent);
  return kAudioPrepThreadExitCode;
}

uint32_t AudioPlayThread(void* parameter) {
  MessagePlayer& player = *static_cast<MessagePlayer*>(parameter);
  Platform& os = player.os;
  const PlaybackEvents& events = player.events;
  if (!player.audioReady) {
    // The start-up sound is requested and cut at once.
    os.PlaySoundA(MakeIntResource(kStartupSoundId), player.instance, kSndResource | kSndAsync);
    os.PlaySoundA(nullptr, nullptr, 0);
    const Handle both[] = {events.audioPreparedEvent, events.startEvent};
    os.WaitForMultipleObjects(2, both, true, kInfinite);
  } else {
    os.WaitForSingleObject(events.startEvent, kInfinite);
  }
  // The audio clip has been examined by now; Start may not have known yet.
  CheckForInformationOnce(player);
  // A stop that came before the speech started keeps it from starting.
  if (!IsSet(os, events.stopEvent)) PlayAudio(player);
  os.SetEvent(events.audioDoneEvent);
  return kAudioPlayThreadExitCode;
}

void PlayAudio(MessagePlayer& player) {
  Platform& os = player.os;
  os.SetWindowTextA(player.playButton, "Stop");
  os.EnableWindow(player.playButton, true);

  // The speech actually decoded sets the playing time (the clip's prefix is
  // only an upper bound); 16 bytes of 8 kHz 16-bit mono are one millisecond.
  const uint8_t* image = player.wavImage;
  const uint32_t dataBytes =
      player.audioReady && image != nullptr ? ReadLittleEndian32(image + 40) : 0;
  player.audioEndTime = os.timeGetTime() + dataBytes / 16;
  // The button calls above wait for the window thread, which may have been
  // running a Stop meanwhile: a speech stopped before it started stays unplayed.
  // (A null sound would mean "stop": without an image there is nothing to play.)
  if (image != nullptr && !IsSet(os, player.events.stopEvent)) {
    os.PlaySoundA(reinterpret_cast<const char*>(image), nullptr, kSndMemory);
  }

  if (player.videoAbsent != 1) return;  // the video thread ends the playback
  // If the sound came back early without a stop (no sound device, say), the
  // speech's time is still waited out, so an audio-only message keeps its
  // length and still ends by itself.
  const int32_t remaining = static_cast<int32_t>(player.audioEndTime - os.timeGetTime());
  const uint32_t waited =
      os.WaitForSingleObject(player.events.stopEvent, remaining > 0 ? remaining : 0);
  if (waited != kWaitObject0) PostPlaybackEnded(player);
}

}  // namespace clipnote
