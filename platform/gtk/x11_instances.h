#pragma once

// Finding the window of another running player on the same X display, and
// bringing it forward. This is how a second start finds the first without
// Win32 window classes: by the window's title, among the windows whose
// WM_CLASS is this program's, belonging to another process.

#include <gdk/gdk.h>

#include <cstdint>
#include <optional>
#include <string>

namespace clipnote::gtk {

// The X window id of such a window, or nothing (also on a display that is not X11).
std::optional<unsigned long> FindOtherInstanceWindow(GdkDisplay* display, const std::string& title,
                                                     const std::string& windowClass);

// Raises the window, gives it the input focus and asks the window manager
// (if any) to activate it.
bool BringWindowForward(GdkDisplay* display, unsigned long window);

}  // namespace clipnote::gtk
