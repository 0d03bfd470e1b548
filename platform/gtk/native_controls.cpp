// The dialog's controls: buttons, text, the sunken frame and the bitmap,
// built from the template and placed on the client area at pixel positions.

#include <algorithm>
#include <cstring>

#include "platform/gtk/dib_images.h"
#include "platform/gtk/native_windows.h"
#include "platform/gtk/window_record.h"
#include "platform/gtk/window_thread_calls.h"
#include "resources/embedded_resources.h"

namespace clipnote::gtk {

namespace {

constexpr uint16_t kBnClicked = 0;

cairo_surface_t* SurfaceFromRgba(const RgbaImage& image) {
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height);
  cairo_surface_flush(surface);
  uint8_t* pixels = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.height; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(pixels + static_cast<size_t>(y) * stride);
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* in = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 4];
      out[x] = static_cast<uint32_t>(in[0]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[2];
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

}  // namespace

void NativeWindows::BuildControls(WindowRecord& dialog, const DialogTemplate& source) {
  for (const DialogControl& item : source.controls) {
    auto control = std::make_unique<WindowRecord>();
    control->kind = WindowKind::Control;
    control->windows = this;
    control->parent = &dialog;
    control->id = static_cast<int>(item.id);
    control->text = item.text;
    control->rect = DialogUnitsToPixels(item.rect, kDialogBaseUnitX, kDialogBaseUnitY);
    const uint32_t staticType = item.style & kSsTypeMask;
    GtkWidget* widget = nullptr;
    if (item.classAtom == kButtonClassAtom || g_ascii_strcasecmp(item.className.c_str(), "button") == 0) {
      control->controlKind = ControlKind::Button;
      widget = gtk_button_new_with_label(item.text.c_str());
      g_signal_connect(widget, "clicked", G_CALLBACK(OnButtonClicked), control.get());
    } else if (staticType == kSsBitmap) {
      control->controlKind = ControlKind::Bitmap;
      control->centreImage = (item.style & kSsCenterImage) != 0;
      widget = gtk_drawing_area_new();
      if (const EmbeddedResource* found =
              resources_.Find(kResourceTypeBitmap, static_cast<int>(item.textId))) {
        if (auto image = ReadDibBitmap(found->data, found->size)) {
          control->bitmap = SurfaceFromRgba(*image);
          if (image->width > 0 && image->height > 0) {
            for (int c = 0; c < 3; ++c) control->fill[c] = image->pixels[c] / 255.0;
          }
        }
      }
      g_signal_connect(widget, "draw", G_CALLBACK(OnDrawBitmap), control.get());
    } else if (staticType == kSsBlackFrame) {
      control->controlKind = ControlKind::Frame;
      widget = gtk_drawing_area_new();
      g_signal_connect(widget, "draw", G_CALLBACK(OnDrawFrame), control.get());
    } else {
      control->controlKind = ControlKind::Text;
      widget = gtk_label_new(item.text.c_str());
      const bool centred = (item.style & 0x3) == kSsCenter;
      gtk_label_set_justify(GTK_LABEL(widget), centred ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
      gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
      gtk_label_set_xalign(GTK_LABEL(widget), centred ? 0.5f : 0.0f);
      // SS_CENTERIMAGE centres a single line vertically; text starts at the top otherwise.
      gtk_label_set_yalign(GTK_LABEL(widget), (item.style & kSsCenterImage) ? 0.5f : 0.0f);
    }
    control->widget = widget;
    gtk_fixed_put(GTK_FIXED(dialog.area), widget, control->rect.x, control->rect.y);
    gtk_widget_set_size_request(widget, control->rect.width, control->rect.height);
    gtk_widget_set_sensitive(widget, (item.style & kWsDisabled) == 0);
    gtk_widget_set_visible(widget, (item.style & kWsVisible) != 0);
    records_.insert(control.get());
    dialog.controls.push_back(std::move(control));
  }
}

void NativeWindows::PlaceControl(WindowRecord& control) {
  if (control.parent == nullptr || control.parent->area == nullptr) return;
  gtk_fixed_move(GTK_FIXED(control.parent->area), control.widget, control.rect.x,
                 control.rect.y);
  gtk_widget_set_size_request(control.widget, std::max(control.rect.width, 0),
                              std::max(control.rect.height, 0));
}

void NativeWindows::OnButtonClicked(GtkButton*, gpointer data) {
  auto* control = static_cast<WindowRecord*>(data);
  NativeWindows* windows = control->windows;
  WindowRecord* dialog = control->parent;
  const uintptr_t wParam = static_cast<uint16_t>(control->id) |
                           static_cast<uintptr_t>(kBnClicked) << 16;
  windows->calls_.Post([windows, dialog, control, wParam] {
    windows->DeliverMessage(AsHwnd(dialog), kWmCommand, wParam,
                            reinterpret_cast<intptr_t>(control), false);
  });
}

gboolean NativeWindows::OnDrawFrame(GtkWidget* widget, cairo_t* cr, gpointer) {
  // A sunken frame: a dark upper-left and a light lower-right edge, two pixels
  // wide, then a black line inside.
  const double w = gtk_widget_get_allocated_width(widget);
  const double h = gtk_widget_get_allocated_height(widget);
  cairo_set_line_width(cr, 1);
  auto edge = [&](double inset, double r1, double g1, double b1, double r2, double g2,
                  double b2) {
    const double a = inset + 0.5;
    cairo_set_source_rgb(cr, r1, g1, b1);
    cairo_move_to(cr, a, h - a);
    cairo_line_to(cr, a, a);
    cairo_line_to(cr, w - a, a);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, r2, g2, b2);
    cairo_move_to(cr, w - a, a);
    cairo_line_to(cr, w - a, h - a);
    cairo_line_to(cr, a, h - a);
    cairo_stroke(cr);
  };
  edge(0, 0.5, 0.5, 0.5, 1, 1, 1);
  edge(1, 0.25, 0.25, 0.25, 0.85, 0.85, 0.85);
  edge(2, 0, 0, 0, 0, 0, 0);
  return TRUE;
}

gboolean NativeWindows::OnDrawBitmap(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto* control = static_cast<WindowRecord*>(data);
  if (control->bitmap == nullptr) return TRUE;
  // At its own size, cut to the control; centred, on the colour of its
  // top-left pixel, when SS_CENTERIMAGE asks for it, as Win32 draws it.
  const int w = gtk_widget_get_allocated_width(widget);
  const int h = gtk_widget_get_allocated_height(widget);
  const int bw = cairo_image_surface_get_width(control->bitmap);
  const int bh = cairo_image_surface_get_height(control->bitmap);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_clip(cr);
  int x = 0, y = 0;
  if (control->centreImage) {
    cairo_set_source_rgb(cr, control->fill[0], control->fill[1], control->fill[2]);
    cairo_paint(cr);
    x = (w - bw) / 2;
    y = (h - bh) / 2;
  }
  cairo_set_source_surface(cr, control->bitmap, x, y);
  cairo_paint(cr);
  return TRUE;
}

}  // namespace clipnote::gtk
