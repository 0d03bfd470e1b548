#pragma once

// Calls that other threads make into the window thread's windows.
//
// GTK may only be used from the thread that runs its main loop (the window
// thread, the one that opened the display). A call from another thread is
// queued here and carried out by the window thread: at once from the main
// loop, and also while the window thread is blocked in a serving wait
// (MsgWaitForMultipleObjects), so a playback thread that changes a button
// never waits on a window thread that waits on it. Sent calls return when
// they have run; posted ones (window messages) return at once and are
// delivered by the main loop only, never inside a serving wait, so the window
// procedure is not re-entered while it waits.

#include <glib.h>

#include <deque>
#include <functional>
#include <thread>

#include "platform/gtk/kernel_objects.h"

namespace clipnote::gtk {

class WindowThreadCalls : public WaitWork {
 public:
  explicit WindowThreadCalls(KernelObjects& kernel) : kernel_(kernel) {}
  ~WindowThreadCalls();
  WindowThreadCalls(const WindowThreadCalls&) = delete;
  WindowThreadCalls& operator=(const WindowThreadCalls&) = delete;

  // The calling thread serves the calls from now on; queued calls are
  // delivered by GLib's default main context, which it iterates.
  void BecomeWindowThread();
  bool HasWindowThread();
  bool OnWindowThread();

  // Runs call on the window thread and returns once it has run; on the window
  // thread itself (or before there is one) it runs at once.
  void Send(const std::function<void()>& call);
  // Queues call for the window thread's main loop and returns at once.
  void Post(std::function<void()> call);

  // A wait of the window thread that keeps serving sent calls, and holds
  // posted ones back until it ends. While keepResponsive (below) says so, it
  // also runs the main loop's other work now and then.
  uint32_t WaitServing(uint32_t count, const Handle* objects, bool waitAll,
                       uint32_t milliseconds);

  // Asked by serving waits, on the window thread: whether windows that other
  // threads wait on (a message box a thread is blocked in) must keep taking
  // input while the window thread waits. Set once, before other threads run.
  void SetKeepResponsive(std::function<bool()> keepResponsive) {
    keepResponsive_ = std::move(keepResponsive);
  }

  // From inside a call that another thread sent: lets that call end later.
  // The window thread goes back to its work at once; the sending thread stays
  // blocked until the returned completion is run (once, on the window
  // thread). Empty when the running call was not sent by another thread.
  std::function<void()> DeferCompletion();

  // True while the window thread is inside a serving wait.
  bool HoldingPosted();

  // WaitWork, with the kernel lock held / released.
  bool Pending() override;
  void Serve() override;

  // For the main-loop source.
  bool ReadyForMainLoop();
  void DispatchFromMainLoop();

 private:
  struct SentCall {
    const std::function<void()>* call;
    bool done = false;
    bool deferred = false;
  };
  void WakeMainLoop();

  KernelObjects& kernel_;
  std::thread::id windowThread_;
  bool hasWindowThread_ = false;
  GSource* source_ = nullptr;
  int holdPosted_ = 0;  // serving waits in progress on the window thread
  std::deque<SentCall*> sent_;
  SentCall* serving_ = nullptr;  // the sent call running now (window thread only)
  std::function<bool()> keepResponsive_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace clipnote::gtk
