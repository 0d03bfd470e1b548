#pragma once

// The player's windows on GTK: a modal dialog built from a dialog template
// (native_windows.cpp), its controls on a GtkFixed at the pixel positions the
// player gives them (native_controls.cpp), the picture layer that DrawDibDraw
// paints, message boxes (message_boxes.cpp), and the window operations of the
// platform interface. Everything here runs on the window thread; GtkPlatform
// carries other threads' calls over.

#include <gtk/gtk.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/gtk/dialog_template.h"
#include "platform/gtk/picture_layer.h"
#include "platform/gtk/program_resources.h"
#include "platform/platform.h"

namespace clipnote::gtk {

class WindowThreadCalls;

// The frame the player's arithmetic assumes around the client area: thin
// borders of one pixel (SM_CXBORDER, SM_CYBORDER), a dialog frame of three
// and a caption. The window manager draws the real frame; this one only makes
// the player's size computation give the client size it gives on Windows.
inline constexpr int kBorderMetric = 1;
inline constexpr int kFrameSide = 3;
inline constexpr int kFrameTop = 3 + 19;
inline constexpr int kFrameBottom = 3;

// Average character of the template's 8-point font, in pixels, for turning
// dialog units into pixels.
inline constexpr int kDialogBaseUnitX = 6;
inline constexpr int kDialogBaseUnitY = 13;

// The title and WM_CLASS of the program's windows, by which another instance
// is found.
inline constexpr char kProgramName[] = "clipnote";
inline constexpr char kProgramClass[] = "Clipnote";

struct WindowRecord;

class NativeWindows {
 public:
  // The logo and icons come from `resources`; `instanceKey` tells this
  // program's windows from those of a player of another message (see
  // GtkPlatform).
  NativeWindows(WindowThreadCalls& calls, const ProgramResources& resources,
                std::string instanceKey = {});
  ~NativeWindows();
  NativeWindows(const NativeWindows&) = delete;
  NativeWindows& operator=(const NativeWindows&) = delete;

  // Opens the display on first use; the calling thread becomes the window
  // thread. False when there is no display.
  bool EnsureDisplay();
  bool HasDisplay() const { return display_; }

  intptr_t RunDialog(const DialogTemplate& dialog, DialogProc procedure, intptr_t initParam);
  bool EndDialog(Hwnd dialog, intptr_t result);
  Hwnd GetDlgItem(Hwnd dialog, int controlId);
  bool MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint);
  bool SetWindowPos(Hwnd window, int x, int y, int width, int height, uint32_t flags);
  bool EnableWindow(Hwnd window, bool enable);
  bool SetWindowText(Hwnd window, const char* text);
  bool InvalidateRect(Hwnd window, const Rect* rect, bool erase);
  bool ShowWindow(Hwnd window, int command);
  bool UpdateWindow(Hwnd window);
  // Delivers a message to a dialog's procedure on this thread (posted
  // messages arrive here through the main loop).
  intptr_t DeliverMessage(Hwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                          bool sent);
  Hicon LoadIcon(int id);
  Hwnd FindWindow(const char* title);
  bool SetForegroundWindow(Hwnd window);
  bool GetWindowRect(Hwnd window, Rect* rect);
  bool GetClientRect(Hwnd window, Rect* rect);
  bool ClientToScreen(Hwnd window, Point* point);
  Hwnd GetDesktopWindow();
  bool IsWindow(Hwnd window);

  // The picture layer of a dialog (the "device context" DrawDib paints), and
  // the request, from any thread, to show what was drawn into it.
  std::shared_ptr<PictureLayer> LayerOf(Hwnd window);
  void RequestRedraw(const std::shared_ptr<PictureLayer>& layer, const Rect& area);

  // A box with an owner keeps the owner from input until it is answered; one
  // without leaves the windows usable. Returns when the box is answered, also
  // to a thread whose call was carried over.
  int MessageBox(Hwnd owner, const char* text, const char* caption, uint32_t type);

 private:
  WindowRecord* Find(Hwnd window);
  void BuildControls(WindowRecord& dialog, const DialogTemplate& source);
  void PlaceControl(WindowRecord& control);
  void ApplyClientSize(WindowRecord& dialog);
  void ApplyPosition(WindowRecord& dialog);
  void SchedulePaint(WindowRecord& dialog);
  void DeliverPaint(WindowRecord& dialog);
  void DestroyDialog(WindowRecord* dialog);

  static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer record);
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer record);
  static void OnButtonClicked(GtkButton*, gpointer record);
  static void OnRealize(GtkWidget* widget, gpointer record);
  static GdkFilterReturn OnNativeEvent(GdkXEvent* native, GdkEvent*, gpointer record);
  static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer record);
  static gboolean OnDrawAfter(GtkWidget*, cairo_t* cr, gpointer record);
  static gboolean OnDrawFrame(GtkWidget* widget, cairo_t* cr, gpointer record);
  static gboolean OnDrawBitmap(GtkWidget* widget, cairo_t* cr, gpointer record);
  static gboolean OnPaintIdle(gpointer record);

  WindowThreadCalls& calls_;
  const ProgramResources& resources_;
  const std::string instanceKey_;
  bool initialised_ = false;
  bool display_ = false;
  std::set<WindowRecord*> records_;
  std::unique_ptr<WindowRecord> desktop_;
  std::vector<std::unique_ptr<WindowRecord>> remotes_;
  int waitedBoxes_ = 0;  // boxes without an owner that another thread waits in
};

}  // namespace clipnote::gtk
