#include "platform/gtk/x11_instances.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <unistd.h>

#include <cstring>

namespace clipnote::gtk {

namespace {

// With a window manager, client windows sit inside its frames; a few levels
// down the tree are enough.
constexpr int kSearchDepth = 4;

// The window property holding a player's message key.
constexpr char kKeyProperty[] = "_CLIPNOTE_MESSAGE";

// The window's key (empty for the compiled-in message); none while the window
// is still being made, before its player has marked it.
std::optional<std::string> InstanceKey(Display* x, Window window) {
  const Atom property = XInternAtom(x, kKeyProperty, False);
  Atom type = None;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  std::optional<std::string> key;
  if (XGetWindowProperty(x, window, property, 0, 64, False, XA_STRING, &type, &format, &items,
                         &after, &data) == Success &&
      type == XA_STRING && format == 8) {
    key.emplace(reinterpret_cast<char*>(data), items);
  }
  if (data != nullptr) XFree(data);
  return key;
}

bool HasClass(Display* x, Window window, const std::string& windowClass) {
  XClassHint hint{};
  if (!XGetClassHint(x, window, &hint)) return false;
  const bool matches = hint.res_class != nullptr && windowClass == hint.res_class;
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return matches;
}

bool OwnedByThisProcess(Display* x, Window window) {
  const Atom pidAtom = XInternAtom(x, "_NET_WM_PID", False);
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  bool own = false;
  if (XGetWindowProperty(x, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                         &after, &data) == Success &&
      data != nullptr) {
    own = items == 1 && *reinterpret_cast<unsigned long*>(data) ==
                            static_cast<unsigned long>(getpid());
    XFree(data);
  }
  return own;
}

std::optional<Window> Search(Display* x, Window window, const std::string& windowClass,
                             const std::string& key, int depth) {
  // The key alone tells the message: its title is the caption of the
  // message's own window template, which need not be ours. A window not yet
  // marked is not yet any message's: taking it for one would let two players
  // started together both give way.
  if (HasClass(x, window, windowClass) && !OwnedByThisProcess(x, window) &&
      InstanceKey(x, window) == key) {
    return window;
  }
  if (depth == 0) return std::nullopt;
  Window root, parent;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(x, window, &root, &parent, &children, &count)) return std::nullopt;
  std::optional<Window> result;
  for (unsigned int i = 0; i < count && !result; ++i) {
    result = Search(x, children[i], windowClass, key, depth - 1);
  }
  if (children) XFree(children);
  return result;
}

}  // namespace

std::optional<unsigned long> FindOtherInstanceWindow(GdkDisplay* display,
                                                     const std::string& windowClass,
                                                     const std::string& key) {
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return std::nullopt;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  // Windows may vanish while they are looked at.
  gdk_x11_display_error_trap_push(display);
  const auto found = Search(x, DefaultRootWindow(x), windowClass, key, kSearchDepth);
  gdk_x11_display_error_trap_pop_ignored(display);
  if (!found) return std::nullopt;
  return static_cast<unsigned long>(*found);
}

void MarkInstanceWindow(GdkDisplay* display, unsigned long window, const std::string& key) {
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  XChangeProperty(x, window, XInternAtom(x, kKeyProperty, False), XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(key.data()), static_cast<int>(key.size()));
}

bool BringWindowForward(GdkDisplay* display, unsigned long window) {
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  gdk_x11_display_error_trap_push(display);
  // A window manager activates (and de-iconifies) on request; source 2 says
  // the request comes from the user's side, which window managers honour.
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(x, DefaultRootWindow(x), False, SubstructureRedirectMask | SubstructureNotifyMask,
             &event);
  // Without a window manager nobody answers that: raise and focus directly.
  XMapRaised(x, window);
  XSetInputFocus(x, window, RevertToParent, CurrentTime);
  XSync(x, False);
  return gdk_x11_display_error_trap_pop(display) == 0;
}

}  // namespace clipnote::gtk
