#include "app/playback_control.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "app/audio_track.h"
#include "app/display_box.h"
#include "app/fatal_report.h"
#include "app/video_presentation.h"

namespace clipnote {

namespace {

bool IsSet(Platform& os, Handle event) { return os.WaitForSingleObject(event, 0) == kWaitObject0; }

constexpr uint32_t kRecutInterval = 50;

// A playback whose threads could not all be started: whatever did start finds
// the stop at once (before the report, which the user may leave up for long),
// the failure is reported, and the window ends the playback as any other.
void AbandonPlayback(MessagePlayer& player) {
  Platform& os = player.os;
  os.SetEvent(player.events.stopEvent);
  player.playing = 1;
  ShowErrorReport(os, player.window, kThreadErrorText, kThreadErrorCaption);
  PostPlaybackEnded(player);
}

}  // namespace

void ResetPlaybackEvents(MessagePlayer& player) {
  Platform& os = player.os;
  os.ResetEvent(player.events.stopEvent);
  os.ResetEvent(player.events.startEvent);
  os.ResetEvent(player.events.videoDoneEvent);
  os.ResetEvent(player.events.audioDoneEvent);
}

void CheckForInformationOnce(MessagePlayer& player) {
  if (player.informationChecked.exchange(true)) return;
  if (player.audioAbsent == 1 && player.videoAbsent == 1) {
    player.os.MessageBoxA(nullptr, kNoInformationText, kNoInformationCaption,
                          kMbIconWarning | kMbSetForeground);
    player.os.PostMessageA(player.window, kWmClose, 0, 0);
  }
}

bool CreatePlayerThread(MessagePlayer& player, ThreadProc procedure, ThreadRecord& record) {
  record.handle = player.os.CreateThread(procedure, &player, &record.id);
  return record.handle != nullptr;
}

void Start(MessagePlayer& player) {
  Platform& os = player.os;
  const PlaybackEvents& events = player.events;
  // Whether the message is empty is known only once the audio clip has been
  // examined; until then the audio playback thread makes the check.
  if (IsSet(os, events.audioPreparedEvent)) CheckForInformationOnce(player);
  if (player.closing) return;

  ResetPlaybackEvents(player);
  if (player.videoAbsent == 0) {
    if (!CreatePlayerThread(player, VideoThread, player.videoThread)) {
      // Without its pictures the playback does not start at all: the speech
      // is not released (it would play behind the report, with no picture).
      os.SetEvent(events.videoDoneEvent);
      os.SetEvent(events.audioDoneEvent);
      AbandonPlayback(player);
      return;
    }
    os.SetThreadPriority(player.videoThread.handle, kThreadPriorityAboveNormal);
  } else {
    os.SetEvent(events.videoDoneEvent);
    os.SetEvent(events.startEvent);
  }
  if (!CreatePlayerThread(player, AudioPlayThread, player.audioThread)) {
    player.audioThread.handle = nullptr;
    os.SetEvent(events.audioDoneEvent);
    AbandonPlayback(player);
    return;
  }
  player.playing = 1;
}

void Stop(MessagePlayer& player) {
  Platform& os = player.os;
  const PlaybackEvents& events = player.events;
  // Only the window's close abandons the speech preparation: any other stop
  // (the end of a playback that could not start, whose report may be
  // dismissed at once) leaves it to finish for the playbacks that follow.
  // Once the preparation has ended the abort changes nothing.
  const bool abandonPreparation = player.closing || IsSet(os, events.audioPreparedEvent);
  if (abandonPreparation) os.SetEvent(events.prepAbortEvent);
  // A sound call that returns because of this cut may find stopEvent still
  // clear; an end of playback it posts then reaches a window that has
  // stopped, which ignores it.
  os.PlaySoundA(nullptr, nullptr, 0);
  os.SetEvent(events.stopEvent);

  // Both playback threads are waited for, also while the speech is still being
  // prepared: "Play" must not come back while one of them runs, or a new
  // playback would reset the events under it and share the decoder with it.
  // When the preparation is abandoned its end is waited for too. The window
  // thread keeps serving the calls these threads make into the window
  // meanwhile. Until the audio playback thread is done the sound is cut again
  // now and then: one that it started just after the first cut must not play
  // to its end.
  const Handle waited[] = {events.videoDoneEvent, events.audioDoneEvent,
                           events.audioPreparedEvent};
  const uint32_t count = player.audioReady || !abandonPreparation ? 2 : 3;
  uint32_t result;
  while ((result = os.MsgWaitForMultipleObjects(count, waited, true, kRecutInterval)) ==
         kWaitTimeout) {
    os.PlaySoundA(nullptr, nullptr, 0);
  }
  if (result != kWaitObject0) {
    char message[64];
    std::snprintf(message, sizeof message, "Wait error: %u\n",
                  static_cast<unsigned>(os.GetLastError()));
    os.MessageBoxA(player.window, message, kWaitErrorCaption, kMbIconError | kMbSetForeground);
    os.ExitProcess(0);
    std::abort();  // not reached: ExitProcess does not return
  }
  player.playing = 0;
  os.SetWindowTextA(player.playButton, "Play");
  os.EnableWindow(player.playButton, true);
  if (player.videoAbsent == 0) os.EnableWindow(player.sizeButton, true);
}

void EndPlaybackThreads(MessagePlayer& player) {
  Platform& os = player.os;
  const PlaybackEvents& events = player.events;
  os.SetEvent(events.prepAbortEvent);
  os.SetEvent(events.stopEvent);
  os.PlaySoundA(nullptr, nullptr, 0);
  for (const ThreadRecord* thread : {&player.prepThread, &player.videoThread, &player.audioThread}) {
    if (thread->handle != nullptr) {
      Handle handle = thread->handle;
      os.MsgWaitForMultipleObjects(1, &handle, true, kInfinite);
    }
  }
}

uint32_t VideoThread(void* parameter) {
  MessagePlayer& player = *static_cast<MessagePlayer*>(parameter);
  Platform& os = player.os;
  if (!player.audioReady) {
    // A stop also ends the wait: a playback that could not start ends while
    // the preparation goes on.
    const Handle either[] = {player.events.audioPreparedEvent, player.events.stopEvent};
    os.WaitForMultipleObjects(2, either, false, kInfinite);
  }
  if (IsSet(os, player.events.stopEvent)) {
    // Stopped while the speech was prepared: no picture goes up; the audio
    // playback thread is released to find the stop too.
    os.SetEvent(player.events.startEvent);
  } else {
    PresentVideo(player);
  }
  os.SetEvent(player.events.videoDoneEvent);
  return kVideoThreadExitCode;
}

}  // namespace clipnote
