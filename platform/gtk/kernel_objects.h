#pragma once

// Events and threads with the Win32 waiting rules, on the C++ standard library.
//
// Every object is guarded by one mutex and one condition variable: the player
// has a handful of objects and threads, and a single lock makes waits on
// several objects at once (any or all) straightforward. A wait can also serve
// work that other threads hand to the waiting thread (see WaitWork), which is
// how a window thread keeps serving calls into its windows while it waits.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/platform.h"

namespace clipnote::gtk {

// Work that may be handed to a waiting thread. Pending() is asked with the
// kernel lock held; Serve() is called without it.
class WaitWork {
 public:
  virtual ~WaitWork() = default;
  virtual bool Pending() = 0;
  virtual void Serve() = 0;
};

class KernelObjects {
 public:
  KernelObjects() = default;
  KernelObjects(const KernelObjects&) = delete;
  KernelObjects& operator=(const KernelObjects&) = delete;

  Handle CreateEvent(bool manualReset, bool initialState);
  bool SetEvent(Handle event);
  bool ResetEvent(Handle event);

  // The thread runs at once, detached; its handle is signalled when the
  // procedure has returned. Null on failure (errno tells why).
  Handle CreateThread(ThreadProc procedure, void* parameter, uint32_t* threadId);
  bool IsThread(Handle handle);
  bool GetExitCodeThread(Handle thread, uint32_t* exitCode);

  bool CloseHandle(Handle object);

  // WaitForMultipleObjects; with work, also serves it while waiting.
  uint32_t Wait(uint32_t count, const Handle* objects, bool waitAll, uint32_t milliseconds,
                WaitWork* work = nullptr);

  // For WaitWork producers: the lock that Pending() is asked under, and the
  // wake-up of every waiter once new work has been queued.
  std::mutex& Mutex() { return mutex_; }
  std::condition_variable& Changed() { return changed_; }
  void NotifyAll() { changed_.notify_all(); }

 private:
  struct Object {
    bool isThread = false;
    bool manualReset = true;
    bool signalled = false;
    uint32_t exitCode = 0;
  };
  // With the lock held: the object behind a handle, or null.
  std::shared_ptr<Object> Find(Handle handle);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::unordered_map<Handle, std::shared_ptr<Object>> objects_;
  uint32_t nextThreadId_ = 1;
};

}  // namespace clipnote::gtk
