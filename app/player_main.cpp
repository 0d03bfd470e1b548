#include "app/player_main.h"

#include "app/display_box.h"
#include "app/fatal_report.h"

namespace clipnote {

namespace {
MessagePlayer* activePlayer = nullptr;
}  // namespace

MessagePlayer& ActivePlayer() { return *activePlayer; }

int PlayerWinMain(MessagePlayer& player, Hinstance instance) {
  Platform& os = player.os;
  if (Hwnd running = os.FindWindowA(MakeIntResource(kDialogClassAtom), kWindowTitle)) {
    os.SetForegroundWindow(running);
    return 0;
  }
  player.instance = instance;

  PlaybackEvents& events = player.events;
  for (Handle* event : {&events.prepAbortEvent, &events.stopEvent, &events.startEvent,
                        &events.videoDoneEvent, &events.audioPreparedEvent,
                        &events.audioDoneEvent}) {
    *event = os.CreateEventA(/*manualReset=*/true, /*initialState=*/false);
    // Without its events the playback threads could neither be released nor
    // stopped: report it like any other start-up failure.
    if (*event == nullptr) ReportFatal(os, kNotEnoughMemoryText);
  }

  activePlayer = &player;
  os.DialogBoxParamA(instance, kDialogTemplate, nullptr, DisplayBoxProc, 0);
  activePlayer = nullptr;
  return 0;
}

}  // namespace clipnote
