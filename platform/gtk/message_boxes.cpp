// Message boxes. As on Win32, a box with an owner keeps its owner from input
// until it is answered; a box without one (the warnings and reports that the
// preparation and playback threads raise) leaves every other window usable.
// The thread that raised a box waits until it is answered either way.

#include <cstdio>
#include <functional>

#include "platform/gtk/native_windows.h"
#include "platform/gtk/window_record.h"
#include "platform/gtk/window_thread_calls.h"

namespace clipnote::gtk {

namespace {

constexpr int kIdOk = 1;

// The icon part of a message box's type.
constexpr uint32_t kMbIconMask = 0x000000F0;
constexpr uint32_t kMbIconQuestion = 0x00000020;
constexpr uint32_t kMbIconInformation = 0x00000040;

GtkMessageType KindOf(uint32_t type) {
  switch (type & kMbIconMask) {
    case kMbIconError: return GTK_MESSAGE_ERROR;
    case kMbIconQuestion: return GTK_MESSAGE_QUESTION;
    case kMbIconWarning: return GTK_MESSAGE_WARNING;
    case kMbIconInformation: return GTK_MESSAGE_INFO;
    default: return GTK_MESSAGE_OTHER;
  }
}

// A box answered while another thread waits in it.
struct WaitedBox {
  int* open;
  std::function<void()> answered;
};

void OnWaitedBoxResponse(GtkDialog* box, gint, gpointer data) {
  auto* waited = static_cast<WaitedBox*>(data);
  std::function<void()> answered = std::move(waited->answered);
  --*waited->open;
  gtk_widget_destroy(GTK_WIDGET(box));  // frees `waited`
  if (answered) answered();
}

void EndRunBox(gpointer loop) {
  if (g_main_loop_is_running(static_cast<GMainLoop*>(loop))) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
  }
}
void OnRunBoxResponse(GtkDialog*, gint, gpointer loop) { EndRunBox(loop); }
void OnRunBoxDestroyed(GtkWidget*, gpointer loop) { EndRunBox(loop); }

}  // namespace

int NativeWindows::MessageBox(Hwnd owner, const char* text, const char* caption, uint32_t type) {
  if (text == nullptr) text = "";
  if (caption == nullptr) caption = "Error";
  if (!EnsureDisplay()) {
    // Without a display the report still reaches whoever started the program.
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return kIdOk;
  }
  GtkWindow* parent = nullptr;
  if (WindowRecord* record = Find(owner)) {
    if (record->kind == WindowKind::Control) record = record->parent;
    if (record->kind == WindowKind::Dialog && record->widget != nullptr) {
      parent = GTK_WINDOW(record->widget);
    }
  }
  GtkWidget* box =
      gtk_message_dialog_new(parent, parent != nullptr ? GTK_DIALOG_MODAL : GtkDialogFlags{},
                             KindOf(type), GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(box), caption);
  gtk_window_set_position(GTK_WINDOW(box),
                          parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  if (type & kMbSetForeground) gtk_window_set_urgency_hint(GTK_WINDOW(box), TRUE);

  if (parent == nullptr) {
    // Raised by another thread: that thread waits for the answer, the window
    // thread goes back to its windows (on Win32 the box would run on the
    // raising thread). Serving waits keep the box answerable, since the
    // window thread may be waiting for that very thread.
    if (std::function<void()> answered = calls_.DeferCompletion()) {
      ++waitedBoxes_;
      g_signal_connect_data(
          box, "response", G_CALLBACK(OnWaitedBoxResponse),
          new WaitedBox{&waitedBoxes_, std::move(answered)},
          [](gpointer data, GClosure*) { delete static_cast<WaitedBox*>(data); }, GConnectFlags{});
      gtk_widget_show(box);
      if (type & kMbSetForeground) gtk_window_present(GTK_WINDOW(box));
      return kIdOk;
    }
  }

  // Raised by the window thread itself: the box runs its own loop here, in
  // which the window's messages go on being delivered.
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  const gulong response = g_signal_connect(box, "response", G_CALLBACK(OnRunBoxResponse), loop);
  const gulong destroyed =
      g_signal_connect(box, "destroy", G_CALLBACK(OnRunBoxDestroyed), loop);
  gtk_widget_show(box);
  if (type & kMbSetForeground) gtk_window_present(GTK_WINDOW(box));
  g_main_loop_run(loop);
  g_signal_handler_disconnect(box, response);
  g_signal_handler_disconnect(box, destroyed);
  gtk_widget_destroy(box);
  g_main_loop_unref(loop);
  return kIdOk;
}

}  // namespace clipnote::gtk
