#pragma once

// Finding the window of another running player on the same X display, and
// bringing it forward. This is how a second start finds the first without
// Win32 window classes: among the windows whose WM_CLASS is this program's,
// belonging to another process, by the key every player marks its window
// with: the key of the message given on the command line, empty for the
// compiled-in message. So a player finds (and is found by) players of the
// same message only, whatever caption that message's window template gives.

#include <gdk/gdk.h>

#include <cstdint>
#include <optional>
#include <string>

namespace clipnote::gtk {

// The X window id of such a window marked with the same key, or nothing
// (also on a display that is not X11).
std::optional<unsigned long> FindOtherInstanceWindow(GdkDisplay* display,
                                                     const std::string& windowClass,
                                                     const std::string& key = {});

// Marks a window of this program with a message's key.
void MarkInstanceWindow(GdkDisplay* display, unsigned long window, const std::string& key);

// Raises the window, gives it the input focus and asks the window manager
// (if any) to activate it.
bool BringWindowForward(GdkDisplay* display, unsigned long window);

}  // namespace clipnote::gtk
