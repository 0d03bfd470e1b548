#include "platform/gtk/native_windows.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include "platform/gtk/dib_images.h"
#include "platform/gtk/window_record.h"
#include "platform/gtk/window_thread_calls.h"
#include "platform/gtk/x11_instances.h"
#include "resources/embedded_resources.h"

namespace clipnote::gtk {

// ---------------------------------------------------------------------------
// The client area: a GtkFixed whose size is the client size the player sets,
// whatever its children do. Controls moved outside it (which is how the player
// hides them) are then simply not seen, and never make the window grow.

namespace {

struct ClientArea {
  GtkFixed parent;
  int width;
  int height;
};

struct ClientAreaClass {
  GtkFixedClass parentClass;
};

void ClientAreaPreferredWidth(GtkWidget* widget, gint* minimum, gint* natural) {
  *minimum = *natural = reinterpret_cast<ClientArea*>(widget)->width;
}

void ClientAreaPreferredHeight(GtkWidget* widget, gint* minimum, gint* natural) {
  *minimum = *natural = reinterpret_cast<ClientArea*>(widget)->height;
}

void ClientAreaClassInit(gpointer klass, gpointer) {
  GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
  widgetClass->get_preferred_width = ClientAreaPreferredWidth;
  widgetClass->get_preferred_height = ClientAreaPreferredHeight;
}

GType ClientAreaType() {
  static GType type = g_type_register_static_simple(
      GTK_TYPE_FIXED, "ClipnoteClientArea", sizeof(ClientAreaClass), ClientAreaClassInit,
      sizeof(ClientArea), nullptr, static_cast<GTypeFlags>(0));
  return type;
}

GtkWidget* NewClientArea(int width, int height) {
  auto* widget = GTK_WIDGET(g_object_new(ClientAreaType(), nullptr));
  auto* area = reinterpret_cast<ClientArea*>(widget);
  area->width = width;
  area->height = height;
  return widget;
}

constexpr int kSwpNoMove = 0x0002;

const char kPlayerCss[] =
    ".clipnote-player { font-family: Sans; font-size: 8pt; }\n"
    ".clipnote-player button { padding: 0; min-height: 0; min-width: 0; }\n";

GdkPixbuf* PixbufFromRgba(const RgbaImage& image) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
  if (pixbuf == nullptr) return nullptr;
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < image.height; ++y) {
    std::memcpy(pixels + static_cast<size_t>(y) * stride,
                &image.pixels[static_cast<size_t>(y) * image.width * 4],
                static_cast<size_t>(image.width) * 4);
  }
  return pixbuf;
}

GdkPixbuf* PixbufFromPng(const uint8_t* data, size_t size) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GdkPixbuf* pixbuf = nullptr;
  if (gdk_pixbuf_loader_write(loader, data, size, nullptr) &&
      gdk_pixbuf_loader_close(loader, nullptr)) {
    pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf) g_object_ref(pixbuf);
  } else {
    gdk_pixbuf_loader_close(loader, nullptr);
  }
  g_object_unref(loader);
  return pixbuf;
}

}  // namespace

namespace {

struct IconRecord {
  GList* pixbufs = nullptr;
};

// Icons are shared and live as long as the process, as Win32's loaded icons.
std::map<int, IconRecord*>& LoadedIcons() {
  static std::map<int, IconRecord*> icons;
  return icons;
}

}  // namespace

NativeWindows::NativeWindows(WindowThreadCalls& calls, const ProgramResources& resources,
                             std::string instanceKey)
    : calls_(calls), resources_(resources), instanceKey_(std::move(instanceKey)) {
  calls_.SetKeepResponsive([this] { return waitedBoxes_ > 0; });
  desktop_ = std::make_unique<WindowRecord>();
  desktop_->kind = WindowKind::Desktop;
  desktop_->windows = this;
}

NativeWindows::~NativeWindows() = default;

bool NativeWindows::EnsureDisplay() {
  if (initialised_) return display_;
  initialised_ = true;
  if (g_get_prgname() == nullptr) g_set_prgname(kProgramName);
  gdk_set_program_class(kProgramClass);
  // X11 first (also through XWayland): there a window can be placed where the
  // player puts it, and another instance can be found by its title.
  gdk_set_allowed_backends("x11,*");
  // The pictures are drawn without OpenGL; GDK would otherwise load and query
  // the GL driver at start-up, a good part of the time to the first picture.
  // (Whoever sets GDK_GL themselves keeps their choice.)
  g_setenv("GDK_GL", "disable", FALSE);
  display_ = gtk_init_check(nullptr, nullptr);
  calls_.BecomeWindowThread();
  if (display_) {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kPlayerCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
  }
  return display_;
}

WindowRecord* NativeWindows::Find(Hwnd window) {
  auto* record = reinterpret_cast<WindowRecord*>(window);
  if (record == nullptr) return nullptr;
  if (record == desktop_.get() || records_.count(record) != 0) return record;
  for (const auto& remote : remotes_) {
    if (remote.get() == record) return record;
  }
  return nullptr;
}

bool NativeWindows::IsWindow(Hwnd window) { return Find(window) != nullptr; }

// --- Building and running a dialog -------------------------------------------

intptr_t NativeWindows::RunDialog(const DialogTemplate& source, DialogProc procedure,
                                  intptr_t initParam) {
  if (!EnsureDisplay()) {
    std::fprintf(stderr,
                 "clipnote: cannot open a display, so the player window cannot be shown.\n"
                 "Set DISPLAY to a running X server, or run it on a virtual one:\n"
                 "  xvfb-run -a <path to clipnote>\n");
    errno = ENXIO;
    return -1;
  }
  auto owned = std::make_unique<WindowRecord>();
  WindowRecord* dialog = owned.get();
  dialog->kind = WindowKind::Dialog;
  dialog->windows = this;
  dialog->procedure = procedure;
  dialog->text = source.caption;
  const DialogRect pixels = DialogUnitsToPixels(source.rect, kDialogBaseUnitX, kDialogBaseUnitY);
  dialog->x = pixels.x;
  dialog->y = pixels.y;
  dialog->clientWidth = std::max(pixels.width, 1);
  dialog->clientHeight = std::max(pixels.height, 1);
  dialog->layer = std::make_shared<PictureLayer>(dialog->clientWidth, dialog->clientHeight);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  dialog->widget = window;
  gtk_window_set_title(GTK_WINDOW(window), source.caption.c_str());
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  // Positions name the client area's corner, wherever the frame goes.
  gtk_window_set_gravity(GTK_WINDOW(window), GDK_GRAVITY_STATIC);
  gtk_style_context_add_class(gtk_widget_get_style_context(window), "clipnote-player");
  dialog->area = NewClientArea(dialog->clientWidth, dialog->clientHeight);
  gtk_container_add(GTK_CONTAINER(window), dialog->area);
  gtk_widget_show(dialog->area);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), dialog);
  // Another program destroyed the window under us: it is closed, as if asked.
  g_signal_connect(window, "destroy-event", G_CALLBACK(OnDeleteEvent), dialog);
  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), dialog);
  g_signal_connect(window, "realize", G_CALLBACK(OnRealize), dialog);
  g_signal_connect(window, "window-state-event", G_CALLBACK(OnWindowState), dialog);
  g_signal_connect_after(dialog->area, "draw", G_CALLBACK(OnDrawAfter), dialog);
  records_.insert(dialog);
  BuildControls(*dialog, source);

  procedure(AsHwnd(dialog), kWmInitDialog, 0, initParam);
  if (!dialog->ended) {
    // A modal dialog is shown once initialised, whether or not its template says so.
    if (!gtk_widget_get_visible(window)) ShowWindow(AsHwnd(dialog), kSwShowNormal);
    dialog->loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(dialog->loop);
    g_main_loop_unref(dialog->loop);
    dialog->loop = nullptr;
  }
  const intptr_t result = dialog->result;
  DestroyDialog(dialog);
  owned.reset();
  return result;
}

void NativeWindows::DestroyDialog(WindowRecord* dialog) {
  if (dialog->paintSource != 0) g_source_remove(dialog->paintSource);
  dialog->paintSource = 0;
  for (const auto& control : dialog->controls) records_.erase(control.get());
  records_.erase(dialog);
  gtk_widget_destroy(dialog->widget);
  dialog->widget = nullptr;
  dialog->area = nullptr;
}

bool NativeWindows::EndDialog(Hwnd window, intptr_t result) {
  WindowRecord* dialog = Find(window);
  if (dialog == nullptr || dialog->kind != WindowKind::Dialog) return false;
  dialog->ended = true;
  dialog->result = result;
  if (dialog->loop != nullptr) g_main_loop_quit(dialog->loop);
  return true;
}

Hwnd NativeWindows::GetDlgItem(Hwnd window, int controlId) {
  WindowRecord* dialog = Find(window);
  if (dialog == nullptr || dialog->kind != WindowKind::Dialog) return nullptr;
  for (const auto& control : dialog->controls) {
    if (control->id == controlId) return AsHwnd(control.get());
  }
  return nullptr;
}

// --- Messages ------------------------------------------------------------------

intptr_t NativeWindows::DeliverMessage(Hwnd window, uint32_t message, uintptr_t wParam,
                                       intptr_t lParam, bool sent) {
  WindowRecord* dialog = Find(window);
  if (dialog == nullptr || dialog->kind != WindowKind::Dialog || dialog->procedure == nullptr) {
    return 0;
  }
  // A dialog that has ended takes no more posted messages.
  if (!sent && dialog->ended) return 0;
  const intptr_t handled = dialog->procedure(window, message, wParam, lParam);
  if (sent && handled == 0 && message == kWmSetIcon && dialog->widget != nullptr) {
    auto* icon = reinterpret_cast<IconRecord*>(lParam);
    if (icon != nullptr) gtk_window_set_icon_list(GTK_WINDOW(dialog->widget), icon->pixbufs);
  }
  return 0;
}

gboolean NativeWindows::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  auto* dialog = static_cast<WindowRecord*>(data);
  // The close button asks; the dialog procedure decides (and ends the dialog).
  NativeWindows* windows = dialog->windows;
  windows->calls_.Post([windows, dialog] {
    windows->DeliverMessage(AsHwnd(dialog), kWmClose, 0, 0, false);
  });
  return TRUE;
}

gboolean NativeWindows::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  // Escape in a dialog is the cancel command; it never closes this window by
  // itself (the player ignores the command).
  auto* dialog = static_cast<WindowRecord*>(data);
  NativeWindows* windows = dialog->windows;
  windows->calls_.Post([windows, dialog] {
    windows->DeliverMessage(AsHwnd(dialog), kWmCommand, kIdCancel, 0, false);
  });
  return TRUE;
}


// --- Painting ------------------------------------------------------------------
//
// The dialog procedure sees kWmPaint when the window has become visible or was
// invalidated from outside a paint, as a Win32 window gets WM_PAINT for an
// update region. What the procedure itself invalidates while it paints is
// drawn but does not ask for another kWmPaint, so a procedure that moves its
// controls and invalidates in every paint does not loop.

void NativeWindows::SchedulePaint(WindowRecord& dialog) {
  dialog.paintPending = true;
  if (dialog.paintSource == 0) {
    // After posted messages, before GTK draws the window.
    dialog.paintSource =
        g_idle_add_full(G_PRIORITY_HIGH_IDLE + 10, OnPaintIdle, &dialog, nullptr);
  }
}

gboolean NativeWindows::OnPaintIdle(gpointer data) {
  auto* dialog = static_cast<WindowRecord*>(data);
  dialog->paintSource = 0;
  dialog->windows->DeliverPaint(*dialog);
  return G_SOURCE_REMOVE;
}

void NativeWindows::DeliverPaint(WindowRecord& dialog) {
  if (!dialog.paintPending || dialog.ended || dialog.widget == nullptr ||
      !gtk_widget_get_visible(dialog.widget)) {
    return;
  }
  if (calls_.HoldingPosted()) {
    // The window thread waits in a serving wait (a message box is up inside
    // it): the procedure gets its paint when the wait is over.
    dialog.paintSource = g_timeout_add(20, OnPaintIdle, &dialog);
    return;
  }
  dialog.paintPending = false;
  dialog.inPaint = true;
  DeliverMessage(AsHwnd(&dialog), kWmPaint, 0, 0, true);
  dialog.inPaint = false;
}

void NativeWindows::OnRealize(GtkWidget* widget, gpointer data) {
  GdkWindow* window = gtk_widget_get_window(widget);
  if (window != nullptr && GDK_IS_X11_WINDOW(window)) {
    gdk_window_add_filter(window, OnNativeEvent, data);
    const std::string& key = static_cast<WindowRecord*>(data)->windows->instanceKey_;
    // Every player marks its window, the compiled-in message's with an empty key.
    MarkInstanceWindow(gdk_window_get_display(window), GDK_WINDOW_XID(window), key);
  }
}

GdkFilterReturn NativeWindows::OnNativeEvent(GdkXEvent* native, GdkEvent*, gpointer data) {
  // The X server asks for a part of the window to be drawn again (it was
  // covered, or has just been mapped): that is a paint for the procedure, as
  // an update region is on Windows. GDK goes on to redraw it as usual.
  //
  // Showing the window already asked for its paint (and UpdateWindow may
  // have delivered it at once, as on Windows). The exposure that follows
  // the mapping is that same update, not a new one: were it delivered again,
  // a playback that has drawn its picture and ended in the meantime would
  // see its picture erased by an idle paint.
  const auto* event = static_cast<XEvent*>(native);
  auto* dialog = static_cast<WindowRecord*>(data);
  if (event->type == MapNotify) {
    dialog->mapExposureCovered = !dialog->paintPending;
  } else if (event->type == Expose) {
    if (dialog->mapExposureCovered) {
      if (event->xexpose.count == 0) dialog->mapExposureCovered = false;
    } else if (event->xexpose.count == 0) {
      dialog->windows->SchedulePaint(*dialog);
    }
  }
  return GDK_FILTER_CONTINUE;
}

gboolean NativeWindows::OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
  // Restored from being minimised: the whole window is shown again.
  if ((event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) != 0 &&
      (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) == 0) {
    auto* dialog = static_cast<WindowRecord*>(data);
    dialog->windows->SchedulePaint(*dialog);
  }
  return FALSE;
}

gboolean NativeWindows::OnDrawAfter(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* dialog = static_cast<WindowRecord*>(data);
  dialog->layer->Paint(cr);
  return FALSE;
}



std::shared_ptr<PictureLayer> NativeWindows::LayerOf(Hwnd window) {
  WindowRecord* record = Find(window);
  if (record == nullptr) return nullptr;
  if (record->kind == WindowKind::Control) record = record->parent;
  return record->kind == WindowKind::Dialog ? record->layer : nullptr;
}

void NativeWindows::RequestRedraw(const std::shared_ptr<PictureLayer>& layer, const Rect& area) {
  if (!layer->AddDirty(area)) return;  // a redraw is already on its way
  struct Request {
    NativeWindows* windows;
    std::shared_ptr<PictureLayer> layer;
  };
  auto* request = new Request{this, layer};
  g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      [](gpointer data) -> gboolean {
        auto* request = static_cast<Request*>(data);
        const Rect dirty = request->layer->TakeDirty();
        for (WindowRecord* record : request->windows->records_) {
          if (record->kind == WindowKind::Dialog && record->layer == request->layer &&
              record->area != nullptr) {
            gtk_widget_queue_draw_area(record->area, dirty.left, dirty.top,
                                       dirty.right - dirty.left, dirty.bottom - dirty.top);
          }
        }
        return G_SOURCE_REMOVE;
      },
      request, [](gpointer data) { delete static_cast<Request*>(data); });
}

// --- Geometry -------------------------------------------------------------------


void NativeWindows::ApplyClientSize(WindowRecord& dialog) {
  auto* area = reinterpret_cast<ClientArea*>(dialog.area);
  if (area->width == dialog.clientWidth && area->height == dialog.clientHeight) return;
  area->width = dialog.clientWidth;
  area->height = dialog.clientHeight;
  dialog.layer->Resize(dialog.clientWidth, dialog.clientHeight);
  gtk_widget_queue_resize(dialog.area);
}

void NativeWindows::ApplyPosition(WindowRecord& dialog) {
  gtk_window_move(GTK_WINDOW(dialog.widget), dialog.x + kFrameSide, dialog.y + kFrameTop);
}

bool NativeWindows::MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint) {
  WindowRecord* record = Find(window);
  if (record == nullptr) return false;
  if (record->kind == WindowKind::Dialog) {
    record->x = x;
    record->y = y;
    record->clientWidth = std::max(width - 2 * kFrameSide, 1);
    record->clientHeight = std::max(height - kFrameTop - kFrameBottom, 1);
    ApplyClientSize(*record);
    ApplyPosition(*record);
    return true;
  }
  if (record->kind != WindowKind::Control) return false;
  const DialogRect old = record->rect;
  record->rect = {x, y, width, height};
  PlaceControl(*record);
  if (repaint) {
    // What the control uncovers is drawn afresh: the picture there goes.
    const Rect uncovered{old.x, old.y, old.x + old.width, old.y + old.height};
    record->parent->layer->Erase(&uncovered);
    gtk_widget_queue_draw(record->parent->area);
  }
  return true;
}

bool NativeWindows::SetWindowPos(Hwnd window, int x, int y, int width, int height,
                                 uint32_t flags) {
  WindowRecord* record = Find(window);
  if (record == nullptr) return false;
  Rect now;
  GetWindowRect(window, &now);
  if (record->kind == WindowKind::Control) {
    now = {record->rect.x, record->rect.y, record->rect.x + record->rect.width,
           record->rect.y + record->rect.height};
  }
  if (flags & kSwpNoMove) {
    x = now.left;
    y = now.top;
  }
  if (flags & kSwpNoSize) {
    width = now.right - now.left;
    height = now.bottom - now.top;
  }
  return MoveWindow(window, x, y, width, height, true);
}

bool NativeWindows::GetWindowRect(Hwnd window, Rect* rect) {
  WindowRecord* record = Find(window);
  if (record == nullptr || rect == nullptr) return false;
  switch (record->kind) {
    case WindowKind::Dialog:
      *rect = {record->x, record->y, record->x + record->clientWidth + 2 * kFrameSide,
               record->y + record->clientHeight + kFrameTop + kFrameBottom};
      return true;
    case WindowKind::Control: {
      Point corner{record->rect.x, record->rect.y};
      ClientToScreen(AsHwnd(record->parent), &corner);
      *rect = {corner.x, corner.y, corner.x + record->rect.width, corner.y + record->rect.height};
      return true;
    }
    case WindowKind::Desktop: {
      GdkRectangle area{0, 0, 640, 480};
      if (display_) {
        GdkDisplay* display = gdk_display_get_default();
        GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
        if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
        if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &area);
      }
      *rect = {area.x, area.y, area.x + area.width, area.y + area.height};
      return true;
    }
    case WindowKind::Remote:
      return false;
  }
  return false;
}

bool NativeWindows::GetClientRect(Hwnd window, Rect* rect) {
  WindowRecord* record = Find(window);
  if (record == nullptr || rect == nullptr) return false;
  switch (record->kind) {
    case WindowKind::Dialog:
      *rect = {0, 0, record->clientWidth, record->clientHeight};
      return true;
    case WindowKind::Control:
      *rect = {0, 0, record->rect.width, record->rect.height};
      return true;
    case WindowKind::Desktop: {
      Rect screen;
      GetWindowRect(window, &screen);
      *rect = {0, 0, screen.right - screen.left, screen.bottom - screen.top};
      return true;
    }
    case WindowKind::Remote:
      return false;
  }
  return false;
}

bool NativeWindows::ClientToScreen(Hwnd window, Point* point) {
  WindowRecord* record = Find(window);
  if (record == nullptr || point == nullptr) return false;
  if (record->kind == WindowKind::Dialog) {
    point->x += record->x + kFrameSide;
    point->y += record->y + kFrameTop;
    return true;
  }
  if (record->kind == WindowKind::Control) {
    point->x += record->rect.x;
    point->y += record->rect.y;
    return ClientToScreen(AsHwnd(record->parent), point);
  }
  return record->kind == WindowKind::Desktop;
}

Hwnd NativeWindows::GetDesktopWindow() { return AsHwnd(desktop_.get()); }

// --- State and text -------------------------------------------------------------

bool NativeWindows::EnableWindow(Hwnd window, bool enable) {
  WindowRecord* record = Find(window);
  if (record == nullptr || record->widget == nullptr) return false;
  gtk_widget_set_sensitive(record->widget, enable);
  return true;
}

bool NativeWindows::SetWindowText(Hwnd window, const char* text) {
  WindowRecord* record = Find(window);
  if (record == nullptr || record->widget == nullptr) return false;
  record->text = text != nullptr ? text : "";
  if (record->kind == WindowKind::Dialog) {
    gtk_window_set_title(GTK_WINDOW(record->widget), record->text.c_str());
  } else if (record->controlKind == ControlKind::Button) {
    gtk_button_set_label(GTK_BUTTON(record->widget), record->text.c_str());
  } else if (record->controlKind == ControlKind::Text) {
    gtk_label_set_text(GTK_LABEL(record->widget), record->text.c_str());
  }
  return true;
}

bool NativeWindows::InvalidateRect(Hwnd window, const Rect* rect, bool erase) {
  WindowRecord* record = Find(window);
  if (record == nullptr || record->widget == nullptr) return false;
  if (record->kind == WindowKind::Control) {
    gtk_widget_queue_draw(record->widget);
    return true;
  }
  if (record->kind != WindowKind::Dialog) return false;
  if (erase) record->layer->Erase(rect);
  if (rect != nullptr) {
    gtk_widget_queue_draw_area(record->area, rect->left, rect->top, rect->right - rect->left,
                               rect->bottom - rect->top);
  } else {
    gtk_widget_queue_draw(record->area);
  }
  if (!record->inPaint) SchedulePaint(*record);
  return true;
}

bool NativeWindows::ShowWindow(Hwnd window, int command) {
  WindowRecord* record = Find(window);
  if (record == nullptr || record->widget == nullptr) return false;
  const bool wasVisible = gtk_widget_get_visible(record->widget);
  if (command == kSwHide) {
    gtk_widget_hide(record->widget);
    return wasVisible;
  }
  if (record->kind == WindowKind::Dialog) {
    ApplyPosition(*record);
    gtk_widget_show(record->widget);
    SchedulePaint(*record);
  } else {
    gtk_widget_show(record->widget);
  }
  return wasVisible;
}

bool NativeWindows::UpdateWindow(Hwnd window) {
  WindowRecord* record = Find(window);
  if (record == nullptr) return false;
  if (record->kind == WindowKind::Dialog && record->paintPending) {
    if (record->paintSource != 0) g_source_remove(record->paintSource);
    record->paintSource = 0;
    DeliverPaint(*record);
  }
  return true;
}

// --- Icons, other instances, message boxes ----------------------------------------

Hicon NativeWindows::LoadIcon(int id) {
  auto& icons = LoadedIcons();
  if (const auto found = icons.find(id); found != icons.end()) {
    return reinterpret_cast<Hicon>(found->second);
  }
  const EmbeddedResource* group = resources_.Find(kResourceTypeGroupIcon, id);
  if (group == nullptr) return nullptr;
  GList* pixbufs = nullptr;
  for (uint16_t imageId : IconGroupImageIds(group->data, group->size)) {
    const EmbeddedResource* image = resources_.Find(kResourceTypeIcon, imageId);
    if (image == nullptr) continue;
    GdkPixbuf* pixbuf = nullptr;
    if (image->size >= 8 && std::memcmp(image->data, "\x89PNG", 4) == 0) {
      if (EnsureDisplay()) pixbuf = PixbufFromPng(image->data, image->size);
    } else if (auto rgba = ReadDibIcon(image->data, image->size)) {
      pixbuf = PixbufFromRgba(*rgba);
    }
    if (pixbuf != nullptr) pixbufs = g_list_append(pixbufs, pixbuf);
  }
  if (pixbufs == nullptr) return nullptr;
  auto* icon = new IconRecord{pixbufs};
  icons[id] = icon;
  return reinterpret_cast<Hicon>(icon);
}

Hwnd NativeWindows::FindWindow(const char* title) {
  if (title == nullptr) return nullptr;
  for (WindowRecord* record : records_) {
    if (record->kind == WindowKind::Dialog && !record->ended && record->text == title) {
      return AsHwnd(record);
    }
  }
  if (!EnsureDisplay()) return nullptr;
  // Another player's window is found by its message, not by its title.
  const auto xid = FindOtherInstanceWindow(gdk_display_get_default(), kProgramClass, instanceKey_);
  if (!xid) return nullptr;
  for (const auto& remote : remotes_) {
    if (remote->xid == *xid) return AsHwnd(remote.get());
  }
  auto remote = std::make_unique<WindowRecord>();
  remote->kind = WindowKind::Remote;
  remote->windows = this;
  remote->xid = *xid;
  remote->text = title;
  remotes_.push_back(std::move(remote));
  return AsHwnd(remotes_.back().get());
}

bool NativeWindows::SetForegroundWindow(Hwnd window) {
  WindowRecord* record = Find(window);
  if (record == nullptr) return false;
  if (record->kind == WindowKind::Remote) {
    return BringWindowForward(gdk_display_get_default(), record->xid);
  }
  if (record->kind == WindowKind::Control) record = record->parent;
  if (record->kind != WindowKind::Dialog || record->widget == nullptr) return false;
  gtk_window_present(GTK_WINDOW(record->widget));
  return true;
}


}  // namespace clipnote::gtk
