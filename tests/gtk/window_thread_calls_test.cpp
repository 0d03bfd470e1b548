// Events, threads and waits with the Win32 rules, and the window thread that
// keeps serving other threads' calls while it waits (without a display: the
// main loop is GLib's).
#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gtk/kernel_objects.h"
#include "platform/gtk/window_thread_calls.h"

namespace clipnote::gtk {
namespace {

TEST(KernelObjectsTest, EventsAndWaitsFollowTheWin32Rules) {
  KernelObjects kernel;
  Handle manual = kernel.CreateEvent(true, false);
  Handle automatic = kernel.CreateEvent(false, true);
  EXPECT_EQ(kernel.Wait(1, &manual, true, 0), kWaitTimeout);  // a poll
  // An auto-reset event lets one wait through and clears itself.
  EXPECT_EQ(kernel.Wait(1, &automatic, true, 0), kWaitObject0);
  EXPECT_EQ(kernel.Wait(1, &automatic, true, 0), kWaitTimeout);
  // A manual-reset one stays set until it is reset.
  kernel.SetEvent(manual);
  EXPECT_EQ(kernel.Wait(1, &manual, true, 0), kWaitObject0);
  EXPECT_EQ(kernel.Wait(1, &manual, true, 0), kWaitObject0);
  kernel.ResetEvent(manual);
  EXPECT_EQ(kernel.Wait(1, &manual, true, 10), kWaitTimeout);

  // Any: the index of a set one; all: only when every one is set.
  Handle both[] = {manual, automatic};
  kernel.SetEvent(automatic);
  EXPECT_EQ(kernel.Wait(2, both, false, 0), kWaitObject0 + 1);
  kernel.SetEvent(automatic);
  EXPECT_EQ(kernel.Wait(2, both, true, 0), kWaitTimeout);
  EXPECT_EQ(kernel.Wait(1, &automatic, true, 0), kWaitObject0) << "a failed wait-all takes nothing";
  std::thread setter([&] { kernel.SetEvent(manual); });
  kernel.SetEvent(automatic);
  EXPECT_EQ(kernel.Wait(2, both, true, kInfinite), kWaitObject0);
  setter.join();

  EXPECT_TRUE(kernel.CloseHandle(manual));
  EXPECT_EQ(kernel.Wait(1, &manual, true, 0), kWaitFailed);
  EXPECT_FALSE(kernel.SetEvent(manual));
  EXPECT_FALSE(kernel.ResetEvent(manual));
  EXPECT_FALSE(kernel.CloseHandle(manual)) << "closed twice";
  // Waits Win32 refuses: on nothing, on more than 64 objects.
  EXPECT_EQ(kernel.Wait(0, &automatic, false, 0), kWaitFailed);
  const std::vector<Handle> many(65, automatic);
  EXPECT_EQ(kernel.Wait(65, many.data(), false, 0), kWaitFailed);
}

TEST(KernelObjectsTest, ThreadHandleIsSignalledWithItsExitCode) {
  KernelObjects kernel;
  Handle release = kernel.CreateEvent(true, false);
  struct Context {
    KernelObjects* kernel;
    Handle release;
  } context{&kernel, release};
  uint32_t id = 0;
  Handle thread = kernel.CreateThread(
      [](void* p) -> uint32_t {
        auto* c = static_cast<Context*>(p);
        c->kernel->Wait(1, &c->release, true, kInfinite);
        return 102;
      },
      &context, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  uint32_t code = 0;
  EXPECT_FALSE(kernel.GetExitCodeThread(thread, &code)) << "still running";
  // Only its end sets a thread's handle: a Stop waiting for it must not be let through early.
  EXPECT_FALSE(kernel.SetEvent(thread));
  EXPECT_EQ(kernel.Wait(1, &thread, true, 20), kWaitTimeout);
  kernel.SetEvent(release);
  EXPECT_EQ(kernel.Wait(1, &thread, true, kInfinite), kWaitObject0);
  EXPECT_TRUE(kernel.GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 102u);
  EXPECT_FALSE(kernel.ResetEvent(thread));
  EXPECT_EQ(kernel.Wait(1, &thread, true, 0), kWaitObject0);
  EXPECT_FALSE(kernel.GetExitCodeThread(release, &code)) << "an event has no exit code";
}

TEST(WindowThreadCallsTest, WaitingWindowThreadServesSentCallsAndHoldsPostedOnes) {
  KernelObjects kernel;
  WindowThreadCalls calls(kernel);
  calls.BecomeWindowThread();
  ASSERT_TRUE(calls.OnWindowThread());
  Handle done = kernel.CreateEvent(true, false);

  std::vector<std::string> order;  // touched on the window thread only
  std::thread player([&] {
    EXPECT_FALSE(calls.OnWindowThread());
    calls.Post([&] { order.push_back("posted"); });
    // Like a playback thread changing a button while the window thread waits
    // for it: the call runs on the window thread and returns when it has.
    std::thread::id ranOn;
    calls.Send([&] {
      ranOn = std::this_thread::get_id();
      order.push_back("sent");
    });
    EXPECT_NE(ranOn, std::this_thread::get_id());
    kernel.SetEvent(done);
  });
  EXPECT_EQ(calls.WaitServing(1, &done, true, kInfinite), kWaitObject0);
  player.join();
  EXPECT_EQ(order, std::vector<std::string>{"sent"}) << "posted messages wait for the main loop";

  // Back in the main loop, the posted one is delivered.
  for (int i = 0; i < 10 && order.size() < 2; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(order, (std::vector<std::string>{"sent", "posted"}));
}

TEST(WindowThreadCallsTest, MainLoopServesSentCallsFromOtherThreads) {
  KernelObjects kernel;
  WindowThreadCalls calls(kernel);
  calls.BecomeWindowThread();
  std::atomic<int> served{0};
  std::atomic<bool> finished{false};
  std::thread other([&] {
    for (int i = 0; i < 50; ++i) calls.Send([&] { ++served; });
    finished = true;
    calls.Post([] {});  // wakes the loop for the last look at `finished`
  });
  while (!finished) g_main_context_iteration(nullptr, TRUE);
  other.join();
  EXPECT_EQ(served, 50);
}

// A call whose end is deferred (a message box that another thread waits in)
// returns the window thread to its work at once and holds its sender until it
// is completed from the main loop; a serving wait keeps running the main loop
// meanwhile, so the window thread may wait for that very sender, while posted
// messages stay held.
TEST(WindowThreadCallsTest, DeferredCallHoldsItsSenderAndServingWaitsKeepItAnswerable) {
  KernelObjects kernel;
  WindowThreadCalls calls(kernel);
  calls.BecomeWindowThread();
  int open = 0;  // window thread only
  calls.SetKeepResponsive([&] { return open > 0; });
  Handle senderDone = kernel.CreateEvent(true, false);

  std::function<void()> complete;
  std::vector<std::string> order;  // window thread only
  std::thread sender([&] {
    calls.Post([&] { order.push_back("posted"); });
    calls.Send([&] {
      complete = calls.DeferCompletion();
      if (complete) ++open;
      order.push_back("box up");
    });
    kernel.SetEvent(senderDone);
  });
  // The call runs inside this wait and returns; its sender stays held.
  EXPECT_EQ(calls.WaitServing(1, &senderDone, true, 300), kWaitTimeout);
  ASSERT_TRUE(complete) << "a call sent from another thread can be deferred";
  EXPECT_FALSE(calls.DeferCompletion()) << "nothing to defer outside a sent call";

  // The answer comes from the main loop, as a box's does.
  struct Answer {
    std::function<void()>* complete;
    int* open;
    std::vector<std::string>* order;
  } answer{&complete, &open, &order};
  g_timeout_add(
      30,
      [](gpointer data) -> gboolean {
        auto* answer = static_cast<Answer*>(data);
        answer->order->push_back("answered");
        --*answer->open;
        (*answer->complete)();
        return G_SOURCE_REMOVE;
      },
      &answer);
  EXPECT_EQ(calls.WaitServing(1, &senderDone, true, 10000), kWaitObject0)
      << "the serving wait did not keep the deferred call answerable";
  // (Had it not, the answer still comes from the main loop, to free the sender.)
  while (open > 0) g_main_context_iteration(nullptr, TRUE);
  sender.join();
  EXPECT_EQ(order, (std::vector<std::string>{"box up", "answered"}))
      << "posted messages wait for the main loop";
}

}  // namespace
}  // namespace clipnote::gtk
