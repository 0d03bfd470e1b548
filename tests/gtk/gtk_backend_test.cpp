// The GTK backend in this process, on a private X server: the player's window
// built from its template, the window-thread rule (other threads' calls carried
// out by the window thread, also while it waits), posted messages, the paint
// that must not loop, and pictures drawn from another thread reaching the
// screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gtk/x_session.h"
#include "platform/gtk/gtk_platform.h"
#include "platform/gtk/native_windows.h"
#include "resources/embedded_resources.h"
#include "resources/resource_ids.h"

// GTK and its libraries keep what they allocate for the life of the process;
// a leak check at exit would report all of it.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }

namespace clipnote::gtk {
namespace {

using testing::SleepMs;
using testing::WaitUntil;
using testing::XClient;
using testing::XvfbServer;

constexpr uint32_t kCheckCommand = 2000;

// GTK opens its display once per process: one server for all of this file's tests.
const char* SharedDisplay() {
  static XvfbServer* server = [] {
    auto* started = new XvfbServer;
    if (!started->Start()) {
      delete started;
      return static_cast<XvfbServer*>(nullptr);
    }
    setenv("DISPLAY", started->Name().c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus to look for
    return started;
  }();
  return server ? server->Name().c_str() : nullptr;
}

struct Scenario {
  GtkPlatform* os = nullptr;
  Hwnd dialog = nullptr;
  Handle done = nullptr;
  Hdc dc = nullptr;
  std::vector<std::string> log;  // window thread only
  int paints = 0;
  bool playing = false;
  std::thread worker;
  std::thread checker;
  bool pictureSeen = false;
  bool buttonDisabled = false;
  std::vector<uint8_t> image = std::vector<uint8_t>(176 * 144 * 3);
};
Scenario* scenario = nullptr;

void WorkerBody(Scenario& s) {
  Platform& os = *s.os;
  const Hwnd play = os.GetDlgItem(s.dialog, IDC_PLAY_BUTTON);
  // Each of these waits until the window thread has carried it out, and the
  // window thread is itself waiting for this thread.
  EXPECT_TRUE(os.SetWindowTextA(play, "Stop"));
  EXPECT_TRUE(os.EnableWindow(play, false));
  EXPECT_TRUE(os.MoveWindow(os.GetDlgItem(s.dialog, IDC_WAIT_TEXT), 398, 120, 154, 28, false));
  os.PostMessageA(s.dialog, kWmCommand, 1234, 0);
  BitmapInfoHeader header{40, 176, 144, 1, 24, kBiRgb, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < s.image.size(); i += 3) {
    s.image[i] = 0x30;      // blue
    s.image[i + 1] = 0x60;  // green
    s.image[i + 2] = 0x90;  // red
  }
  EXPECT_TRUE(os.DrawDibDraw(reinterpret_cast<Hdrawdib>(1), s.dc, 20, 30, -1, -1, &header,
                             s.image.data(), 0, 0, 176, 144, kDdfSameHdc | kDdfSameDraw));
  os.SetEvent(s.done);
}

intptr_t TestDialogProc(Hwnd window, uint32_t message, uintptr_t wParam, intptr_t) {
  Scenario& s = *scenario;
  Platform& os = *s.os;
  switch (message) {
    case kWmInitDialog: {
      s.dialog = window;
      s.log.push_back("init");
      // The player's own layout arithmetic.
      Rect windowRect, client;
      os.GetWindowRect(window, &windowRect);
      os.GetClientRect(window, &client);
      Point top{client.left, client.top};
      os.ClientToScreen(window, &top);
      os.MoveWindow(window, 0, 0, 2 * os.GetSystemMetrics(kSmCxBorder) + 354,
                    2 * os.GetSystemMetrics(kSmCyBorder) + (top.y - windowRect.top) + 317, true);
      os.GetClientRect(window, &client);
      EXPECT_EQ(client.right, 350);
      EXPECT_EQ(client.bottom, 316);
      for (int id : {IDC_PLAY_BUTTON, IDC_MAKER_TEXT, IDC_SIZE_BUTTON, IDC_LOGO, IDC_VIDEO_FRAME,
                     IDC_WAIT_TEXT}) {
        EXPECT_NE(os.GetDlgItem(window, id), nullptr) << id;
      }
      EXPECT_EQ(os.GetDlgItem(window, 999), nullptr);
      os.MoveWindow(os.GetDlgItem(window, IDC_PLAY_BUTTON), 0, 289, 44, 28, true);
      s.dc = os.GetDC(window);
      EXPECT_NE(s.dc, nullptr);
      os.ShowWindow(window, kSwShowNormal);
      os.UpdateWindow(window);  // paints at once
      os.PostMessageA(window, kWmCommand, 1000, 0);
      return 1;
    }
    case kWmPaint:
      ++s.paints;
      if (s.paints == 1) s.log.push_back("paint");
      if (s.playing) return 0;
      // As the player's idle paint does: move a control, invalidate everything.
      os.MoveWindow(os.GetDlgItem(window, IDC_MAKER_TEXT), 56, 34, 238, 218, true);
      os.InvalidateRect(window, nullptr, true);
      return 0;
    case kWmCommand:
      if (LowWord(wParam) == 1000) {
        s.log.push_back("command");
        s.playing = true;
        s.worker = std::thread(WorkerBody, std::ref(s));
        EXPECT_EQ(os.MsgWaitForMultipleObjects(1, &s.done, true, kInfinite), kWaitObject0);
        s.log.push_back("waited");
        s.worker.join();
        os.PostMessageA(window, kWmCommand, kCheckCommand, 0);
      } else if (LowWord(wParam) == 1234) {
        s.log.push_back("posted by the worker");
      } else if (LowWord(wParam) == kCheckCommand) {
        // Look at the screen from another thread while the main loop runs.
        s.checker = std::thread([&s, window] {
          XClient x(getenv("DISPLAY"));
          const auto found = x.WaitForWindow("Tarvany Clipnote Player", 10000);
          ASSERT_TRUE(found);
          s.pictureSeen = WaitUntil(
              [&] {
                const auto pixels = x.Grab(*found, 20, 30, 176, 144);
                return !pixels.empty() &&
                       std::all_of(pixels.begin(), pixels.end(),
                                   [](uint32_t p) { return p == 0x906030; });
              },
              5000);
          s.os->PostMessageA(window, kWmClose, 0, 0);
        });
      } else if (LowWord(wParam) == kIdCancel) {
        s.log.push_back("cancel");
      }
      return 0;
    case kWmClose:
      s.log.push_back("close");
      s.checker.join();
      os.ReleaseDC(window, s.dc);
      os.EndDialog(window, 7);
      return 1;
    default:
      return 0;
  }
}

TEST(GtkBackendTest, WindowThreadServesOtherThreadsWhileItWaitsAndPicturesReachTheScreen) {
  if (SharedDisplay() == nullptr) {
    CLIPNOTE_SKIP_UNLESS_CI("no Xvfb");
  }
  if (FindEmbeddedResource(kResourceTypeDialog, "DISPLAYBOX") == nullptr) {
    CLIPNOTE_SKIP_UNLESS_CI("built without the resource compiler");
  }
  GtkPlatform os;
  Scenario s;
  s.os = &os;
  s.done = os.CreateEventA(true, false);
  scenario = &s;
  EXPECT_EQ(os.DialogBoxParamA(nullptr, "DISPLAYBOX", nullptr, TestDialogProc, 0), 7);
  scenario = nullptr;

  EXPECT_TRUE(s.pictureSeen) << "the picture drawn from another thread never reached the screen";
  const std::vector<std::string> expected{"init", "paint", "command", "waited",
                                          "posted by the worker", "close"};
  EXPECT_EQ(s.log, expected);
  // Moving controls and invalidating from within the paint asks for no more paints.
  EXPECT_LE(s.paints, 2);
}

TEST(GtkBackendTest, MessageBoxNeedsNoWindowAndFindWindowSeesOnlyLiveDialogs) {
  if (SharedDisplay() == nullptr) {
    CLIPNOTE_SKIP_UNLESS_CI("no Xvfb");
  }
  GtkPlatform os;
  EXPECT_EQ(os.FindWindowA(MakeIntResource(kDialogClassAtom), "Tarvany Clipnote Player"), nullptr);
  std::thread answer([] {
    XClient x(getenv("DISPLAY"));
    const auto box = x.WaitForWindow("Audio only", 10000);
    ASSERT_TRUE(box);
    x.PressKey(*box, 0xff0d);  // Return
  });
  EXPECT_EQ(os.MessageBoxA(nullptr, "This message contains audio only!", "Audio only",
                           kMbIconWarning | kMbSetForeground),
            1);
  answer.join();
}

TEST(GtkBackendTest, FormatMessageGivesTheCLibraryTextOfTheLastError) {
  GtkPlatform os;
  errno = ENOMEM;
  const uint32_t error = os.GetLastError();
  EXPECT_EQ(error, static_cast<uint32_t>(ENOMEM));
  char* text = nullptr;
  const uint32_t length = os.FormatMessageA(
      kFormatMessageFromSystem | kFormatMessageIgnoreInserts | kFormatMessageAllocateBuffer,
      nullptr, error, kLangNeutralSublangDefault, reinterpret_cast<char*>(&text), 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, length), std::strerror(ENOMEM));
  EXPECT_EQ(os.LocalFree(text), nullptr);
}

}  // namespace
}  // namespace clipnote::gtk
