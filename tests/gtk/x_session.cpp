#include "gtk/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace clipnote::gtk::testing {

void SleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// --- X client ----------------------------------------------------------------------

XClient::XClient(const std::string& display) { display_ = XOpenDisplay(display.c_str()); }

XClient::~XClient() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

namespace {

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

std::optional<std::string> TitleOf(Display* x, Window window) {
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(x, window, XInternAtom(x, "_NET_WM_NAME", False), 0, 1024, False,
                         XInternAtom(x, "UTF8_STRING", False), &type, &format, &items, &after,
                         &data) == Success &&
      data != nullptr) {
    std::string title(reinterpret_cast<char*>(data), items);
    XFree(data);
    return title;
  }
  char* name = nullptr;
  if (XFetchName(x, window, &name) && name != nullptr) {
    std::string title(name);
    XFree(name);
    return title;
  }
  return std::nullopt;
}

std::optional<Window> Search(Display* x, Window window, const std::string& title, int depth) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(x, window, &attributes) && attributes.map_state == IsViewable) {
    if (auto found = TitleOf(x, window); found && *found == title) return window;
  }
  if (depth == 0) return std::nullopt;
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(x, window, &root, &parent, &children, &count)) return std::nullopt;
  std::optional<Window> result;
  for (unsigned int i = 0; i < count && !result; ++i) {
    result = Search(x, children[i], title, depth - 1);
  }
  if (children) XFree(children);
  return result;
}

}  // namespace

std::optional<Window> XClient::FindWindow(const std::string& title) {
  XSetErrorHandler(IgnoreErrors);
  return Search(display_, DefaultRootWindow(display_), title, 3);
}

std::optional<Window> XClient::WaitForWindow(const std::string& title, int milliseconds) {
  std::optional<Window> found;
  WaitUntil([&] { return (found = FindWindow(title)).has_value(); }, milliseconds);
  return found;
}

bool XClient::WaitForNoWindow(const std::string& title, int milliseconds) {
  return WaitUntil([&] { return !FindWindow(title).has_value(); }, milliseconds);
}

std::optional<XClient::Geometry> XClient::GeometryOf(Window window) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display_, window, &attributes)) return std::nullopt;
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
  return Geometry{x, y, attributes.width, attributes.height};
}

std::vector<uint32_t> XClient::Grab(Window window, int x, int y, int width, int height) {
  std::vector<uint32_t> pixels;
  XImage* image = XGetImage(display_, window, x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return pixels;
  pixels.reserve(static_cast<size_t>(width) * height);
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      pixels.push_back(static_cast<uint32_t>(XGetPixel(image, column, row)) & 0xFFFFFF);
    }
  }
  XDestroyImage(image);
  return pixels;
}

void XClient::Click(Window window, int x, int y) {
  auto where = GeometryOf(window);
  if (!where) return;
  XTestFakeMotionEvent(display_, DefaultScreen(display_), where->rootX + x, where->rootY + y,
                       CurrentTime);
  XSync(display_, False);
  SleepMs(50);
  XTestFakeButtonEvent(display_, 1, True, CurrentTime);
  XSync(display_, False);
  SleepMs(50);
  XTestFakeButtonEvent(display_, 1, False, CurrentTime);
  XSync(display_, False);
}

void XClient::PressKey(Window window, unsigned long keysym) {
  auto where = GeometryOf(window);
  if (!where) return;
  XTestFakeMotionEvent(display_, DefaultScreen(display_), where->rootX + where->width / 2,
                       where->rootY + where->height / 2, CurrentTime);
  XSetInputFocus(display_, window, RevertToParent, CurrentTime);
  XSync(display_, False);
  SleepMs(50);
  const KeyCode code = XKeysymToKeycode(display_, keysym);
  XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, False, CurrentTime);
  XSync(display_, False);
}

void XClient::AskToClose(Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

std::vector<unsigned long> XClient::Property32(Window window, const char* name) {
  std::vector<unsigned long> items;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display_, window, XInternAtom(display_, name, False), 0, 1 << 16, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    if (format == 32) {
      const auto* values = reinterpret_cast<const unsigned long*>(data);
      items.assign(values, values + count);
    }
    XFree(data);
  }
  return items;
}

Window XClient::CreateCoveringWindow(int x, int y, int width, int height) {
  const int screen = DefaultScreen(display_);
  Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y,
                                      static_cast<unsigned>(width), static_cast<unsigned>(height),
                                      0, BlackPixel(display_, screen), WhitePixel(display_, screen));
  XMapRaised(display_, window);
  XSync(display_, False);
  return window;
}

void XClient::DestroyWindow(Window window) {
  XDestroyWindow(display_, window);
  XSync(display_, False);
}

std::vector<Window> XClient::StackingOrder() {
  std::vector<Window> order;
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
    order.assign(children, children + count);
    if (children) XFree(children);
  }
  return order;
}

}  // namespace clipnote::gtk::testing
