#pragma once

// The one door through which the player reaches the operating system.
//
// Every operation is named after the Win32 service it stands for and takes the
// same arguments in the same order (minus those the player always passes as
// null, noted per operation), so the Win32 backend is a thin 1:1 mapping and
// every other backend (GTK, the fake used in tests) re-implements the same
// contract. The contract of each operation is what the player relies on; a
// backend may do more, never less.
//
// This header must stay free of <windows.h>: handles are opaque pointer types
// and the constants below carry the Win32 values, so a backend on Windows can
// pass them straight through.

#include <cstddef>
#include <cstdint>

namespace clipnote {

// ---------------------------------------------------------------------------
// Opaque handles. Null (nullptr) is "no object" everywhere, as in Win32.

using Handle = struct OpaqueKernelObject*;     // HANDLE: events and threads
using Hinstance = struct OpaqueInstance*;      // HINSTANCE / HMODULE
using Hwnd = struct OpaqueWindow*;             // HWND
using Hdc = struct OpaqueDeviceContext*;       // HDC
using Hpalette = struct OpaquePalette*;        // HPALETTE
using Hicon = struct OpaqueIcon*;              // HICON
using Hrsrc = struct OpaqueResourceInfo*;      // HRSRC (from FindResourceA)
using Hglobal = void*;                         // HGLOBAL (memory and loaded resources)
using Hlocal = void*;                          // HLOCAL (FormatMessageA's buffer)
using Hdrawdib = struct OpaqueDrawDib*;        // HDRAWDIB

// Same layout as the Win32 RECT, POINT and BITMAPINFOHEADER.
struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

struct Point {
  int32_t x = 0;
  int32_t y = 0;
};

struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // positive: rows stored bottom-up
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// A thread's body: one pointer argument, a 32-bit exit code. Threads end by
// returning from it (there is no ExitThread: an abort is carried back up as a
// result).
using ThreadProc = uint32_t (*)(void* parameter);

// A dialog procedure: window, message, wParam, lParam; returns TRUE (1) when it
// handled the message in the dialog manager's sense, FALSE (0) otherwise.
using DialogProc = intptr_t (*)(Hwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// MAKEINTRESOURCEA / MAKEINTATOM: a small integer passed where a name is expected.
inline const char* MakeIntResource(uint16_t id) {
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(id));
}
inline bool IsIntResource(const char* name) {
  return (reinterpret_cast<uintptr_t>(name) >> 16) == 0;
}
inline uint16_t LowWord(uintptr_t value) { return static_cast<uint16_t>(value & 0xFFFF); }

// ---------------------------------------------------------------------------
// Constants, with their Win32 values.

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

inline constexpr int kThreadPriorityNormal = 0;
inline constexpr int kThreadPriorityAboveNormal = 1;

inline constexpr uint32_t kGmemFixed = 0x0000;
inline constexpr uint32_t kGmemZeroInit = 0x0040;

inline constexpr uint32_t kSndAsync = 0x0001;
inline constexpr uint32_t kSndMemory = 0x0004;
inline constexpr uint32_t kSndResource = 0x00040004;

inline constexpr uint32_t kMbIconError = 0x00000010;
inline constexpr uint32_t kMbIconWarning = 0x00000030;
inline constexpr uint32_t kMbSetForeground = 0x00010000;

inline constexpr uint32_t kFormatMessageAllocateBuffer = 0x00000100;
inline constexpr uint32_t kFormatMessageIgnoreInserts = 0x00000200;
inline constexpr uint32_t kFormatMessageFromSystem = 0x00001000;
inline constexpr uint32_t kLangNeutralSublangDefault = 0x0400;

inline constexpr uint32_t kWmPaint = 0x000F;
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmSetIcon = 0x0080;
inline constexpr uint32_t kWmInitDialog = 0x0110;
inline constexpr uint32_t kWmCommand = 0x0111;
inline constexpr uint32_t kWmQueryNewPalette = 0x030F;
inline constexpr uint32_t kWmPaletteChanged = 0x0311;
inline constexpr uintptr_t kIconSmall = 0;
inline constexpr uint16_t kIdCancel = 2;  // the command Escape sends to a dialog

inline constexpr uint16_t kDialogClassAtom = 0x8002;  // WC_DIALOG

inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;

inline constexpr uint32_t kSwpNoSize = 0x0001;
inline constexpr uint32_t kSwpNoZOrder = 0x0004;
inline constexpr uint32_t kSwpNoActivate = 0x0010;

inline constexpr int kSmCxBorder = 5;
inline constexpr int kSmCyBorder = 6;

inline constexpr uint32_t kBiRgb = 0;
inline constexpr uint32_t kDdfSameHdc = 0x0004;
inline constexpr uint32_t kDdfSameDraw = 0x0008;

// ---------------------------------------------------------------------------

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Kernel events -------------------------------------------------------
  // CreateEventA with default security and no name. A manual-reset event
  // stays set until ResetEvent; the player only uses manual-reset events.
  // Null on failure.
  virtual Handle CreateEventA(bool manualReset, bool initialState) = 0;
  virtual bool SetEvent(Handle event) = 0;
  virtual bool ResetEvent(Handle event) = 0;

  // Waits until the object is signalled (an event that is set, a thread that
  // has ended) or the time-out passes. A time-out of 0 is a poll; kInfinite
  // never times out. Returns kWaitObject0, kWaitTimeout or kWaitFailed.
  virtual uint32_t WaitForSingleObject(Handle object, uint32_t milliseconds) = 0;

  // Waits for any (waitAll false: result kWaitObject0 + index of a signalled
  // one) or all (waitAll true: result kWaitObject0) of up to 64 objects.
  virtual uint32_t WaitForMultipleObjects(uint32_t count, const Handle* objects, bool waitAll,
                                          uint32_t milliseconds) = 0;

  // The wait of a window thread. Same results as WaitForMultipleObjects, but
  // while it waits the calling thread keeps serving the calls that other
  // threads make into its windows (SetWindowTextA, EnableWindow, MoveWindow,
  // SendMessageA ... from another thread), so those never deadlock against
  // it. It dispatches nothing else: no posted messages, no input, so the
  // window procedure is not re-entered by a click or a posted close.
  // (Win32: a MsgWaitForMultipleObjects loop with QS_SENDMESSAGE that lets
  // PeekMessage deliver only sent messages.)
  virtual uint32_t MsgWaitForMultipleObjects(uint32_t count, const Handle* objects, bool waitAll,
                                             uint32_t milliseconds) = 0;

  // Releases a handle from CreateEventA or CreateThread.
  virtual bool CloseHandle(Handle object) = 0;

  // --- Threads -------------------------------------------------------------
  // CreateThread with default security and stack size, running at once.
  // Stores the thread id in *threadId when it is not null. Null on failure
  // (GetLastError then tells why). The handle is waitable: it is signalled
  // when the thread has returned from its procedure.
  virtual Handle CreateThread(ThreadProc procedure, void* parameter, uint32_t* threadId) = 0;
  virtual bool SetThreadPriority(Handle thread, int priority) = 0;
  // The code the thread returned; false while it is still running.
  virtual bool GetExitCodeThread(Handle thread, uint32_t* exitCode) = 0;
  // Suspends the calling thread for at least the given milliseconds.
  virtual void Sleep(uint32_t milliseconds) = 0;

  // --- Clock ---------------------------------------------------------------
  // Milliseconds as an unsigned 32-bit count that wraps; the only time source.
  virtual uint32_t timeGetTime() = 0;

  // --- Sound ---------------------------------------------------------------
  // sound null: stops any sound at once, also a synchronous one playing in
  // another thread (whose PlaySoundA call then returns).
  // kSndResource | kSndAsync: plays the "WAVE" resource named by sound (an id
  // through MakeIntResource) of module, asynchronously.
  // kSndMemory: sound points at a complete RIFF/WAVE image; without kSndAsync
  // the call returns when it has played out or been stopped, and at once when
  // the image holds no playable sound (then the result is false).
  virtual bool PlaySoundA(const char* sound, Hinstance module, uint32_t flags) = 0;
  // How many sound requests (PlaySoundA calls) have been made so far. Taken
  // just before a thread is released to ask for a synchronous sound, it names
  // that sound for SoundHeardTime: the first one asked for after this many.
  virtual uint64_t SoundRequestMark() { return 0; }
  // When the first synchronous kSndMemory sound that another thread asks for
  // after `mark` (from SoundRequestMark) reaches the listener, on the
  // timeGetTime clock; `released` is the time it was released at. Windows
  // offers no way to ask how far behind PlaySoundA's output is, so the answer
  // there is `released` itself: the sound is taken to start at once, as the
  // call promises. A backend that can tell waits until that sound has
  // started, at most timeoutMs, and answers `released` when none starts, it
  // cannot start, or a stop comes first.
  virtual uint32_t SoundHeardTime(uint64_t mark, uint32_t released, uint32_t timeoutMs) {
    (void)mark;
    (void)timeoutMs;
    return released;
  }

  // --- Resources -----------------------------------------------------------
  // Lookup in module (null: the executable itself) by name and type; numeric
  // types are written "#263". The locked bytes are read-only and stay valid for
  // the life of the process.
  virtual Hrsrc FindResourceA(Hinstance module, const char* name, const char* type) = 0;
  virtual uint32_t SizeofResource(Hinstance module, Hrsrc resource) = 0;
  virtual Hglobal LoadResource(Hinstance module, Hrsrc resource) = 0;
  virtual const void* LockResource(Hglobal loaded) = 0;

  // --- Memory --------------------------------------------------------------
  // kGmemFixed (uninitialised) or kGmemFixed | kGmemZeroInit (zero-filled);
  // the handle is the block's address. Null on failure. GlobalFree returns
  // null on success.
  virtual Hglobal GlobalAlloc(uint32_t flags, size_t bytes) = 0;
  virtual Hglobal GlobalFree(Hglobal block) = 0;

  // --- Windows and dialogs -------------------------------------------------
  // Runs a modal dialog from the named template on the calling thread (which
  // becomes the window thread): sends kWmInitDialog with initParam as lParam,
  // then serves the window's messages through procedure until EndDialog.
  // Posted kWmCommand / kWmClose messages and the calls of other threads
  // reach procedure on this thread. Returns EndDialog's result, -1 on failure.
  virtual intptr_t DialogBoxParamA(Hinstance instance, const char* templateName, Hwnd owner,
                                   DialogProc procedure, intptr_t initParam) = 0;
  virtual bool EndDialog(Hwnd dialog, intptr_t result) = 0;
  virtual Hwnd GetDlgItem(Hwnd dialog, int controlId) = 0;
  // The calls below may come from any thread; a call on a window of another
  // thread is carried out by that window's thread and returns when it has been.
  virtual bool MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint) = 0;
  virtual bool SetWindowPos(Hwnd window, Hwnd insertAfter, int x, int y, int width, int height,
                            uint32_t flags) = 0;
  virtual bool EnableWindow(Hwnd window, bool enable) = 0;
  virtual bool SetWindowTextA(Hwnd window, const char* text) = 0;
  // rect null: the whole client area.
  virtual bool InvalidateRect(Hwnd window, const Rect* rect, bool erase) = 0;
  virtual bool ShowWindow(Hwnd window, int command) = 0;
  virtual bool UpdateWindow(Hwnd window) = 0;
  // Queues a message for the window's thread and returns at once.
  virtual bool PostMessageA(Hwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  virtual intptr_t SendMessageA(Hwnd window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) = 0;
  virtual Hicon LoadIconA(Hinstance instance, const char* name) = 0;
  // className may be an atom through MakeIntResource (kDialogClassAtom). A
  // backend without window classes matches dialogs of this program by title,
  // also those of another running instance.
  virtual Hwnd FindWindowA(const char* className, const char* windowName) = 0;
  virtual bool SetForegroundWindow(Hwnd window) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual bool GetWindowRect(Hwnd window, Rect* rect) = 0;
  virtual bool GetClientRect(Hwnd window, Rect* rect) = 0;
  virtual bool ClientToScreen(Hwnd window, Point* point) = 0;
  virtual Hwnd GetDesktopWindow() = 0;

  // --- Drawing -------------------------------------------------------------
  virtual Hdc GetDC(Hwnd window) = 0;
  virtual int ReleaseDC(Hwnd window, Hdc dc) = 0;
  virtual Hpalette CreateHalftonePalette(Hdc dc) = 0;
  // Returns the palette it displaced.
  virtual Hpalette SelectPalette(Hdc dc, Hpalette palette, bool forceBackground) = 0;
  virtual uint32_t RealizePalette(Hdc dc) = 0;
  virtual bool DeleteObject(Hpalette palette) = 0;

  virtual Hdrawdib DrawDibOpen() = 0;
  virtual bool DrawDibClose(Hdrawdib drawDib) = 0;
  virtual bool DrawDibBegin(Hdrawdib drawDib, Hdc dc, int destWidth, int destHeight,
                            const BitmapInfoHeader* format, int sourceWidth, int sourceHeight,
                            uint32_t flags) = 0;
  // Nonzero when realising changed the palette mapping.
  virtual uint32_t DrawDibRealize(Hdrawdib drawDib, Hdc dc, bool background) = 0;
  // Draws a bottom-up BI_RGB image; a destination size of -1 x -1 draws it at
  // its own size with its top-left corner at (destX, destY) of the client area.
  virtual bool DrawDibDraw(Hdrawdib drawDib, Hdc dc, int destX, int destY, int destWidth,
                           int destHeight, const BitmapInfoHeader* format, const void* bits,
                           int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                           uint32_t flags) = 0;

  // --- Messages and errors -------------------------------------------------
  // A modal box that blocks the calling thread until dismissed; returns the
  // button pressed (0 on failure).
  virtual int MessageBoxA(Hwnd owner, const char* text, const char* caption, uint32_t type) = 0;

  // With kFormatMessageAllocateBuffer (the only form the player uses), buffer
  // is really a char** that receives a LocalAlloc'ed, NUL-terminated text,
  // to be released with LocalFree; size is then a minimum. No inserts are
  // passed. Returns the text's length without the NUL, 0 on failure (and then
  // stores nothing).
  virtual uint32_t FormatMessageA(uint32_t flags, const void* source, uint32_t messageId,
                                  uint32_t languageId, char* buffer, uint32_t size) = 0;
  // The calling thread's last error code.
  virtual uint32_t GetLastError() = 0;
  // Returns null on success.
  virtual Hlocal LocalFree(Hlocal memory) = 0;
  // Ends the process with the code; no exit handlers run. Never returns to
  // the caller (a test backend may unwind the calling thread instead).
  [[noreturn]] virtual void ExitProcess(uint32_t exitCode) = 0;
};

}  // namespace clipnote
