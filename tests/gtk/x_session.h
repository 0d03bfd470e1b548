#pragma once

// Test helpers for running windows for real: the X requests a user's actions
// and eyes stand for (find a window by title, read its pixels, click, press a
// key, close it as a window manager would).

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace clipnote::gtk::testing {

// A private X server and programs run on it come from the shared test support.
using support::XvfbServer;
using Program = support::Process;

// One client connection to a display, with what tests do through it.
class XClient {
 public:
  explicit XClient(const std::string& display);
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool Connected() const { return display_ != nullptr; }
  Display* Raw() const { return display_; }

  // Top-level windows (children of the root, or of a frame) by title.
  std::optional<Window> FindWindow(const std::string& title);
  std::optional<Window> WaitForWindow(const std::string& title, int milliseconds);
  bool WaitForNoWindow(const std::string& title, int milliseconds);

  struct Geometry {
    int rootX, rootY, width, height;
  };
  std::optional<Geometry> GeometryOf(Window window);

  // Pixels of a rectangle of the window as 0xRRGGBB, row by row (what is on
  // the screen there, as the X server composes it).
  std::vector<uint32_t> Grab(Window window, int x, int y, int width, int height);

  // A left click at a point of the window, and a key pressed with the
  // pointer over it, as the XTest extension makes them.
  void Click(Window window, int x, int y);
  void PressKey(Window window, unsigned long keysym);
  // What a window manager's close button does: WM_DELETE_WINDOW.
  void AskToClose(Window window);

  // The 32-bit items of a window property (empty when it has none).
  std::vector<unsigned long> Property32(Window window, const char* name);

  // A plain window of its own, mapped and on top, covering the rectangle.
  Window CreateCoveringWindow(int x, int y, int width, int height);
  void DestroyWindow(Window window);
  // The top-level windows in stacking order, bottom first.
  std::vector<Window> StackingOrder();

 private:
  Display* display_ = nullptr;
};

// Sleeps in small steps until the condition holds or the time is up.
template <typename Condition>
bool WaitUntil(Condition condition, int milliseconds);

void SleepMs(int milliseconds);

template <typename Condition>
bool WaitUntil(Condition condition, int milliseconds) {
  for (int waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= milliseconds) return false;
    SleepMs(20);
  }
}

}  // namespace clipnote::gtk::testing
