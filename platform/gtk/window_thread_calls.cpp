#include "platform/gtk/window_thread_calls.h"

#include <glib.h>

#include <algorithm>
#include <chrono>

namespace clipnote::gtk {

namespace {

struct CallSource {
  GSource base;
  WindowThreadCalls* calls;
};

gboolean PrepareCalls(GSource* source, gint* timeout) {
  *timeout = -1;
  return reinterpret_cast<CallSource*>(source)->calls->ReadyForMainLoop();
}

gboolean CheckCalls(GSource* source) {
  return reinterpret_cast<CallSource*>(source)->calls->ReadyForMainLoop();
}

gboolean DispatchCalls(GSource* source, GSourceFunc, gpointer) {
  reinterpret_cast<CallSource*>(source)->calls->DispatchFromMainLoop();
  return G_SOURCE_CONTINUE;
}

GSourceFuncs callSourceFuncs = {PrepareCalls, CheckCalls, DispatchCalls, nullptr, nullptr,
                                nullptr};

}  // namespace

WindowThreadCalls::~WindowThreadCalls() {
  if (source_ != nullptr) {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
}

void WindowThreadCalls::BecomeWindowThread() {
  {
    std::lock_guard lock(kernel_.Mutex());
    windowThread_ = std::this_thread::get_id();
    hasWindowThread_ = true;
    if (source_ != nullptr) return;
  }
  GSource* source = g_source_new(&callSourceFuncs, sizeof(CallSource));
  reinterpret_cast<CallSource*>(source)->calls = this;
  // Calls must also be served from the nested loops of modal message boxes.
  g_source_set_can_recurse(source, TRUE);
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_attach(source, nullptr);
  std::lock_guard lock(kernel_.Mutex());
  source_ = source;
}

bool WindowThreadCalls::HasWindowThread() {
  std::lock_guard lock(kernel_.Mutex());
  return hasWindowThread_;
}

bool WindowThreadCalls::OnWindowThread() {
  std::lock_guard lock(kernel_.Mutex());
  return hasWindowThread_ && windowThread_ == std::this_thread::get_id();
}

void WindowThreadCalls::WakeMainLoop() { g_main_context_wakeup(nullptr); }

void WindowThreadCalls::Send(const std::function<void()>& call) {
  std::unique_lock lock(kernel_.Mutex());
  if (!hasWindowThread_ || windowThread_ == std::this_thread::get_id()) {
    lock.unlock();
    call();
    return;
  }
  SentCall entry{&call};
  sent_.push_back(&entry);
  kernel_.NotifyAll();  // a serving wait of the window thread picks it up
  lock.unlock();
  WakeMainLoop();
  lock.lock();
  kernel_.Changed().wait(lock, [&] { return entry.done; });
}

void WindowThreadCalls::Post(std::function<void()> call) {
  {
    std::lock_guard lock(kernel_.Mutex());
    posted_.push_back(std::move(call));
  }
  WakeMainLoop();
}

uint32_t WindowThreadCalls::WaitServing(uint32_t count, const Handle* objects, bool waitAll,
                                        uint32_t milliseconds) {
  if (!OnWindowThread()) return kernel_.Wait(count, objects, waitAll, milliseconds);
  {
    std::lock_guard lock(kernel_.Mutex());
    ++holdPosted_;
  }
  // In slices, so that a message box another thread waits in stays answerable
  // (the thread may be the one waited for). Input to the player's own window
  // meanwhile is posted, so held like any posted message; its paint waits.
  constexpr uint32_t kSliceMs = 10;
  const auto start = std::chrono::steady_clock::now();
  uint32_t result;
  for (;;) {
    uint32_t slice = kSliceMs;
    if (milliseconds != kInfinite) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
      slice = static_cast<uint32_t>(
          std::min<int64_t>(kSliceMs, std::max<int64_t>(0, milliseconds - elapsed)));
    }
    if (!keepResponsive_) slice = milliseconds;
    result = kernel_.Wait(count, objects, waitAll, slice, this);
    if (result != kWaitTimeout || slice == milliseconds || slice == 0) break;
    if (keepResponsive_()) {
      for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
      }
    }
  }
  {
    std::lock_guard lock(kernel_.Mutex());
    --holdPosted_;
  }
  // Messages posted meanwhile are delivered once the main loop runs again.
  WakeMainLoop();
  return result;
}

bool WindowThreadCalls::HoldingPosted() {
  std::lock_guard lock(kernel_.Mutex());
  return holdPosted_ != 0;
}

bool WindowThreadCalls::Pending() { return !sent_.empty(); }

void WindowThreadCalls::Serve() {
  std::unique_lock lock(kernel_.Mutex());
  while (!sent_.empty()) {
    SentCall* entry = sent_.front();
    sent_.pop_front();
    lock.unlock();
    SentCall* outer = serving_;
    serving_ = entry;
    (*entry->call)();
    serving_ = outer;
    lock.lock();
    if (!entry->deferred) entry->done = true;
    kernel_.NotifyAll();
  }
}

std::function<void()> WindowThreadCalls::DeferCompletion() {
  if (serving_ == nullptr || serving_->deferred) return {};
  SentCall* entry = serving_;
  entry->deferred = true;
  // The entry lives on the sending thread's stack until it is done.
  return [this, entry] {
    std::lock_guard lock(kernel_.Mutex());
    entry->done = true;
    kernel_.NotifyAll();
  };
}

bool WindowThreadCalls::ReadyForMainLoop() {
  std::lock_guard lock(kernel_.Mutex());
  return !sent_.empty() || (holdPosted_ == 0 && !posted_.empty());
}

void WindowThreadCalls::DispatchFromMainLoop() {
  Serve();
  std::function<void()> message;
  {
    std::lock_guard lock(kernel_.Mutex());
    if (holdPosted_ != 0 || posted_.empty()) return;
    message = std::move(posted_.front());
    posted_.pop_front();
  }
  // One message per dispatch, so input and drawing interleave with them.
  message();
}

}  // namespace clipnote::gtk
