#pragma once

// What the native backend keeps for each window handle it gives out: the
// player's dialogs, their controls, the desktop and windows of another
// instance. Shared by the window, its controls and the message boxes; used on
// the window thread only.

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/dialog_template.h"
#include "platform/gtk/picture_layer.h"
#include "platform/platform.h"

namespace clipnote::gtk {

class NativeWindows;

enum class WindowKind { Dialog, Control, Desktop, Remote };
enum class ControlKind { Button, Text, Frame, Bitmap };

struct WindowRecord {
  WindowKind kind;
  NativeWindows* windows = nullptr;
  GtkWidget* widget = nullptr;  // the toplevel of a dialog, the control's widget
  std::string text;

  // Dialogs.
  GtkWidget* area = nullptr;
  DialogProc procedure = nullptr;
  GMainLoop* loop = nullptr;
  bool ended = false;
  intptr_t result = 0;
  int x = 0, y = 0;  // the window rectangle's corner on the screen
  int clientWidth = 0, clientHeight = 0;
  bool paintPending = false;
  bool inPaint = false;
  // The window was painted as it was shown, before the X server mapped it:
  // the exposure that comes with the mapping asks for nothing more.
  bool mapExposureCovered = false;
  guint paintSource = 0;
  std::shared_ptr<PictureLayer> layer;
  std::vector<std::unique_ptr<WindowRecord>> controls;

  // Controls.
  WindowRecord* parent = nullptr;
  int id = 0;
  ControlKind controlKind = ControlKind::Text;
  DialogRect rect;  // pixels, in the parent's client area
  cairo_surface_t* bitmap = nullptr;
  // SS_CENTERIMAGE: the bitmap is centred, and what it leaves of the control
  // takes the colour of its top-left pixel (cairo RGB, 0 to 1).
  bool centreImage = false;
  double fill[3] = {0, 0, 0};

  // Windows of another instance.
  unsigned long xid = 0;

  ~WindowRecord() {
    if (bitmap != nullptr) cairo_surface_destroy(bitmap);
  }
};

inline Hwnd AsHwnd(WindowRecord* record) { return reinterpret_cast<Hwnd>(record); }

}  // namespace clipnote::gtk
