#pragma once

// The platform on Linux: GTK 3 windows, ALSA sound, and the C++ standard
// library for events, threads, the clock and sleeps. Resources are the ones
// compiled into the program (resources/embedded_resources.h), some of them
// taken over by replacements (program_resources.h).
//
// Build one GtkPlatform before anything uses it (the player is built on it
// during static initialisation) and keep it for the life of the process. The
// first thread that needs the display (for a message box or the window)
// opens it and is the window thread from then on.

#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/alsa_pcm_device.h"
#include "platform/gtk/kernel_objects.h"
#include "platform/gtk/native_windows.h"
#include "platform/gtk/program_resources.h"
#include "platform/gtk/sound_player.h"
#include "platform/gtk/window_thread_calls.h"
#include "platform/platform.h"
#include "resources/embedded_resources.h"

namespace clipnote::gtk {

class GtkPlatform final : public Platform {
 public:
  // Resources that take the place of the compiled-in ones of the same type and
  // name (a message given on the command line, a test's own clips); one with
  // null data stands for a resource the program does not carry. A player with
  // an instance key finds, as its running instance, only a window with the
  // same key: one per message. Without one it finds only windows without a key.
  explicit GtkPlatform(std::vector<EmbeddedResource> replacements = {},
                       std::string instanceKey = {});
  ~GtkPlatform() override;

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
  uint64_t SoundRequestMark() override;
  uint32_t SoundHeardTime(uint64_t mark, uint32_t released, uint32_t timeoutMs) override;

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
  bool DrawDibDraw(Hdrawdib drawDib, Hdc dc, int destX, int destY, int destWidth,
                   int destHeight, const BitmapInfoHeader* format, const void* bits,
                   int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                   uint32_t flags) override;

  int MessageBoxA(Hwnd owner, const char* text, const char* caption, uint32_t type) override;
  uint32_t FormatMessageA(uint32_t flags, const void* source, uint32_t messageId,
                          uint32_t languageId, char* buffer, uint32_t size) override;
  uint32_t GetLastError() override;
  Hlocal LocalFree(Hlocal memory) override;
  [[noreturn]] void ExitProcess(uint32_t exitCode) override;

 private:
  const EmbeddedResource* FindResource(const char* name, const char* type);

  ProgramResources resources_;
  KernelObjects kernel_;
  WindowThreadCalls calls_{kernel_};
  NativeWindows windows_;
  AlsaPcmDevice pcm_;
  SoundPlayer sound_{pcm_};
};

}  // namespace clipnote::gtk
