#pragma once

// A platform for tests: real threads, a virtual clock, scripted resources,
// injectable failures and a record of every window, sound, drawing and
// message-box call.
//
// Time. The clock moves only when every thread taking part (the thread that
// made the fake, the window thread and every thread made by CreateThread) is
// blocked in the fake: then it jumps to the earliest deadline among them (a
// Sleep, a timed wait, a sound playing out). Computation takes no virtual
// time unless a test says so with AdvanceClock. So what the player does at
// which time is the same on every run, and no test ever sleeps.
//
// Idle actions. When every thread is blocked and no deadline is pending, the
// fake runs the next action queued with WhenIdle (typically a click or a
// close, as a user who waits until things settle). With none left, the
// system is deadlocked: every blocked call then ends by throwing FakeAbandon
// and Deadlocked() is true.
//
// The window. DialogBoxParamA runs a message loop on its calling thread (the
// window thread). Calls that other threads make on the window or its controls
// (MoveWindow, SetWindowTextA, EnableWindow, InvalidateRect, SendMessageA)
// wait until the window thread serves them, in its loop or in
// MsgWaitForMultipleObjects, as on Win32.
//
// ExitProcess records the code and throws FakeProcessExit; every other blocked
// thread then ends by throwing FakeAbandon.
//
// Bounds. A run that cannot settle must fail, not hang or grow: a thread
// blocked in the fake for more than kRealTimeLimit of real time (another
// thread spins, or a wake-up never comes), a virtual clock that runs past
// kVirtualTimeLimit from the start (threads that keep waking each other, as
// a stop that waits for ever in short slices), or more than kCallLimit
// recorded calls (a thread looping on calls that never block) ends the run
// as a deadlock does, and GaveUp() says why.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace clipnote::testing {

struct FakeProcessExit {
  uint32_t code;
};
struct FakeAbandon {};

inline constexpr std::chrono::seconds kRealTimeLimit{60};
inline constexpr uint32_t kVirtualTimeLimit = 60 * 60 * 1000;  // an hour
inline constexpr size_t kCallLimit = 2'000'000;

struct MessageBoxRecord {
  Hwnd owner;
  std::string text;
  std::string caption;
  uint32_t type;
  bool fromWindowThread;
};

struct SoundRecord {
  enum Kind { kStop, kResource, kMemory } kind = kStop;
  uint32_t time = 0;
  uint32_t flags = 0;
  uintptr_t resourceId = 0;     // kResource
  std::vector<uint8_t> samples;  // kMemory: the PCM bytes of the image's data chunk
  bool cut = false;              // kMemory: ended by a stop rather than by playing out
  uint32_t playedMs = 0;         // kMemory: how long it played
};

struct MoveRecord {
  int controlId;  // 0 for the dialog itself
  int x, y, width, height;
  bool repaint;
  uint32_t time;
};

struct DrawRecord {
  uint32_t time;
  int x, y, destWidth, destHeight;
  int sourceWidth, sourceHeight;
  int headerWidth, headerHeight;
  uint32_t flags;
  uint64_t imageHash;  // FNV-1a of the drawn image bytes
};

struct WindowState {
  int x = 0, y = 0, width = 0, height = 0;
  std::string text;
  bool enabled = true;
  bool visible = true;
};

// FNV-1a, to compare drawn images.
uint64_t HashBytes(const uint8_t* bytes, size_t count);

// GlobalAlloc refuses blocks of this size and more, as a 32-bit Windows process must.
inline constexpr size_t kLargestGlobalBlock = size_t{1} << 31;

class FakePlatform final : public Platform {
 public:
  explicit FakePlatform(uint32_t startTime = 1000);
  ~FakePlatform() override;

  // ---- Scripting -------------------------------------------------------
  // Resources by type and name as FindResourceA takes them ("#263", "MOVIE").
  void SetResource(const std::string& type, const std::string& name, std::vector<uint8_t> bytes);
  void FailFindResource(const std::string& name) { failFind_.insert(name); }
  void FailLoadResource(const std::string& name) { failLoad_.insert(name); }
  void FailLockResource(const std::string& name) { failLock_.insert(name); }
  // The n-th GlobalAlloc call (counted from 1) returns null.
  void FailGlobalAllocCall(int n) { failAllocCalls_.insert(n); }
  void FailGetDC() { failGetDC_ = true; }
  // A sound output that is heard this many milliseconds after it is released.
  void SetSoundOutputDelay(uint32_t ms) { soundOutputDelay_ = ms; }
  // The n-th CreateThread call (counted from 1) fails.
  void FailCreateThreadCall(int n) { failThreadCalls_.insert(n); }
  // What FormatMessageA gives for any error; nullopt makes it fail.
  void SetSystemText(std::optional<std::string> text) { systemText_ = std::move(text); }
  void SetLastErrorCode(uint32_t code);
  // A running instance that FindWindowA finds by class and title.
  void SetRunningInstance(bool running) { runningInstance_ = running; }
  // What DrawDibRealize returns (nonzero: the palette mapping changed).
  void SetRealizeResult(uint32_t result) { realizeResult_ = result; }
  // Message boxes stay up for this long (virtual) before the user dismisses
  // them; the calling thread waits meanwhile (on the window thread, serving
  // the calls other threads make into the window, as a box's own loop does).
  void HoldMessageBoxes(uint32_t milliseconds) { messageBoxHold_ = milliseconds; }
  // Draws are recorded with an image hash of 0, for runs that never compare images
  // (hashing every drawn picture took a tenth of a fuzzed run).
  void SkipImageHashes() { hashImages_ = false; }

  // Queues an action for the next time the whole system is idle.
  void WhenIdle(std::function<void()> action);
  // Runs an action when the virtual clock reaches the time, at a moment when
  // every thread is blocked (before the threads waiting for that time go on).
  void At(uint32_t time, std::function<void()> action);
  // Runs an action on the drawing thread right after the n-th DrawDibDraw
  // (counted from 1).
  void AfterDraw(int n, std::function<void()> action);
  // Runs an action on the sound's thread when the next in-memory sound is
  // asked for, before it starts (as if that thread were held up just there).
  void BeforeMemorySound(std::function<void()> action);
  // Moves the virtual clock forward (as if the calling thread had computed
  // for that long).
  void AdvanceClock(uint32_t milliseconds);

  // User actions, posted to the window as the system would.
  void Click(int controlId);  // nothing happens when the control is disabled
  void PostClose();

  // Ends the run for good: every thread blocked in the fake, or blocking later,
  // is abandoned, and each is waited for. For a test whose run ended abnormally
  // (a process exit, a deadlock), before the objects the threads use go away.
  void EndAllThreads();

  // ---- Observations -----------------------------------------------------
  uint32_t Now();
  bool Deadlocked();
  // Why the fake ended the run for exceeding a bound (see Bounds); nullopt
  // when it did not.
  std::optional<std::string> GaveUp();
  std::optional<uint32_t> ExitCode();
  // "Name" of every call, in order; "SetEvent n" for the n-th event created.
  std::vector<std::string> Calls();
  std::vector<MessageBoxRecord> MessageBoxes();
  std::vector<uint32_t> FormattedErrors();  // error codes FormatMessageA was asked about
  std::vector<SoundRecord> Sounds();
  std::vector<MoveRecord> Moves();
  std::vector<DrawRecord> Draws();
  WindowState Control(int controlId);  // 0: the dialog
  std::vector<std::pair<uint32_t, size_t>> GlobalAllocs();  // flags, bytes, in call order
  size_t LiveGlobalBlocks();
  size_t LiveLocalBlocks();
  size_t LiveThreads();
  std::vector<uint32_t> ThreadExitCodes();  // in creation order; 0xFFFFFFFF while running
  std::vector<int> ThreadPriorities();      // in creation order
  size_t EventsCreated();
  Hwnd DialogWindow() const { return DialogHandle(); }
  Hwnd ControlWindow(int controlId) const;

  // ---- Platform ----------------------------------------------------------
  Handle CreateEventA(bool manualReset, bool initialState) override;
  bool SetEvent(Handle event) override;
  bool ResetEvent(Handle event) override;
  uint32_t WaitForSingleObject(Handle object, uint32_t milliseconds) override;
  uint32_t WaitForMultipleObjects(uint32_t count, const Handle* objects, bool waitAll,
                                  uint32_t milliseconds) override;
  uint32_t MsgWaitForMultipleObjects(uint32_t count, const Handle* objects, bool waitAll,
                                     uint32_t milliseconds) override;
  bool CloseHandle(Handle object) override;

  Handle CreateThread(ThreadProc procedure, void* parameter, uint32_t* threadId) override;
  bool SetThreadPriority(Handle thread, int priority) override;
  bool GetExitCodeThread(Handle thread, uint32_t* exitCode) override;
  void Sleep(uint32_t milliseconds) override;

  uint32_t timeGetTime() override;

  bool PlaySoundA(const char* sound, Hinstance module, uint32_t flags) override;
  uint32_t SoundHeardTime(uint64_t, uint32_t released, uint32_t) override {
    return released + soundOutputDelay_;
  }

  Hrsrc FindResourceA(Hinstance module, const char* name, const char* type) override;
  uint32_t SizeofResource(Hinstance module, Hrsrc resource) override;
  Hglobal LoadResource(Hinstance module, Hrsrc resource) override;
  const void* LockResource(Hglobal loaded) override;

  Hglobal GlobalAlloc(uint32_t flags, size_t bytes) override;
  Hglobal GlobalFree(Hglobal block) override;

  intptr_t DialogBoxParamA(Hinstance instance, const char* templateName, Hwnd owner,
                           DialogProc procedure, intptr_t initParam) override;
  bool EndDialog(Hwnd dialog, intptr_t result) override;
  Hwnd GetDlgItem(Hwnd dialog, int controlId) override;
  bool MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint) override;
  bool SetWindowPos(Hwnd window, Hwnd insertAfter, int x, int y, int width, int height,
                    uint32_t flags) override;
  bool EnableWindow(Hwnd window, bool enable) override;
  bool SetWindowTextA(Hwnd window, const char* text) override;
  bool InvalidateRect(Hwnd window, const Rect* rect, bool erase) override;
  bool ShowWindow(Hwnd window, int command) override;
  bool UpdateWindow(Hwnd window) override;
  bool PostMessageA(Hwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  intptr_t SendMessageA(Hwnd window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam) override;
  Hicon LoadIconA(Hinstance instance, const char* name) override;
  Hwnd FindWindowA(const char* className, const char* windowName) override;
  bool SetForegroundWindow(Hwnd window) override;
  int GetSystemMetrics(int index) override;
  bool GetWindowRect(Hwnd window, Rect* rect) override;
  bool GetClientRect(Hwnd window, Rect* rect) override;
  bool ClientToScreen(Hwnd window, Point* point) override;
  Hwnd GetDesktopWindow() override;

  Hdc GetDC(Hwnd window) override;
  int ReleaseDC(Hwnd window, Hdc dc) override;
  Hpalette CreateHalftonePalette(Hdc dc) override;
  Hpalette SelectPalette(Hdc dc, Hpalette palette, bool forceBackground) override;
  uint32_t RealizePalette(Hdc dc) override;
  bool DeleteObject(Hpalette palette) override;

  Hdrawdib DrawDibOpen() override;
  bool DrawDibClose(Hdrawdib drawDib) override;
  bool DrawDibBegin(Hdrawdib drawDib, Hdc dc, int destWidth, int destHeight,
                    const BitmapInfoHeader* format, int sourceWidth, int sourceHeight,
                    uint32_t flags) override;
  uint32_t DrawDibRealize(Hdrawdib drawDib, Hdc dc, bool background) override;
  bool DrawDibDraw(Hdrawdib drawDib, Hdc dc, int destX, int destY, int destWidth, int destHeight,
                   const BitmapInfoHeader* format, const void* bits, int sourceX, int sourceY,
                   int sourceWidth, int sourceHeight, uint32_t flags) override;

  int MessageBoxA(Hwnd owner, const char* text, const char* caption, uint32_t type) override;
  uint32_t FormatMessageA(uint32_t flags, const void* source, uint32_t messageId,
                          uint32_t languageId, char* buffer, uint32_t size) override;
  uint32_t GetLastError() override;
  Hlocal LocalFree(Hlocal memory) override;
  [[noreturn]] void ExitProcess(uint32_t exitCode) override;

  // The dialog's and the desktop's fixed handles.
  static constexpr uintptr_t kDialogHandle = 0x10000;
  static constexpr uintptr_t kDesktopHandle = 0x20000;
  static constexpr int kCaptionHeight = 22;  // client top below the window top
  static constexpr int kFrameWidth = 3;      // client left beside the window left

 private:
  struct KernelObject;
  struct Participant;
  struct Resource;
  struct PostedMessage {
    Hwnd window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  struct SentCall {
    std::function<void()> work;
    bool done = false;
  };
  using Lock = std::unique_lock<std::mutex>;

  static Hwnd DialogHandle() { return reinterpret_cast<Hwnd>(kDialogHandle); }
  int ControlIdOf(Hwnd window) const;  // -1: not ours
  KernelObject* ObjectOf(Handle handle);
  Participant* Self();
  // Blocks the calling thread until ready() holds (true) or the virtual
  // deadline passes (false); drives the clock and the idle actions.
  // servesSent: the window thread waits where it serves the calls other threads send it.
  bool Block(Lock& lock, const std::function<bool()>& ready, std::optional<uint32_t> deadline,
             bool servesSent = false);
  bool EveryoneBlocked();
  // After any change of state (under the lock): wakes the blocked threads that can now go
  // on, every one once the run ends, and one to move the clock when no thread is left
  // running. Waking every thread at each change cost a round of context switches for each
  // virtual millisecond of a paced playback.
  void Changed();
  // Waits until every thread the player made has ended, but one running on `caller`.
  void WaitForThreadsBut(std::thread::id caller);
  bool Advance(Lock& lock);
  void RunAction(Lock& lock, std::function<void()> action);
  void CheckAlive();
  [[noreturn]] void GiveUp(std::string reason);
  void Record(const char* name);
  uint32_t WaitFor(uint32_t count, const Handle* objects, bool waitAll, uint32_t milliseconds,
                   bool serveSent);
  bool Satisfied(uint32_t count, const Handle* objects, bool waitAll, uint32_t* index);
  // Runs work on the window thread (at once when called there).
  void OnWindowThread(Lock& lock, std::function<void()> work);
  void ServeSent(Lock& lock);
  void DispatchPosted(Lock& lock);
  intptr_t CallProcedure(Lock& lock, uint32_t message, uintptr_t wParam, intptr_t lParam);

  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t now_;
  const uint32_t start_;
  std::optional<std::string> gaveUp_;
  uint32_t messageBoxHold_ = 0;
  bool exiting_ = false;
  bool deadlocked_ = false;
  bool advancing_ = false;
  std::optional<uint32_t> exitCode_;

  std::vector<std::unique_ptr<KernelObject>> objects_;
  std::map<std::thread::id, std::unique_ptr<Participant>> participants_;
  std::deque<std::function<void()>> idleActions_;
  std::vector<std::pair<uint32_t, std::function<void()>>> timedActions_;
  std::map<int, std::function<void()>> drawActions_;
  std::function<void()> beforeMemorySound_;

  std::map<std::pair<std::string, std::string>, std::unique_ptr<Resource>> resources_;
  std::set<std::string> failFind_, failLoad_, failLock_;
  std::set<int> failAllocCalls_, failThreadCalls_;
  int allocCalls_ = 0;
  int threadCalls_ = 0;
  bool failGetDC_ = false;
  std::atomic<uint32_t> soundOutputDelay_{0};
  std::optional<std::string> systemText_ = std::string("The operation completed successfully.\r\n");
  uint32_t lastError_ = 0;
  bool runningInstance_ = false;
  uint32_t realizeResult_ = 0;
  bool hashImages_ = true;

  std::map<void*, size_t> globalBlocks_;
  std::vector<std::pair<uint32_t, size_t>> globalAllocs_;
  std::set<void*> localBlocks_;
  size_t eventsCreated_ = 0;

  // The window.
  DialogProc procedure_ = nullptr;
  std::optional<std::thread::id> windowThread_;
  bool dialogEnded_ = false;
  intptr_t dialogResult_ = 0;
  bool invalid_ = false;
  std::map<int, WindowState> windows_;
  std::deque<PostedMessage> posted_;
  std::deque<SentCall*> sent_;

  // Sound: a stop bumps the generation; a synchronous sound ends when it changes.
  uint64_t soundGeneration_ = 0;

  std::vector<std::string> calls_;
  std::vector<MessageBoxRecord> messageBoxes_;
  std::vector<uint32_t> formattedErrors_;
  std::vector<SoundRecord> sounds_;
  std::vector<MoveRecord> moves_;
  std::vector<DrawRecord> draws_;
};

}  // namespace clipnote::testing
