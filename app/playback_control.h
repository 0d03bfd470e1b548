#pragma once

// Starting and stopping a playback, and the threads that carry it.

#include "app/message_player.h"

namespace clipnote {

inline constexpr char kNoInformationText[] = "This clip contains no information!";
inline constexpr char kNoInformationCaption[] = "No Video and No Audio";
inline constexpr char kWaitErrorCaption[] = "Wait Error";
inline constexpr char kThreadErrorText[] = "Unable to start a playback thread!";
inline constexpr char kThreadErrorCaption[] = "Thread Error";

inline constexpr uint32_t kVideoThreadExitCode = 102;

// Begins a playback: resets the per-playback events and starts the video
// thread (when there is video) and the audio playback thread. When a thread
// cannot be created nothing is shown or heard: the failure is reported and
// the playback ended. Window thread.
void Start(MessagePlayer& player);

// Ends a playback and waits, serving the calls the playback threads make into
// the window, until its threads are done; then the buttons read "Play" again.
// Window thread.
void Stop(MessagePlayer& player);

// Resets stopEvent, startEvent, videoDoneEvent and audioDoneEvent.
void ResetPlaybackEvents(MessagePlayer& player);

// Warns and closes the window when neither clip has anything to play. Made
// once, after the audio clip has been examined: by Start when the preparation
// has finished, otherwise by the audio playback thread when it is released.
void CheckForInformationOnce(MessagePlayer& player);

// For the window's close: abandons the preparation, stops any playback and
// waits until the preparation thread and the last playback's threads have
// ended, so that nothing they use is released under them.
void EndPlaybackThreads(MessagePlayer& player);

// Creates a thread of the player and keeps its handle and id in record;
// false (and a null handle) when it cannot be created. The caller reports it.
bool CreatePlayerThread(MessagePlayer& player, ThreadProc procedure, ThreadRecord& record);

// Thread procedure of the video thread.
uint32_t VideoThread(void* player);

}  // namespace clipnote
