#include "fake_platform/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake_platform/block_cache.h"
#include "fake_platform/kept_threads.h"

namespace clipnote::testing {

namespace {

constexpr uint32_t kStillActive = 259;
constexpr uint32_t kAbandonedExitCode = 0xDEAD;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorResourceNotFound = 1813;

int32_t Since(uint32_t now, uint32_t then) { return static_cast<int32_t>(now - then); }

std::string KeyOf(const char* nameOrId) {
  if (IsIntResource(nameOrId)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(nameOrId));
  std::string key(nameOrId);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

SoundRecord MakeSound(SoundRecord::Kind kind, uint32_t time, uint32_t flags) {
  SoundRecord record;
  record.kind = kind;
  record.time = time;
  record.flags = flags;
  return record;
}

uint32_t Read32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

uint64_t HashBytes(const uint8_t* bytes, size_t count) {
  uint64_t hash = 1469598103934665603ULL;
  for (size_t i = 0; i < count; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ULL;
  }
  return hash;
}

struct FakePlatform::KernelObject {
  enum Kind { kEvent, kThread } kind;
  bool signalled = false;
  bool manualReset = true;
  uint32_t exitCode = kStillActive;
  int priority = kThreadPriorityNormal;
  std::thread::id runner;  // a thread's
  size_t eventNumber = 0;  // an event's place in creation order, from 1
};

struct FakePlatform::Participant {
  std::condition_variable wake;  // told only when this thread may go on (see Changed)
  bool blocked = false;
  bool servesSent = false;  // the window thread, waiting where it serves sent calls
  std::function<bool()> ready;
  std::optional<uint32_t> deadline;
};

struct FakePlatform::Resource {
  std::unique_ptr<uint8_t[]> storage;  // never null, also for an empty resource
  size_t size = 0;
};

FakePlatform::FakePlatform(uint32_t startTime) : now_(startTime), start_(startTime) {
  participants_[std::this_thread::get_id()] = std::make_unique<Participant>();
}

FakePlatform::~FakePlatform() {
  {
    Lock lock(mutex_);
    exiting_ = true;
    Changed();
  }
  WaitForThreadsBut(std::thread::id{});
  for (auto& [block, size] : globalBlocks_) GiveBackBlock(block, size);
  for (void* block : localBlocks_) delete[] static_cast<char*>(block);
}

void FakePlatform::EndAllThreads() {
  {
    Lock lock(mutex_);
    exiting_ = true;
    Changed();
  }
  WaitForThreadsBut(std::this_thread::get_id());
}

void FakePlatform::WaitForThreadsBut(std::thread::id caller) {
  Lock lock(mutex_);
  changed_.wait(lock, [&] {
    return std::all_of(objects_.begin(), objects_.end(), [&](const auto& object) {
      return object->kind != KernelObject::kThread || object->signalled || object->runner == caller;
    });
  });
}

// ---- Scheduling --------------------------------------------------------------

FakePlatform::Participant* FakePlatform::Self() {
  auto found = participants_.find(std::this_thread::get_id());
  return found == participants_.end() ? nullptr : found->second.get();
}

void FakePlatform::CheckAlive() {
  if (exiting_) throw FakeAbandon{};
}

void FakePlatform::GiveUp(std::string reason) {
  if (!gaveUp_) {
    std::fprintf(stderr, "fake platform: %s\n", reason.c_str());
    gaveUp_ = std::move(reason);
  }
  deadlocked_ = true;
  exiting_ = true;
  Changed();
  throw FakeAbandon{};
}

bool FakePlatform::EveryoneBlocked() {
  if (advancing_) return false;
  for (auto& [id, participant] : participants_) {
    if (!participant->blocked) return false;
    if (participant->ready && participant->ready()) return false;
    if (participant->deadline && Since(now_, *participant->deadline) >= 0) return false;
  }
  return true;
}

void FakePlatform::RunAction(Lock& lock, std::function<void()> action) {
  advancing_ = true;
  lock.unlock();
  try {
    action();
  } catch (...) {
    lock.lock();
    advancing_ = false;
    throw;
  }
  lock.lock();
  advancing_ = false;
  Changed();
}

bool FakePlatform::Advance(Lock& lock) {
  std::optional<int32_t> step;
  for (auto& [id, participant] : participants_) {
    if (!participant->deadline) continue;
    const int32_t left = Since(*participant->deadline, now_);
    if (!step || left < *step) step = left;
  }
  // A timed action due no later than the nearest deadline runs first.
  auto timed = timedActions_.end();
  for (auto it = timedActions_.begin(); it != timedActions_.end(); ++it) {
    if (timed == timedActions_.end() || Since(it->first, timed->first) < 0) timed = it;
  }
  if (timed != timedActions_.end() && (!step || Since(timed->first, now_) <= *step)) {
    if (Since(timed->first, now_) > 0) now_ = timed->first;
    std::function<void()> action = std::move(timed->second);
    timedActions_.erase(timed);
    RunAction(lock, std::move(action));
    return true;
  }
  if (step) {
    if (now_ + static_cast<uint32_t>(std::max(*step, 0)) - start_ > kVirtualTimeLimit) {
      GiveUp("the virtual clock ran past an hour without the run settling (at " +
             std::to_string(now_ - start_) + " ms); calls so far: " +
             std::to_string(calls_.size()));
    }
    now_ += static_cast<uint32_t>(std::max(*step, 0));
    Changed();
    return true;
  }
  if (!idleActions_.empty()) {
    std::function<void()> action = std::move(idleActions_.front());
    idleActions_.pop_front();
    RunAction(lock, std::move(action));
    return true;
  }
  deadlocked_ = true;
  exiting_ = true;
  Changed();
  throw FakeAbandon{};
}

bool FakePlatform::Block(Lock& lock, const std::function<bool()>& ready,
                         std::optional<uint32_t> deadline, bool servesSent) {
  Participant* self = Self();
  struct Unblock {
    Participant* self;
    ~Unblock() {
      if (self != nullptr) {
        self->blocked = false;
        self->servesSent = false;
        self->ready = nullptr;
        self->deadline.reset();
      }
    }
  } unblock{self};
  const auto giveUpAt = std::chrono::steady_clock::now() + kRealTimeLimit;
  for (;;) {
    CheckAlive();
    if (ready()) return true;
    if (deadline && Since(now_, *deadline) >= 0) return false;
    if (self != nullptr) {
      self->blocked = true;
      self->servesSent = servesSent;
      self->ready = ready;
      self->deadline = deadline;
      if (EveryoneBlocked() && Advance(lock)) continue;
    }
    std::condition_variable& wait = self != nullptr ? self->wake : changed_;
    if (wait.wait_until(lock, giveUpAt) == std::cv_status::timeout && !ready()) {
      GiveUp("a thread waited " + std::to_string(kRealTimeLimit.count()) +
             " s of real time in the fake without being released (a thread that never "
             "blocks, or a wake-up that never comes); virtual time " +
             std::to_string(now_ - start_) + " ms");
    }
  }
}

void FakePlatform::Changed() {
  changed_.notify_all();  // threads that take no part in the run wait on it
  bool someoneGoesOn = advancing_;
  Participant* anyBlocked = nullptr;
  for (auto& [id, participant] : participants_) {
    if (!participant->blocked) {
      someoneGoesOn = true;
      continue;
    }
    anyBlocked = participant.get();
    if (exiting_ || (participant->ready && participant->ready()) ||
        (participant->deadline && Since(now_, *participant->deadline) >= 0)) {
      participant->wake.notify_one();
      someoneGoesOn = true;
    }
  }
  // With nobody left to go on, one blocked thread moves the clock or runs the next action.
  if (!someoneGoesOn && anyBlocked != nullptr) anyBlocked->wake.notify_one();
}

void FakePlatform::WhenIdle(std::function<void()> action) {
  Lock lock(mutex_);
  idleActions_.push_back(std::move(action));
  Changed();
}

void FakePlatform::At(uint32_t time, std::function<void()> action) {
  Lock lock(mutex_);
  timedActions_.emplace_back(time, std::move(action));
  Changed();
}

void FakePlatform::AfterDraw(int n, std::function<void()> action) {
  Lock lock(mutex_);
  drawActions_[n] = std::move(action);
}

void FakePlatform::BeforeMemorySound(std::function<void()> action) {
  Lock lock(mutex_);
  beforeMemorySound_ = std::move(action);
}

void FakePlatform::AdvanceClock(uint32_t milliseconds) {
  Lock lock(mutex_);
  now_ += milliseconds;
  Changed();
}

void FakePlatform::Record(const char* name) {
  if (calls_.size() >= kCallLimit) {
    GiveUp("more than " + std::to_string(kCallLimit) +
           " platform calls without the run settling (a thread that loops without "
           "ever waiting); the last was " + name);
  }
  calls_.emplace_back(name);
}

// ---- Scripting and observations ---------------------------------------------

void FakePlatform::SetResource(const std::string& type, const std::string& name,
                               std::vector<uint8_t> bytes) {
  Lock lock(mutex_);
  auto resource = std::make_unique<Resource>();
  resource->size = bytes.size();
  resource->storage = std::make_unique<uint8_t[]>(std::max<size_t>(bytes.size(), 1));
  std::copy(bytes.begin(), bytes.end(), resource->storage.get());
  resources_[{KeyOf(type.c_str()), KeyOf(name.c_str())}] = std::move(resource);
}

void FakePlatform::SetLastErrorCode(uint32_t code) {
  Lock lock(mutex_);
  lastError_ = code;
}

void FakePlatform::Click(int controlId) {
  Lock lock(mutex_);
  auto control = windows_.find(controlId);
  if (!windowThread_ || control == windows_.end() || !control->second.enabled) return;
  posted_.push_back({DialogHandle(), kWmCommand, static_cast<uintptr_t>(controlId),
                     reinterpret_cast<intptr_t>(ControlWindow(controlId))});
  Changed();
}

void FakePlatform::PostClose() { PostMessageA(DialogHandle(), kWmClose, 0, 0); }

uint32_t FakePlatform::Now() {
  Lock lock(mutex_);
  return now_;
}
bool FakePlatform::Deadlocked() {
  Lock lock(mutex_);
  return deadlocked_;
}
std::optional<std::string> FakePlatform::GaveUp() {
  Lock lock(mutex_);
  return gaveUp_;
}
std::optional<uint32_t> FakePlatform::ExitCode() {
  Lock lock(mutex_);
  return exitCode_;
}
std::vector<std::string> FakePlatform::Calls() {
  Lock lock(mutex_);
  return calls_;
}
std::vector<MessageBoxRecord> FakePlatform::MessageBoxes() {
  Lock lock(mutex_);
  return messageBoxes_;
}
std::vector<uint32_t> FakePlatform::FormattedErrors() {
  Lock lock(mutex_);
  return formattedErrors_;
}
std::vector<SoundRecord> FakePlatform::Sounds() {
  Lock lock(mutex_);
  return sounds_;
}
std::vector<MoveRecord> FakePlatform::Moves() {
  Lock lock(mutex_);
  return moves_;
}
std::vector<DrawRecord> FakePlatform::Draws() {
  Lock lock(mutex_);
  return draws_;
}
WindowState FakePlatform::Control(int controlId) {
  Lock lock(mutex_);
  return windows_[controlId];
}
std::vector<std::pair<uint32_t, size_t>> FakePlatform::GlobalAllocs() {
  Lock lock(mutex_);
  return globalAllocs_;
}
size_t FakePlatform::LiveGlobalBlocks() {
  Lock lock(mutex_);
  return globalBlocks_.size();
}
size_t FakePlatform::LiveLocalBlocks() {
  Lock lock(mutex_);
  return localBlocks_.size();
}
size_t FakePlatform::LiveThreads() {
  Lock lock(mutex_);
  return std::count_if(objects_.begin(), objects_.end(), [](const auto& object) {
    return object->kind == KernelObject::kThread && !object->signalled;
  });
}
std::vector<uint32_t> FakePlatform::ThreadExitCodes() {
  Lock lock(mutex_);
  std::vector<uint32_t> codes;
  for (const auto& object : objects_) {
    if (object->kind == KernelObject::kThread) {
      codes.push_back(object->signalled ? object->exitCode : 0xFFFFFFFF);
    }
  }
  return codes;
}
std::vector<int> FakePlatform::ThreadPriorities() {
  Lock lock(mutex_);
  std::vector<int> priorities;
  for (const auto& object : objects_) {
    if (object->kind == KernelObject::kThread) priorities.push_back(object->priority);
  }
  return priorities;
}
size_t FakePlatform::EventsCreated() {
  Lock lock(mutex_);
  return eventsCreated_;
}

Hwnd FakePlatform::ControlWindow(int controlId) const {
  return reinterpret_cast<Hwnd>(kDialogHandle + controlId);
}

int FakePlatform::ControlIdOf(Hwnd window) const {
  const auto value = reinterpret_cast<uintptr_t>(window);
  if (value == kDialogHandle) return 0;
  if (value > kDialogHandle && value <= kDialogHandle + 0xFFFF) {
    const int id = static_cast<int>(value - kDialogHandle);
    return windows_.count(id) != 0 ? id : -1;
  }
  return -1;
}

// ---- Kernel events -----------------------------------------------------------

FakePlatform::KernelObject* FakePlatform::ObjectOf(Handle handle) {
  for (const auto& object : objects_) {
    if (reinterpret_cast<Handle>(object.get()) == handle) return object.get();
  }
  return nullptr;
}

Handle FakePlatform::CreateEventA(bool manualReset, bool initialState) {
  Lock lock(mutex_);
  Record("CreateEventA");
  auto event = std::make_unique<KernelObject>();
  event->kind = KernelObject::kEvent;
  event->manualReset = manualReset;
  event->signalled = initialState;
  event->eventNumber = ++eventsCreated_;
  objects_.push_back(std::move(event));
  return reinterpret_cast<Handle>(objects_.back().get());
}

bool FakePlatform::SetEvent(Handle event) {
  Lock lock(mutex_);
  KernelObject* object = ObjectOf(event);
  if (object == nullptr || object->kind != KernelObject::kEvent) return false;
  Record(("SetEvent " + std::to_string(object->eventNumber)).c_str());
  object->signalled = true;
  Changed();
  return true;
}

bool FakePlatform::ResetEvent(Handle event) {
  Lock lock(mutex_);
  KernelObject* object = ObjectOf(event);
  if (object == nullptr || object->kind != KernelObject::kEvent) return false;
  object->signalled = false;
  return true;
}

bool FakePlatform::Satisfied(uint32_t count, const Handle* objects, bool waitAll,
                             uint32_t* index) {
  for (uint32_t i = 0; i < count; ++i) {
    const bool signalled = ObjectOf(objects[i])->signalled;
    if (waitAll && !signalled) return false;
    if (!waitAll && signalled) {
      *index = i;
      return true;
    }
  }
  *index = 0;
  return waitAll;
}

uint32_t FakePlatform::WaitFor(uint32_t count, const Handle* objects, bool waitAll,
                               uint32_t milliseconds, bool serveSent) {
  Lock lock(mutex_);
  if (count == 0 || count > 64) {
    lastError_ = kErrorInvalidHandle;
    return kWaitFailed;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (ObjectOf(objects[i]) == nullptr) {
      lastError_ = kErrorInvalidHandle;
      return kWaitFailed;
    }
  }
  serveSent = serveSent && windowThread_ && *windowThread_ == std::this_thread::get_id();
  std::optional<uint32_t> deadline;
  if (milliseconds != kInfinite) deadline = now_ + milliseconds;
  uint32_t index = 0;
  for (;;) {
    CheckAlive();
    const bool ready = Block(
        lock,
        [&] { return Satisfied(count, objects, waitAll, &index) || (serveSent && !sent_.empty()); },
        deadline, serveSent);
    if (!ready) return kWaitTimeout;
    if (Satisfied(count, objects, waitAll, &index)) return kWaitObject0 + index;
    ServeSent(lock);
  }
}

uint32_t FakePlatform::WaitForSingleObject(Handle object, uint32_t milliseconds) {
  return WaitFor(1, &object, true, milliseconds, false);
}

uint32_t FakePlatform::WaitForMultipleObjects(uint32_t count, const Handle* objects, bool waitAll,
                                              uint32_t milliseconds) {
  return WaitFor(count, objects, waitAll, milliseconds, false);
}

uint32_t FakePlatform::MsgWaitForMultipleObjects(uint32_t count, const Handle* objects,
                                                 bool waitAll, uint32_t milliseconds) {
  {
    Lock lock(mutex_);
    Record("MsgWaitForMultipleObjects");
  }
  return WaitFor(count, objects, waitAll, milliseconds, true);
}

bool FakePlatform::CloseHandle(Handle object) {
  Lock lock(mutex_);
  return ObjectOf(object) != nullptr;
}

// ---- Threads -----------------------------------------------------------------

Handle FakePlatform::CreateThread(ThreadProc procedure, void* parameter, uint32_t* threadId) {
  Lock lock(mutex_);
  Record("CreateThread");
  ++threadCalls_;
  if (failThreadCalls_.count(threadCalls_) != 0) {
    lastError_ = kErrorNotEnoughMemory;
    return nullptr;
  }
  auto owned = std::make_unique<KernelObject>();
  owned->kind = KernelObject::kThread;
  KernelObject* thread = owned.get();
  objects_.push_back(std::move(owned));
  thread->runner = RunOnKeptThread([this, thread, procedure, parameter] {
    { Lock start(mutex_); }  // the creator has registered this thread
    uint32_t code = kAbandonedExitCode;
    try {
      code = procedure(parameter);
    } catch (const FakeProcessExit&) {
    } catch (const FakeAbandon&) {
    }
    Lock lock(mutex_);
    thread->signalled = true;
    thread->exitCode = code;
    participants_.erase(std::this_thread::get_id());
    Changed();
  });
  participants_[thread->runner] = std::make_unique<Participant>();
  if (threadId != nullptr) *threadId = static_cast<uint32_t>(threadCalls_);
  Changed();
  return reinterpret_cast<Handle>(thread);
}

bool FakePlatform::SetThreadPriority(Handle thread, int priority) {
  Lock lock(mutex_);
  KernelObject* object = ObjectOf(thread);
  if (object == nullptr || object->kind != KernelObject::kThread) return false;
  object->priority = priority;
  return true;
}

bool FakePlatform::GetExitCodeThread(Handle thread, uint32_t* exitCode) {
  Lock lock(mutex_);
  KernelObject* object = ObjectOf(thread);
  if (object == nullptr || !object->signalled) return false;
  *exitCode = object->exitCode;
  return true;
}

void FakePlatform::Sleep(uint32_t milliseconds) {
  Lock lock(mutex_);
  Block(lock, [] { return false; }, now_ + milliseconds);
}

uint32_t FakePlatform::timeGetTime() {
  Lock lock(mutex_);
  return now_;
}

// ---- Sound -------------------------------------------------------------------

bool FakePlatform::PlaySoundA(const char* sound, Hinstance /*module*/, uint32_t flags) {
  if (sound != nullptr && (flags & kSndResource) != kSndResource && (flags & kSndMemory) != 0) {
    std::function<void()> action;
    {
      Lock lock(mutex_);
      action = std::move(beforeMemorySound_);
      beforeMemorySound_ = nullptr;
    }
    if (action) action();
  }
  Lock lock(mutex_);
  Record("PlaySoundA");
  if (sound == nullptr) {
    ++soundGeneration_;
    sounds_.push_back(MakeSound(SoundRecord::kStop, now_, flags));
    Changed();
    return true;
  }
  // (The resource flag includes the memory bit: test it first.)
  if ((flags & kSndResource) == kSndResource) {
    ++soundGeneration_;
    SoundRecord record = MakeSound(SoundRecord::kResource, now_, flags);
    record.resourceId = reinterpret_cast<uintptr_t>(sound);
    sounds_.push_back(std::move(record));
    return true;
  }
  if ((flags & kSndMemory) == kSndMemory) {
    const auto* image = reinterpret_cast<const uint8_t*>(sound);
    SoundRecord record = MakeSound(SoundRecord::kMemory, now_, flags);
    const bool wave = std::memcmp(image, "RIFF", 4) == 0 && std::memcmp(image + 8, "WAVE", 4) == 0;
    const uint32_t dataBytes = wave ? Read32(image + 40) : 0;
    if (dataBytes == 0) {
      sounds_.push_back(record);
      return false;
    }
    ++soundGeneration_;
    const uint64_t generation = soundGeneration_;
    record.samples.assign(image + 44, image + 44 + dataBytes);
    const uint32_t start = now_;
    const size_t index = sounds_.size();
    sounds_.push_back(std::move(record));
    const uint32_t duration = (dataBytes + 15) / 16;  // 16 bytes of 8 kHz 16-bit mono a millisecond
    const bool cut = Block(lock, [&] { return soundGeneration_ != generation; }, start + duration);
    sounds_[index].cut = cut;
    sounds_[index].playedMs = now_ - start;
    return true;
  }
  return false;
}

// ---- Resources and memory ------------------------------------------------------

Hrsrc FakePlatform::FindResourceA(Hinstance /*module*/, const char* name, const char* type) {
  Lock lock(mutex_);
  Record("FindResourceA");
  const std::string nameKey = KeyOf(name);
  auto found = resources_.find({KeyOf(type), nameKey});
  if (failFind_.count(nameKey) != 0 || found == resources_.end()) {
    lastError_ = kErrorResourceNotFound;
    return nullptr;
  }
  return reinterpret_cast<Hrsrc>(found->second.get());
}

uint32_t FakePlatform::SizeofResource(Hinstance /*module*/, Hrsrc resource) {
  Lock lock(mutex_);
  Record("SizeofResource");
  return static_cast<uint32_t>(reinterpret_cast<Resource*>(resource)->size);
}

Hglobal FakePlatform::LoadResource(Hinstance /*module*/, Hrsrc resource) {
  Lock lock(mutex_);
  Record("LoadResource");
  for (const auto& [key, stored] : resources_) {
    if (reinterpret_cast<Hrsrc>(stored.get()) == resource && failLoad_.count(key.second) != 0) {
      return nullptr;
    }
  }
  return resource;
}

const void* FakePlatform::LockResource(Hglobal loaded) {
  Lock lock(mutex_);
  Record("LockResource");
  for (const auto& [key, stored] : resources_) {
    if (stored.get() == loaded) {
      return failLock_.count(key.second) != 0 ? nullptr : stored->storage.get();
    }
  }
  return nullptr;
}

Hglobal FakePlatform::GlobalAlloc(uint32_t flags, size_t bytes) {
  Lock lock(mutex_);
  Record("GlobalAlloc");
  ++allocCalls_;
  globalAllocs_.emplace_back(flags, bytes);
  // A 32-bit Windows process has 2 GiB of address space for all its blocks,
  // so larger requests fail there whatever the machine; here too, rather than
  // reserving (and filling) gigabytes of the test machine's memory.
  if (failAllocCalls_.count(allocCalls_) != 0 || bytes >= kLargestGlobalBlock) {
    lastError_ = kErrorNotEnoughMemory;
    return nullptr;
  }
  void* block = TakeBlock(bytes);
  if (block == nullptr) return nullptr;
  // Uninitialised blocks are filled with a pattern so that reliance on zeros shows.
  std::memset(block, (flags & kGmemZeroInit) != 0 ? 0 : 0xCD, bytes);
  globalBlocks_[block] = bytes;
  return block;
}

Hglobal FakePlatform::GlobalFree(Hglobal block) {
  Lock lock(mutex_);
  Record("GlobalFree");
  auto found = globalBlocks_.find(block);
  if (found == globalBlocks_.end()) return block;
  GiveBackBlock(block, found->second);
  globalBlocks_.erase(found);
  return nullptr;
}

// ---- The window ------------------------------------------------------------------

intptr_t FakePlatform::CallProcedure(Lock& lock, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam) {
  DialogProc procedure = procedure_;
  lock.unlock();
  const intptr_t result = procedure(DialogHandle(), message, wParam, lParam);
  lock.lock();
  return result;
}

void FakePlatform::ServeSent(Lock& /*lock*/) {
  while (!sent_.empty()) {
    SentCall* call = sent_.front();
    sent_.pop_front();
    call->work();
    call->done = true;
  }
  Changed();
}

void FakePlatform::DispatchPosted(Lock& lock) {
  const PostedMessage message = posted_.front();
  posted_.pop_front();
  CallProcedure(lock, message.message, message.wParam, message.lParam);
}

void FakePlatform::OnWindowThread(Lock& lock, std::function<void()> work) {
  if (!windowThread_) return;  // no window any more: the call has nothing to act on
  if (*windowThread_ == std::this_thread::get_id()) {
    work();
    return;
  }
  // A window thread waiting where it serves sent calls, with nothing to do before this
  // one, would serve it next and do nothing else: the work is done here, under the same
  // lock, sparing two thread switches a call.
  auto window = participants_.find(*windowThread_);
  if (!exiting_ && !advancing_ && sent_.empty() && window != participants_.end()) {
    const Participant& waiting = *window->second;
    if (waiting.blocked && waiting.servesSent && !(waiting.ready && waiting.ready())) {
      work();
      Changed();
      return;
    }
  }
  SentCall call{std::move(work)};
  sent_.push_back(&call);
  Changed();
  try {
    Block(lock, [&] { return call.done; }, std::nullopt);
  } catch (...) {
    sent_.erase(std::remove(sent_.begin(), sent_.end(), &call), sent_.end());
    throw;
  }
}

intptr_t FakePlatform::DialogBoxParamA(Hinstance /*instance*/, const char* /*templateName*/,
                                       Hwnd /*owner*/, DialogProc procedure, intptr_t initParam) {
  Lock lock(mutex_);
  Record("DialogBoxParamA");
  if (Self() == nullptr) participants_[std::this_thread::get_id()] = std::make_unique<Participant>();
  windowThread_ = std::this_thread::get_id();
  procedure_ = procedure;
  dialogEnded_ = false;
  invalid_ = false;
  // The template's places, roughly in pixels, before the player lays them out.
  windows_.clear();
  windows_[0] = {0, 0, 267, 283, "Tarvany Clipnote Player", true, false};
  windows_[1001] = {2, 0, 178, 166, "Tarvany Clipnote", true, true};
  windows_[1000] = {0, 234, 33, 23, "Play", true, true};
  windows_[1002] = {33, 234, 33, 23, "CIF", true, true};
  windows_[1004] = {4, 101, 141, 128, "", true, true};
  windows_[1003] = {64, 234, 196, 23, "", true, true};
  windows_[1005] = {114, 185, 130, 23, "One moment please ...", true, true};

  struct EndWindow {
    FakePlatform* fake;
    Lock& lock;
    ~EndWindow() {
      if (!lock.owns_lock()) lock.lock();
      fake->windowThread_.reset();
      fake->posted_.clear();
      for (SentCall* call : fake->sent_) call->done = true;
      fake->sent_.clear();
      fake->Changed();
    }
  } endWindow{this, lock};

  CallProcedure(lock, kWmInitDialog, 0, initParam);
  while (!dialogEnded_) {
    Block(lock,
          [&] {
            return dialogEnded_ || !sent_.empty() || !posted_.empty() ||
                   (invalid_ && windows_[0].visible);
          },
          std::nullopt, true);
    if (dialogEnded_) break;
    if (!sent_.empty()) {
      ServeSent(lock);
    } else if (!posted_.empty()) {
      DispatchPosted(lock);
    } else {
      CallProcedure(lock, kWmPaint, 0, 0);
      invalid_ = false;  // the dialog manager's own painting validates the window
    }
  }
  return dialogResult_;
}

bool FakePlatform::EndDialog(Hwnd dialog, intptr_t result) {
  Lock lock(mutex_);
  Record("EndDialog");
  if (dialog != DialogHandle() || !windowThread_) return false;
  dialogEnded_ = true;
  dialogResult_ = result;
  Changed();
  return true;
}

Hwnd FakePlatform::GetDlgItem(Hwnd dialog, int controlId) {
  Lock lock(mutex_);
  Record("GetDlgItem");
  if (dialog != DialogHandle() || controlId <= 0 || windows_.count(controlId) == 0) return nullptr;
  return ControlWindow(controlId);
}

bool FakePlatform::MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint) {
  Lock lock(mutex_);
  Record("MoveWindow");
  const int id = ControlIdOf(window);
  if (id < 0) return false;
  OnWindowThread(lock, [=, this] {
    WindowState& state = windows_[id];
    state.x = x;
    state.y = y;
    state.width = width;
    state.height = height;
    moves_.push_back({id, x, y, width, height, repaint, now_});
  });
  return true;
}

bool FakePlatform::SetWindowPos(Hwnd window, Hwnd /*insertAfter*/, int x, int y, int width,
                                int height, uint32_t flags) {
  Lock lock(mutex_);
  Record("SetWindowPos");
  const int id = ControlIdOf(window);
  if (id < 0) return false;
  OnWindowThread(lock, [=, this] {
    WindowState& state = windows_[id];
    state.x = x;
    state.y = y;
    if ((flags & kSwpNoSize) == 0) {
      state.width = width;
      state.height = height;
    }
  });
  return true;
}

bool FakePlatform::EnableWindow(Hwnd window, bool enable) {
  Lock lock(mutex_);
  Record("EnableWindow");
  const int id = ControlIdOf(window);
  if (id < 0) return false;
  OnWindowThread(lock, [=, this] { windows_[id].enabled = enable; });
  return true;
}

bool FakePlatform::SetWindowTextA(Hwnd window, const char* text) {
  Lock lock(mutex_);
  Record("SetWindowTextA");
  const int id = ControlIdOf(window);
  if (id < 0) return false;
  std::string copy(text);
  OnWindowThread(lock, [=, this] { windows_[id].text = copy; });
  return true;
}

bool FakePlatform::InvalidateRect(Hwnd window, const Rect* /*rect*/, bool /*erase*/) {
  Lock lock(mutex_);
  Record("InvalidateRect");
  const int id = ControlIdOf(window);
  if (id < 0) return false;
  OnWindowThread(lock, [=, this] {
    if (id == 0) invalid_ = true;
  });
  return true;
}

bool FakePlatform::ShowWindow(Hwnd window, int command) {
  Lock lock(mutex_);
  Record("ShowWindow");
  const int id = ControlIdOf(window);
  if (id < 0) return false;
  const bool wasVisible = windows_[id].visible;
  windows_[id].visible = command != kSwHide;
  if (id == 0 && command != kSwHide) invalid_ = true;
  return wasVisible;
}

bool FakePlatform::UpdateWindow(Hwnd window) {
  Lock lock(mutex_);
  Record("UpdateWindow");
  if (window != DialogHandle() || !windowThread_) return false;
  if (invalid_ && windows_[0].visible && *windowThread_ == std::this_thread::get_id()) {
    CallProcedure(lock, kWmPaint, 0, 0);
    invalid_ = false;
  }
  return true;
}

bool FakePlatform::PostMessageA(Hwnd window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
  Lock lock(mutex_);
  Record("PostMessageA");
  if (window != DialogHandle() || !windowThread_) return false;
  posted_.push_back({window, message, wParam, lParam});
  Changed();
  return true;
}

intptr_t FakePlatform::SendMessageA(Hwnd window, uint32_t /*message*/, uintptr_t /*wParam*/,
                                    intptr_t /*lParam*/) {
  Lock lock(mutex_);
  Record("SendMessageA");
  if (ControlIdOf(window) < 0) return 0;
  OnWindowThread(lock, [] {});
  return 0;
}

Hicon FakePlatform::LoadIconA(Hinstance /*instance*/, const char* name) {
  Lock lock(mutex_);
  Record("LoadIconA");
  return IsIntResource(name) ? reinterpret_cast<Hicon>(0x60000 + reinterpret_cast<uintptr_t>(name))
                             : nullptr;
}

Hwnd FakePlatform::FindWindowA(const char* className, const char* windowName) {
  Lock lock(mutex_);
  Record("FindWindowA");
  const bool dialogClass = IsIntResource(className) &&
                           reinterpret_cast<uintptr_t>(className) == kDialogClassAtom;
  if (runningInstance_ && dialogClass && std::string(windowName) == "Tarvany Clipnote Player") {
    return reinterpret_cast<Hwnd>(0x70000);
  }
  return nullptr;
}

bool FakePlatform::SetForegroundWindow(Hwnd /*window*/) {
  Lock lock(mutex_);
  Record("SetForegroundWindow");
  return true;
}

int FakePlatform::GetSystemMetrics(int index) {
  Lock lock(mutex_);
  return index == kSmCxBorder || index == kSmCyBorder ? 1 : 0;
}

bool FakePlatform::GetWindowRect(Hwnd window, Rect* rect) {
  Lock lock(mutex_);
  if (reinterpret_cast<uintptr_t>(window) == kDesktopHandle) {
    *rect = {0, 0, 1024, 768};
    return true;
  }
  const int id = ControlIdOf(window);
  if (id < 0) return false;
  const WindowState& state = windows_[id];
  *rect = {state.x, state.y, state.x + state.width, state.y + state.height};
  return true;
}

bool FakePlatform::GetClientRect(Hwnd window, Rect* rect) {
  Lock lock(mutex_);
  if (window != DialogHandle()) return false;
  const WindowState& state = windows_[0];
  *rect = {0, 0, state.width - 2 * kFrameWidth, state.height - kCaptionHeight - kFrameWidth};
  return true;
}

bool FakePlatform::ClientToScreen(Hwnd window, Point* point) {
  Lock lock(mutex_);
  if (window != DialogHandle()) return false;
  point->x += windows_[0].x + kFrameWidth;
  point->y += windows_[0].y + kCaptionHeight;
  return true;
}

Hwnd FakePlatform::GetDesktopWindow() { return reinterpret_cast<Hwnd>(kDesktopHandle); }

// ---- Drawing -------------------------------------------------------------------

Hdc FakePlatform::GetDC(Hwnd /*window*/) {
  Lock lock(mutex_);
  Record("GetDC");
  if (failGetDC_) {
    lastError_ = kErrorNotEnoughMemory;
    return nullptr;
  }
  return reinterpret_cast<Hdc>(0x30000);
}

int FakePlatform::ReleaseDC(Hwnd /*window*/, Hdc /*dc*/) {
  Lock lock(mutex_);
  Record("ReleaseDC");
  return 1;
}

Hpalette FakePlatform::CreateHalftonePalette(Hdc /*dc*/) {
  Lock lock(mutex_);
  Record("CreateHalftonePalette");
  return reinterpret_cast<Hpalette>(0x40000);
}

Hpalette FakePlatform::SelectPalette(Hdc /*dc*/, Hpalette /*palette*/, bool /*forceBackground*/) {
  Lock lock(mutex_);
  Record("SelectPalette");
  return reinterpret_cast<Hpalette>(0x40001);
}

uint32_t FakePlatform::RealizePalette(Hdc /*dc*/) {
  Lock lock(mutex_);
  Record("RealizePalette");
  return 0;
}

bool FakePlatform::DeleteObject(Hpalette /*palette*/) {
  Lock lock(mutex_);
  Record("DeleteObject");
  return true;
}

Hdrawdib FakePlatform::DrawDibOpen() {
  Lock lock(mutex_);
  Record("DrawDibOpen");
  return reinterpret_cast<Hdrawdib>(0x50000);
}

bool FakePlatform::DrawDibClose(Hdrawdib /*drawDib*/) {
  Lock lock(mutex_);
  Record("DrawDibClose");
  return true;
}

bool FakePlatform::DrawDibBegin(Hdrawdib /*drawDib*/, Hdc /*dc*/, int /*destWidth*/,
                                int /*destHeight*/, const BitmapInfoHeader* /*format*/,
                                int /*sourceWidth*/, int /*sourceHeight*/, uint32_t /*flags*/) {
  Lock lock(mutex_);
  Record("DrawDibBegin");
  return true;
}

uint32_t FakePlatform::DrawDibRealize(Hdrawdib /*drawDib*/, Hdc /*dc*/, bool /*background*/) {
  Lock lock(mutex_);
  Record("DrawDibRealize");
  return realizeResult_;
}

bool FakePlatform::DrawDibDraw(Hdrawdib /*drawDib*/, Hdc /*dc*/, int destX, int destY,
                               int destWidth, int destHeight, const BitmapInfoHeader* format,
                               const void* bits, int /*sourceX*/, int /*sourceY*/,
                               int sourceWidth, int sourceHeight, uint32_t flags) {
  std::function<void()> action;
  {
    Lock lock(mutex_);
    Record("DrawDibDraw");
    const auto* image = static_cast<const uint8_t*>(bits);
    const size_t imageBytes = static_cast<size_t>(sourceWidth) * sourceHeight * 3;
    uint64_t hash = 0;
    if (hashImages_) {
      hash = HashBytes(image, imageBytes);
    } else if (imageBytes != 0) {
      // Its last byte is still read, so that an image shorter than it claims is reported.
      (void)static_cast<const volatile uint8_t*>(image)[imageBytes - 1];
    }
    DrawRecord record{now_,        destX,          destY,          destWidth, destHeight,
                      sourceWidth, sourceHeight,   format->biWidth, format->biHeight, flags,
                      hash};
    draws_.push_back(record);
    auto found = drawActions_.find(static_cast<int>(draws_.size()));
    if (found != drawActions_.end()) action = std::move(found->second);
  }
  if (action) action();
  return true;
}

// ---- Messages and errors ---------------------------------------------------------

int FakePlatform::MessageBoxA(Hwnd owner, const char* text, const char* caption, uint32_t type) {
  Lock lock(mutex_);
  Record("MessageBoxA");
  const bool fromWindowThread = windowThread_ && *windowThread_ == std::this_thread::get_id();
  messageBoxes_.push_back({owner, text, caption, type, fromWindowThread});
  if (messageBoxHold_ != 0) {
    const uint32_t until = now_ + messageBoxHold_;
    while (Block(lock, [&] { return fromWindowThread && !sent_.empty(); }, until, fromWindowThread)) {
      ServeSent(lock);
    }
  }
  return 1;  // IDOK: the user dismisses it (at once, unless held)
}

uint32_t FakePlatform::FormatMessageA(uint32_t flags, const void* /*source*/,
                                      uint32_t messageId, uint32_t /*languageId*/,
                                      char* buffer, uint32_t /*size*/) {
  Lock lock(mutex_);
  Record("FormatMessageA");
  formattedErrors_.push_back(messageId);
  if (!systemText_ || (flags & kFormatMessageAllocateBuffer) == 0) return 0;
  char* text = new char[systemText_->size() + 1];
  std::memcpy(text, systemText_->c_str(), systemText_->size() + 1);
  localBlocks_.insert(text);
  *reinterpret_cast<char**>(buffer) = text;
  return static_cast<uint32_t>(systemText_->size());
}

uint32_t FakePlatform::GetLastError() {
  Lock lock(mutex_);
  return lastError_;
}

Hlocal FakePlatform::LocalFree(Hlocal memory) {
  Lock lock(mutex_);
  Record("LocalFree");
  if (localBlocks_.erase(memory) == 0) return memory;
  delete[] static_cast<char*>(memory);
  return nullptr;
}

void FakePlatform::ExitProcess(uint32_t exitCode) {
  {
    Lock lock(mutex_);
    Record("ExitProcess");
    exitCode_ = exitCode;
    exiting_ = true;
    Changed();
  }
  throw FakeProcessExit{exitCode};
}

}  // namespace clipnote::testing
