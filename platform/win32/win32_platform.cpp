#include "platform/win32/win32_platform.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>
// clang-format on

#include <new>

namespace clipnote {

static_assert(sizeof(Rect) == sizeof(RECT));
static_assert(sizeof(Point) == sizeof(POINT));
static_assert(sizeof(BitmapInfoHeader) == sizeof(BITMAPINFOHEADER));
static_assert(kInfinite == INFINITE && kWaitObject0 == WAIT_OBJECT_0 &&
              kWaitTimeout == WAIT_TIMEOUT && kWaitFailed == WAIT_FAILED);
static_assert(kThreadPriorityAboveNormal == THREAD_PRIORITY_ABOVE_NORMAL);
static_assert(kGmemZeroInit == GMEM_ZEROINIT && kGmemFixed == GMEM_FIXED);
static_assert(kSndAsync == SND_ASYNC && kSndMemory == SND_MEMORY && kSndResource == SND_RESOURCE);
static_assert(kMbIconError == MB_ICONERROR && kMbIconWarning == MB_ICONWARNING &&
              kMbSetForeground == MB_SETFOREGROUND);
static_assert(kFormatMessageAllocateBuffer == FORMAT_MESSAGE_ALLOCATE_BUFFER &&
              kFormatMessageIgnoreInserts == FORMAT_MESSAGE_IGNORE_INSERTS &&
              kFormatMessageFromSystem == FORMAT_MESSAGE_FROM_SYSTEM &&
              kLangNeutralSublangDefault == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
static_assert(kWmPaint == WM_PAINT && kWmClose == WM_CLOSE && kWmSetIcon == WM_SETICON &&
              kWmInitDialog == WM_INITDIALOG && kWmCommand == WM_COMMAND &&
              kWmQueryNewPalette == WM_QUERYNEWPALETTE &&
              kWmPaletteChanged == WM_PALETTECHANGED && kIconSmall == ICON_SMALL);
static_assert(kSwHide == SW_HIDE && kSwShowNormal == SW_SHOWNORMAL);
static_assert(kSwpNoSize == SWP_NOSIZE && kSwpNoZOrder == SWP_NOZORDER &&
              kSwpNoActivate == SWP_NOACTIVATE);
static_assert(kSmCxBorder == SM_CXBORDER && kSmCyBorder == SM_CYBORDER);
static_assert(kBiRgb == BI_RGB && kDdfSameHdc == DDF_SAME_HDC && kDdfSameDraw == DDF_SAME_DRAW);

namespace {

template <typename To, typename From>
To As(From value) {
  return reinterpret_cast<To>(value);
}

HANDLE H(Handle handle) { return As<HANDLE>(handle); }
HWND W(Hwnd window) { return As<HWND>(window); }
HDC D(Hdc dc) { return As<HDC>(dc); }
HDRAWDIB DD(Hdrawdib drawDib) { return As<HDRAWDIB>(drawDib); }
HINSTANCE I(Hinstance instance) { return As<HINSTANCE>(instance); }
LPBITMAPINFOHEADER B(const BitmapInfoHeader* header) {
  return As<LPBITMAPINFOHEADER>(const_cast<BitmapInfoHeader*>(header));
}

// Win32 thread and dialog procedures use the system's calling convention;
// these trampolines carry the portable procedures across.
struct ThreadStart {
  ThreadProc procedure;
  void* parameter;
};

DWORD WINAPI ThreadTrampoline(LPVOID raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  return start.procedure(start.parameter);
}

DialogProc activeDialogProc = nullptr;  // one modal dialog at a time

INT_PTR CALLBACK DialogTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (activeDialogProc == nullptr) return FALSE;
  return activeDialogProc(As<Hwnd>(window), message, wParam, lParam);
}

// Delivers the messages that other threads have sent to this thread's
// windows, and nothing else.
void ServeSentMessages() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

uint32_t Remaining(DWORD deadline, uint32_t milliseconds) {
  if (milliseconds == INFINITE) return INFINITE;
  const auto left = static_cast<int32_t>(deadline - ::GetTickCount());
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

// Waits for one object (or any of several) while serving sent messages.
uint32_t WaitAnyServing(DWORD count, const HANDLE* objects, DWORD deadline,
                        uint32_t milliseconds) {
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjects(count, objects, FALSE,
                                                     Remaining(deadline, milliseconds),
                                                     QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0 + count) {
      ServeSentMessages();
      continue;
    }
    return result;
  }
}

}  // namespace

Handle Win32Platform::CreateEventA(bool manualReset, bool initialState) {
  return As<Handle>(::CreateEventA(nullptr, manualReset, initialState, nullptr));
}
bool Win32Platform::SetEvent(Handle event) { return ::SetEvent(H(event)); }
bool Win32Platform::ResetEvent(Handle event) { return ::ResetEvent(H(event)); }
uint32_t Win32Platform::WaitForSingleObject(Handle object, uint32_t milliseconds) {
  return ::WaitForSingleObject(H(object), milliseconds);
}
uint32_t Win32Platform::WaitForMultipleObjects(uint32_t count, const Handle* objects,
                                               bool waitAll, uint32_t milliseconds) {
  return ::WaitForMultipleObjects(count, As<const HANDLE*>(objects), waitAll, milliseconds);
}

uint32_t Win32Platform::MsgWaitForMultipleObjects(uint32_t count, const Handle* objects,
                                                  bool waitAll, uint32_t milliseconds) {
  const auto* handles = As<const HANDLE*>(objects);
  const DWORD deadline = ::GetTickCount() + milliseconds;
  if (!waitAll || count <= 1) return WaitAnyServing(count, handles, deadline, milliseconds);
  // Waiting for all of them together would also wait for a message; the
  // objects are waited for one after the other instead (the player's are
  // manual-reset events and threads, which stay signalled).
  for (DWORD i = 0; i < count; ++i) {
    const uint32_t result = WaitAnyServing(1, &handles[i], deadline, milliseconds);
    if (result != WAIT_OBJECT_0) return result;
  }
  return WAIT_OBJECT_0;
}

bool Win32Platform::CloseHandle(Handle object) { return ::CloseHandle(H(object)); }

Handle Win32Platform::CreateThread(ThreadProc procedure, void* parameter, uint32_t* threadId) {
  auto* start = new (std::nothrow) ThreadStart{procedure, parameter};
  if (start == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, ThreadTrampoline, start, 0, &id);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  if (threadId != nullptr) *threadId = id;
  return As<Handle>(thread);
}
bool Win32Platform::SetThreadPriority(Handle thread, int priority) {
  return ::SetThreadPriority(H(thread), priority);
}
bool Win32Platform::GetExitCodeThread(Handle thread, uint32_t* exitCode) {
  DWORD code = 0;
  if (!::GetExitCodeThread(H(thread), &code) || code == STILL_ACTIVE) return false;
  *exitCode = code;
  return true;
}
void Win32Platform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t Win32Platform::timeGetTime() { return ::timeGetTime(); }

bool Win32Platform::PlaySoundA(const char* sound, Hinstance module, uint32_t flags) {
  return ::PlaySoundA(sound, As<HMODULE>(module), flags);
}

Hrsrc Win32Platform::FindResourceA(Hinstance module, const char* name, const char* type) {
  return As<Hrsrc>(::FindResourceA(As<HMODULE>(module), name, type));
}
uint32_t Win32Platform::SizeofResource(Hinstance module, Hrsrc resource) {
  return ::SizeofResource(As<HMODULE>(module), As<HRSRC>(resource));
}
Hglobal Win32Platform::LoadResource(Hinstance module, Hrsrc resource) {
  return ::LoadResource(As<HMODULE>(module), As<HRSRC>(resource));
}
const void* Win32Platform::LockResource(Hglobal loaded) { return ::LockResource(loaded); }

Hglobal Win32Platform::GlobalAlloc(uint32_t flags, size_t bytes) {
  return ::GlobalAlloc(flags, bytes);
}
Hglobal Win32Platform::GlobalFree(Hglobal block) { return ::GlobalFree(block); }

intptr_t Win32Platform::DialogBoxParamA(Hinstance instance, const char* templateName, Hwnd owner,
                                        DialogProc procedure, intptr_t initParam) {
  activeDialogProc = procedure;
  const INT_PTR result =
      ::DialogBoxParamA(I(instance), templateName, W(owner), DialogTrampoline, initParam);
  activeDialogProc = nullptr;
  return result;
}
bool Win32Platform::EndDialog(Hwnd dialog, intptr_t result) {
  return ::EndDialog(W(dialog), result);
}
Hwnd Win32Platform::GetDlgItem(Hwnd dialog, int controlId) {
  return As<Hwnd>(::GetDlgItem(W(dialog), controlId));
}
bool Win32Platform::MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint) {
  return ::MoveWindow(W(window), x, y, width, height, repaint);
}
bool Win32Platform::SetWindowPos(Hwnd window, Hwnd insertAfter, int x, int y, int width,
                                 int height, uint32_t flags) {
  return ::SetWindowPos(W(window), W(insertAfter), x, y, width, height, flags);
}
bool Win32Platform::EnableWindow(Hwnd window, bool enable) {
  ::EnableWindow(W(window), enable);  // returns the previous state, not success
  return true;
}
bool Win32Platform::SetWindowTextA(Hwnd window, const char* text) {
  return ::SetWindowTextA(W(window), text);
}
bool Win32Platform::InvalidateRect(Hwnd window, const Rect* rect, bool erase) {
  return ::InvalidateRect(W(window), As<const RECT*>(rect), erase);
}
bool Win32Platform::ShowWindow(Hwnd window, int command) {
  return ::ShowWindow(W(window), command);
}
bool Win32Platform::UpdateWindow(Hwnd window) { return ::UpdateWindow(W(window)); }
bool Win32Platform::PostMessageA(Hwnd window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) {
  return ::PostMessageA(W(window), message, wParam, lParam);
}
intptr_t Win32Platform::SendMessageA(Hwnd window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam) {
  return ::SendMessageA(W(window), message, wParam, lParam);
}
Hicon Win32Platform::LoadIconA(Hinstance instance, const char* name) {
  return As<Hicon>(::LoadIconA(I(instance), name));
}
Hwnd Win32Platform::FindWindowA(const char* className, const char* windowName) {
  return As<Hwnd>(::FindWindowA(className, windowName));
}
bool Win32Platform::SetForegroundWindow(Hwnd window) {
  return ::SetForegroundWindow(W(window));
}
int Win32Platform::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }
bool Win32Platform::GetWindowRect(Hwnd window, Rect* rect) {
  return ::GetWindowRect(W(window), As<RECT*>(rect));
}
bool Win32Platform::GetClientRect(Hwnd window, Rect* rect) {
  return ::GetClientRect(W(window), As<RECT*>(rect));
}
bool Win32Platform::ClientToScreen(Hwnd window, Point* point) {
  return ::ClientToScreen(W(window), As<POINT*>(point));
}
Hwnd Win32Platform::GetDesktopWindow() { return As<Hwnd>(::GetDesktopWindow()); }

Hdc Win32Platform::GetDC(Hwnd window) { return As<Hdc>(::GetDC(W(window))); }
int Win32Platform::ReleaseDC(Hwnd window, Hdc dc) { return ::ReleaseDC(W(window), D(dc)); }
Hpalette Win32Platform::CreateHalftonePalette(Hdc dc) {
  return As<Hpalette>(::CreateHalftonePalette(D(dc)));
}
Hpalette Win32Platform::SelectPalette(Hdc dc, Hpalette palette, bool forceBackground) {
  return As<Hpalette>(::SelectPalette(D(dc), As<HPALETTE>(palette), forceBackground));
}
uint32_t Win32Platform::RealizePalette(Hdc dc) { return ::RealizePalette(D(dc)); }
bool Win32Platform::DeleteObject(Hpalette palette) {
  return ::DeleteObject(As<HGDIOBJ>(palette));
}

Hdrawdib Win32Platform::DrawDibOpen() { return As<Hdrawdib>(::DrawDibOpen()); }
bool Win32Platform::DrawDibClose(Hdrawdib drawDib) { return ::DrawDibClose(DD(drawDib)); }
bool Win32Platform::DrawDibBegin(Hdrawdib drawDib, Hdc dc, int destWidth, int destHeight,
                                 const BitmapInfoHeader* format, int sourceWidth,
                                 int sourceHeight, uint32_t flags) {
  return ::DrawDibBegin(DD(drawDib), D(dc), destWidth, destHeight, B(format), sourceWidth,
                        sourceHeight, flags);
}
uint32_t Win32Platform::DrawDibRealize(Hdrawdib drawDib, Hdc dc, bool background) {
  return ::DrawDibRealize(DD(drawDib), D(dc), background);
}
bool Win32Platform::DrawDibDraw(Hdrawdib drawDib, Hdc dc, int destX, int destY, int destWidth,
                                int destHeight, const BitmapInfoHeader* format, const void* bits,
                                int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                                uint32_t flags) {
  return ::DrawDibDraw(DD(drawDib), D(dc), destX, destY, destWidth, destHeight, B(format),
                       const_cast<void*>(bits), sourceX, sourceY, sourceWidth, sourceHeight,
                       flags);
}

int Win32Platform::MessageBoxA(Hwnd owner, const char* text, const char* caption,
                               uint32_t type) {
  return ::MessageBoxA(W(owner), text, caption, type);
}
uint32_t Win32Platform::FormatMessageA(uint32_t flags, const void* source, uint32_t messageId,
                                       uint32_t languageId, char* buffer, uint32_t size) {
  return ::FormatMessageA(flags, source, messageId, languageId, buffer, size, nullptr);
}
uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }
Hlocal Win32Platform::LocalFree(Hlocal memory) { return ::LocalFree(memory); }
void Win32Platform::ExitProcess(uint32_t exitCode) { ::ExitProcess(exitCode); }

}  // namespace clipnote
