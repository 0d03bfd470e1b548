#include "app/display_box.h"

#include "app/control_layout.h"
#include "app/playback_control.h"
#include "app/player_main.h"
#include "app/video_presentation.h"
#include "app/audio_track.h"
#include "resources/resource_ids.h"

namespace clipnote {

namespace {

constexpr int kClientWidth = 354;
constexpr int kClientHeight = 317;

void DisableButtons(MessagePlayer& player) {
  player.os.EnableWindow(player.playButton, false);
  player.os.EnableWindow(player.sizeButton, false);
}

void OnInitDialog(MessagePlayer& player, Hwnd window) {
  Platform& os = player.os;
  const Hicon icon = os.LoadIconA(player.instance, MakeIntResource(IDI_PLAYER));
  os.SendMessageA(window, kWmSetIcon, kIconSmall, reinterpret_cast<intptr_t>(icon));
  player.playing = 0;
  player.nativeSize = 1;
  os.ShowWindow(window, kSwHide);
  player.SetWindow(window);
  LayoutWindow(player);
  CentreWindow(os, window);
  OpenDisplay(player);
  StartAudioPreparation(player);
  os.ShowWindow(window, kSwShowNormal);
  os.UpdateWindow(window);
  // The first playback starts without a click.
  os.PostMessageA(window, kWmCommand, kPlayCommand, 0);
}

void OnPlayCommand(MessagePlayer& player, uint16_t notification) {
  if (player.closing) return;
  if (notification == kPlaybackEndedNotification) {
    // A playback that has ended by itself; once stopped, there is nothing to end.
    if (player.playing == 0) return;
    DisableButtons(player);
    Stop(player);
    return;
  }
  DisableButtons(player);
  if (player.playing == 1) {
    Stop(player);
  } else {
    Start(player);
  }
}

void OnSizeCommand(MessagePlayer& player) {
  // Reachable only while idle with video: only Stop enables the button.
  if (player.closing || player.playing == 1 || player.videoAbsent == 1) return;
  Platform& os = player.os;
  DisableButtons(player);
  const bool toDoubled = player.nativeSize == 1;
  player.nativeSize = toDoubled ? 0 : 1;
  os.SetWindowTextA(player.sizeButton, toDoubled ? "QCIF" : "CIF");
  Place(os, player.videoFrame, layout::kFrameSwitch);
  Place(os, player.makerText, layout::kMakerAway);
  Place(os, player.waitText, layout::kWaitShown);
  os.InvalidateRect(player.window, nullptr, true);
  Start(player);
}

void OnPaint(MessagePlayer& player) {
  if (player.playing == 1) return;
  Platform& os = player.os;
  Place(os, player.videoFrame, layout::kFrameIdle);
  Place(os, player.makerText, layout::kMakerIdle);
  Place(os, player.waitText, layout::kWaitParked);
  os.InvalidateRect(player.window, nullptr, true);
}

void OnClose(MessagePlayer& player) {
  player.closing = true;
  if (player.playing == 1) Stop(player);
  // Whatever state the playback is in (also while the speech is still being
  // prepared and no playback runs), every thread ends before anything that it
  // uses goes away.
  EndPlaybackThreads(player);
  CloseDisplay(player);
  player.os.EndDialog(player.window, 1);
}

void OnPaletteMessage(MessagePlayer& player) {
  if (player.os.DrawDibRealize(player.drawDib, player.windowDC, false) != 0) {
    player.os.InvalidateRect(player.window, nullptr, true);
  }
}

}  // namespace

void PostPlaybackEnded(MessagePlayer& player) {
  player.os.PostMessageA(player.window, kWmCommand,
                         MakeCommand(kPlayCommand, kPlaybackEndedNotification), 0);
}

intptr_t DisplayBoxProc(Hwnd window, uint32_t message, uintptr_t wParam, intptr_t /*lParam*/) {
  MessagePlayer& player = ActivePlayer();
  switch (message) {
    case kWmInitDialog:
      OnInitDialog(player, window);
      return 1;
    case kWmCommand: {
      const uint16_t id = LowWord(wParam);
      if (id == kPlayCommand) OnPlayCommand(player, static_cast<uint16_t>(wParam >> 16));
      if (id == kSizeCommand) OnSizeCommand(player);
      return 0;
    }
    case kWmPaint:
      OnPaint(player);
      return 0;
    case kWmClose:
      OnClose(player);
      return 1;
    case kWmQueryNewPalette:
      OnPaletteMessage(player);
      return 0;
    case kWmPaletteChanged:
      if (reinterpret_cast<Hwnd>(wParam) != player.window) OnPaletteMessage(player);
      return 0;
    default:
      return 0;
  }
}

void LayoutWindow(MessagePlayer& player) {
  Platform& os = player.os;
  const Hwnd window = player.window;
  const int borderX = os.GetSystemMetrics(kSmCxBorder);
  const int borderY = os.GetSystemMetrics(kSmCyBorder);
  Rect windowRect;
  os.GetWindowRect(window, &windowRect);
  Rect clientRect;
  os.GetClientRect(window, &clientRect);
  Point clientTop{clientRect.left, clientRect.top};
  os.ClientToScreen(window, &clientTop);
  os.MoveWindow(window, 0, 0, 2 * borderX + kClientWidth,
                2 * borderY + (clientTop.y - windowRect.top) + kClientHeight, true);

  player.playButton = os.GetDlgItem(window, IDC_PLAY_BUTTON);
  Place(os, player.playButton, layout::kPlayButton);
  os.EnableWindow(player.playButton, false);
  player.sizeButton = os.GetDlgItem(window, IDC_SIZE_BUTTON);
  Place(os, player.sizeButton, layout::kSizeButton);
  os.EnableWindow(player.sizeButton, false);
  player.logoStatic = os.GetDlgItem(window, IDC_LOGO);
  Place(os, player.logoStatic, layout::kLogo);
  player.videoFrame = os.GetDlgItem(window, IDC_VIDEO_FRAME);
  Place(os, player.videoFrame, layout::kFrameCreated);
  player.makerText = os.GetDlgItem(window, IDC_MAKER_TEXT);
  Place(os, player.makerText, layout::kMakerCreated);
  player.waitText = os.GetDlgItem(window, IDC_WAIT_TEXT);
  Place(os, player.waitText, layout::kWaitParked);

  os.GetClientRect(window, &player.clientRect);
}

void CentreWindow(Platform& os, Hwnd window) {
  Rect desktop;
  os.GetWindowRect(os.GetDesktopWindow(), &desktop);
  Rect own;
  os.GetWindowRect(window, &own);
  const int x = (desktop.left + desktop.right) / 2 - (own.right - own.left) / 2;
  const int y = (desktop.top + desktop.bottom) / 2 - (own.bottom - own.top) / 2;
  os.SetWindowPos(window, nullptr, x, y, 0, 0, kSwpNoSize | kSwpNoZOrder | kSwpNoActivate);
}

}  // namespace clipnote
