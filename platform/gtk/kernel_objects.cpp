#include "platform/gtk/kernel_objects.h"

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

namespace clipnote::gtk {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::shared_ptr<KernelObjects::Object> KernelObjects::Find(Handle handle) {
  const auto found = objects_.find(handle);
  if (found == objects_.end()) return nullptr;
  return found->second;
}

Handle KernelObjects::CreateEvent(bool manualReset, bool initialState) {
  auto object = std::make_shared<Object>();
  object->manualReset = manualReset;
  object->signalled = initialState;
  const auto handle = reinterpret_cast<Handle>(object.get());
  std::lock_guard lock(mutex_);
  objects_[handle] = std::move(object);
  return handle;
}

bool KernelObjects::SetEvent(Handle event) {
  std::lock_guard lock(mutex_);
  const auto object = Find(event);
  if (object == nullptr || object->isThread) {
    errno = EBADF;
    return false;
  }
  object->signalled = true;
  changed_.notify_all();
  return true;
}

bool KernelObjects::ResetEvent(Handle event) {
  std::lock_guard lock(mutex_);
  const auto object = Find(event);
  if (object == nullptr || object->isThread) {
    errno = EBADF;
    return false;
  }
  object->signalled = false;
  return true;
}

Handle KernelObjects::CreateThread(ThreadProc procedure, void* parameter, uint32_t* threadId) {
  auto object = std::make_shared<Object>();
  object->isThread = true;
  const auto handle = reinterpret_cast<Handle>(object.get());
  uint32_t id;
  {
    std::lock_guard lock(mutex_);
    objects_[handle] = object;
    id = nextThreadId_++;
  }
  try {
    // The thread keeps its own reference, so closing the handle early is safe.
    std::thread([this, object, procedure, parameter] {
      const uint32_t code = procedure(parameter);
      std::lock_guard lock(mutex_);
      object->exitCode = code;
      object->signalled = true;
      changed_.notify_all();
    }).detach();
  } catch (const std::system_error& failure) {
    std::lock_guard lock(mutex_);
    objects_.erase(handle);
    errno = failure.code().value() != 0 ? failure.code().value() : EAGAIN;
    return nullptr;
  }
  if (threadId != nullptr) *threadId = id;
  return handle;
}

bool KernelObjects::IsThread(Handle handle) {
  std::lock_guard lock(mutex_);
  const auto object = Find(handle);
  return object != nullptr && object->isThread;
}

bool KernelObjects::GetExitCodeThread(Handle thread, uint32_t* exitCode) {
  std::lock_guard lock(mutex_);
  const auto object = Find(thread);
  if (object == nullptr || !object->isThread) {
    errno = EBADF;
    return false;
  }
  if (!object->signalled) return false;
  *exitCode = object->exitCode;
  return true;
}

bool KernelObjects::CloseHandle(Handle object) {
  std::lock_guard lock(mutex_);
  if (objects_.erase(object) == 0) {
    errno = EBADF;
    return false;
  }
  return true;
}

uint32_t KernelObjects::Wait(uint32_t count, const Handle* handles, bool waitAll,
                             uint32_t milliseconds, WaitWork* work) {
  if (count == 0 || count > 64 || handles == nullptr) {
    errno = EINVAL;
    return kWaitFailed;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(mutex_);
  std::vector<std::shared_ptr<Object>> objects;
  objects.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    auto object = Find(handles[i]);
    if (object == nullptr) {
      errno = EBADF;
      return kWaitFailed;
    }
    objects.push_back(std::move(object));
  }

  for (;;) {
    if (waitAll) {
      bool all = true;
      for (const auto& object : objects) all = all && object->signalled;
      if (all) {
        for (const auto& object : objects) {
          if (!object->isThread && !object->manualReset) object->signalled = false;
        }
        return kWaitObject0;
      }
    } else {
      for (uint32_t i = 0; i < count; ++i) {
        if (objects[i]->signalled) {
          if (!objects[i]->isThread && !objects[i]->manualReset) objects[i]->signalled = false;
          return kWaitObject0 + i;
        }
      }
    }
    if (work != nullptr && work->Pending()) {
      lock.unlock();
      work->Serve();
      lock.lock();
      continue;
    }
    // A poll (the speech preparation asks before every frame) answers at once instead of
    // going through the condition variable, which costs a system call each time.
    if (milliseconds == 0) return kWaitTimeout;
    if (milliseconds == kInfinite) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      // One last look: the objects may have been set just as the time ran out.
      bool ready = waitAll;
      for (const auto& object : objects) {
        ready = waitAll ? ready && object->signalled : ready || object->signalled;
      }
      if (!ready) return kWaitTimeout;
    }
  }
}

}  // namespace clipnote::gtk
