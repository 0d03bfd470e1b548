#include "platform/gtk/gtk_platform.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/gtk/dialog_template.h"
#include "platform/gtk/millisecond_clock.h"
#include "platform/gtk/wave_image.h"

namespace clipnote::gtk {

namespace {

// What GetDC hands out: the window's picture layer, which DrawDibDraw paints.
struct DeviceContext {
  Hwnd window;
  std::shared_ptr<PictureLayer> layer;
};

// Palettes and DrawDib handles carry no state on a true-colour display; these
// stand for them so that callers get the non-null handles they expect.
struct Token {
  int unused = 0;
};
Token halftonePalette;
Token defaultPalette;
Token drawDibToken;

constexpr int kSmCxScreen = 0;
constexpr int kSmCyScreen = 1;

ResourceKey KeyOf(const char* text) {
  if (IsIntResource(text)) return ResourceKey(static_cast<int>(reinterpret_cast<uintptr_t>(text)));
  return ResourceKey(text);
}

}  // namespace

GtkPlatform::GtkPlatform(std::vector<EmbeddedResource> replacements, std::string instanceKey)
    : resources_(std::move(replacements)), windows_(calls_, resources_, std::move(instanceKey)) {}

GtkPlatform::~GtkPlatform() = default;

// --- Kernel events and threads ---------------------------------------------------

Handle GtkPlatform::CreateEventA(bool manualReset, bool initialState) {
  return kernel_.CreateEvent(manualReset, initialState);
}
bool GtkPlatform::SetEvent(Handle event) { return kernel_.SetEvent(event); }
bool GtkPlatform::ResetEvent(Handle event) { return kernel_.ResetEvent(event); }

uint32_t GtkPlatform::WaitForSingleObject(Handle object, uint32_t milliseconds) {
  return kernel_.Wait(1, &object, true, milliseconds);
}

uint32_t GtkPlatform::WaitForMultipleObjects(uint32_t count, const Handle* objects, bool waitAll,
                                             uint32_t milliseconds) {
  return kernel_.Wait(count, objects, waitAll, milliseconds);
}

uint32_t GtkPlatform::MsgWaitForMultipleObjects(uint32_t count, const Handle* objects,
                                                bool waitAll, uint32_t milliseconds) {
  return calls_.WaitServing(count, objects, waitAll, milliseconds);
}

bool GtkPlatform::CloseHandle(Handle object) { return kernel_.CloseHandle(object); }

Handle GtkPlatform::CreateThread(ThreadProc procedure, void* parameter, uint32_t* threadId) {
  return kernel_.CreateThread(procedure, parameter, threadId);
}

bool GtkPlatform::SetThreadPriority(Handle thread, int) {
  // Raising a thread above its process needs privileges a desktop program
  // does not have; the player's threads run at the normal level, which on a
  // machine of today leaves them all the time they need.
  return kernel_.IsThread(thread);
}

bool GtkPlatform::GetExitCodeThread(Handle thread, uint32_t* exitCode) {
  return kernel_.GetExitCodeThread(thread, exitCode);
}

void GtkPlatform::Sleep(uint32_t milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t GtkPlatform::timeGetTime() { return MillisecondClock(); }

// --- Sound -----------------------------------------------------------------------

bool GtkPlatform::PlaySoundA(const char* sound, Hinstance, uint32_t flags) {
  if (sound == nullptr) {
    sound_.Stop();
    return true;
  }
  std::optional<WaveSound> wave;
  if ((flags & kSndResource) == kSndResource) {
    if (const EmbeddedResource* found = FindResource(sound, "WAVE")) {
      wave = ReadWaveImage(found->data, found->size);
    }
  } else if ((flags & kSndMemory) != 0) {
    const auto* image = reinterpret_cast<const uint8_t*>(sound);
    wave = ReadWaveImage(image, StatedWaveImageSize(image));
  }
  // Sounds named by file or by alias are not something this program carries.
  if (!wave) {
    errno = ENOENT;
    return false;
  }
  return sound_.Play(*wave, (flags & kSndAsync) != 0);
}

uint64_t GtkPlatform::SoundRequestMark() { return sound_.RequestCount(); }

uint32_t GtkPlatform::SoundHeardTime(uint64_t mark, uint32_t released, uint32_t timeoutMs) {
  return sound_.HeardTime(mark, released, timeoutMs);
}

// --- Resources and memory ----------------------------------------------------------

const EmbeddedResource* GtkPlatform::FindResource(const char* name, const char* type) {
  if (name == nullptr || type == nullptr) return nullptr;
  return resources_.Find(KeyOf(type), KeyOf(name));
}

Hrsrc GtkPlatform::FindResourceA(Hinstance, const char* name, const char* type) {
  const EmbeddedResource* found = FindResource(name, type);
  if (found == nullptr) errno = ENOENT;
  return reinterpret_cast<Hrsrc>(const_cast<EmbeddedResource*>(found));
}

uint32_t GtkPlatform::SizeofResource(Hinstance, Hrsrc resource) {
  if (resource == nullptr) return 0;
  return static_cast<uint32_t>(reinterpret_cast<const EmbeddedResource*>(resource)->size);
}

Hglobal GtkPlatform::LoadResource(Hinstance, Hrsrc resource) { return resource; }

const void* GtkPlatform::LockResource(Hglobal loaded) {
  if (loaded == nullptr) return nullptr;
  return static_cast<const EmbeddedResource*>(loaded)->data;
}

Hglobal GtkPlatform::GlobalAlloc(uint32_t flags, size_t bytes) {
  // A block of no bytes is still a block, as on Windows.
  const size_t size = bytes == 0 ? 1 : bytes;
  void* block = (flags & kGmemZeroInit) ? std::calloc(1, size) : std::malloc(size);
  if (block == nullptr) errno = ENOMEM;
  return block;
}

Hglobal GtkPlatform::GlobalFree(Hglobal block) {
  std::free(block);
  return nullptr;
}

// --- Windows -----------------------------------------------------------------------

intptr_t GtkPlatform::DialogBoxParamA(Hinstance, const char* templateName, Hwnd,
                                      DialogProc procedure, intptr_t initParam) {
  const EmbeddedResource* found =
      templateName ? resources_.Find(kResourceTypeDialog, KeyOf(templateName)) : nullptr;
  std::optional<DialogTemplate> dialog;
  if (found != nullptr) dialog = ReadDialogTemplate(found->data, found->size);
  // A message's own template that cannot be read: the window is ours, rather than none.
  if (!dialog && templateName != nullptr) {
    found = FindEmbeddedResource(kResourceTypeDialog, KeyOf(templateName));
    if (found != nullptr) dialog = ReadDialogTemplate(found->data, found->size);
  }
  if (!dialog) {
    std::fprintf(stderr,
                 "clipnote: the window template \"%s\" is not compiled into this program "
                 "(the native build needs the mingw resource compiler, package "
                 "binutils-mingw-w64-i686).\n",
                 IsIntResource(templateName) ? "#" : templateName);
    errno = ENOENT;
    return -1;
  }
  // The calling thread is the window thread: it runs the dialog itself.
  return windows_.RunDialog(*dialog, procedure, initParam);
}

bool GtkPlatform::EndDialog(Hwnd dialog, intptr_t result) {
  bool done = false;
  calls_.Send([&] { done = windows_.EndDialog(dialog, result); });
  return done;
}

Hwnd GtkPlatform::GetDlgItem(Hwnd dialog, int controlId) {
  Hwnd control = nullptr;
  calls_.Send([&] { control = windows_.GetDlgItem(dialog, controlId); });
  return control;
}

bool GtkPlatform::MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint) {
  bool done = false;
  calls_.Send([&] { done = windows_.MoveWindow(window, x, y, width, height, repaint); });
  return done;
}

bool GtkPlatform::SetWindowPos(Hwnd window, Hwnd, int x, int y, int width, int height,
                               uint32_t flags) {
  bool done = false;
  calls_.Send([&] { done = windows_.SetWindowPos(window, x, y, width, height, flags); });
  return done;
}

bool GtkPlatform::EnableWindow(Hwnd window, bool enable) {
  bool done = false;
  calls_.Send([&] { done = windows_.EnableWindow(window, enable); });
  return done;
}

bool GtkPlatform::SetWindowTextA(Hwnd window, const char* text) {
  bool done = false;
  calls_.Send([&] { done = windows_.SetWindowText(window, text); });
  return done;
}

bool GtkPlatform::InvalidateRect(Hwnd window, const Rect* rect, bool erase) {
  bool done = false;
  calls_.Send([&] { done = windows_.InvalidateRect(window, rect, erase); });
  return done;
}

bool GtkPlatform::ShowWindow(Hwnd window, int command) {
  bool wasVisible = false;
  calls_.Send([&] { wasVisible = windows_.ShowWindow(window, command); });
  return wasVisible;
}

bool GtkPlatform::UpdateWindow(Hwnd window) {
  bool done = false;
  calls_.Send([&] { done = windows_.UpdateWindow(window); });
  return done;
}

bool GtkPlatform::PostMessageA(Hwnd window, uint32_t message, uintptr_t wParam,
                               intptr_t lParam) {
  if (window == nullptr) return false;
  // Checked for a live dialog when it is delivered, on the window thread.
  calls_.Post([this, window, message, wParam, lParam] {
    windows_.DeliverMessage(window, message, wParam, lParam, false);
  });
  return true;
}

intptr_t GtkPlatform::SendMessageA(Hwnd window, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam) {
  intptr_t result = 0;
  calls_.Send([&] { result = windows_.DeliverMessage(window, message, wParam, lParam, true); });
  return result;
}

Hicon GtkPlatform::LoadIconA(Hinstance, const char* name) {
  int id = 0;
  if (IsIntResource(name)) {
    id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
  } else if (name != nullptr && name[0] == '#') {
    id = std::atoi(name + 1);
  }
  if (id == 0) return nullptr;
  Hicon icon = nullptr;
  calls_.Send([&] { icon = windows_.LoadIcon(id); });
  return icon;
}

Hwnd GtkPlatform::FindWindowA(const char*, const char* windowName) {
  Hwnd found = nullptr;
  calls_.Send([&] { found = windows_.FindWindow(windowName); });
  return found;
}

bool GtkPlatform::SetForegroundWindow(Hwnd window) {
  bool done = false;
  calls_.Send([&] { done = windows_.SetForegroundWindow(window); });
  return done;
}

int GtkPlatform::GetSystemMetrics(int index) {
  if (index == kSmCxBorder || index == kSmCyBorder) return kBorderMetric;
  if (index == kSmCxScreen || index == kSmCyScreen) {
    Rect screen;
    calls_.Send([&] { windows_.GetWindowRect(windows_.GetDesktopWindow(), &screen); });
    return index == kSmCxScreen ? screen.right - screen.left : screen.bottom - screen.top;
  }
  return 0;
}

bool GtkPlatform::GetWindowRect(Hwnd window, Rect* rect) {
  bool done = false;
  calls_.Send([&] { done = windows_.GetWindowRect(window, rect); });
  return done;
}

bool GtkPlatform::GetClientRect(Hwnd window, Rect* rect) {
  bool done = false;
  calls_.Send([&] { done = windows_.GetClientRect(window, rect); });
  return done;
}

bool GtkPlatform::ClientToScreen(Hwnd window, Point* point) {
  bool done = false;
  calls_.Send([&] { done = windows_.ClientToScreen(window, point); });
  return done;
}

Hwnd GtkPlatform::GetDesktopWindow() { return windows_.GetDesktopWindow(); }

// --- Drawing -----------------------------------------------------------------------

Hdc GtkPlatform::GetDC(Hwnd window) {
  std::shared_ptr<PictureLayer> layer;
  calls_.Send([&] { layer = windows_.LayerOf(window); });
  if (layer == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  return reinterpret_cast<Hdc>(new DeviceContext{window, std::move(layer)});
}

int GtkPlatform::ReleaseDC(Hwnd, Hdc dc) {
  delete reinterpret_cast<DeviceContext*>(dc);
  return dc != nullptr ? 1 : 0;
}

Hpalette GtkPlatform::CreateHalftonePalette(Hdc) {
  return reinterpret_cast<Hpalette>(&halftonePalette);
}

Hpalette GtkPlatform::SelectPalette(Hdc dc, Hpalette palette, bool) {
  if (dc == nullptr || palette == nullptr) return nullptr;
  return reinterpret_cast<Hpalette>(&defaultPalette);
}

uint32_t GtkPlatform::RealizePalette(Hdc) { return 0; }

bool GtkPlatform::DeleteObject(Hpalette palette) { return palette != nullptr; }

Hdrawdib GtkPlatform::DrawDibOpen() { return reinterpret_cast<Hdrawdib>(&drawDibToken); }

bool GtkPlatform::DrawDibClose(Hdrawdib drawDib) { return drawDib != nullptr; }

bool GtkPlatform::DrawDibBegin(Hdrawdib drawDib, Hdc dc, int, int, const BitmapInfoHeader* format,
                               int, int, uint32_t) {
  return drawDib != nullptr && dc != nullptr && format != nullptr;
}

uint32_t GtkPlatform::DrawDibRealize(Hdrawdib, Hdc, bool) {
  // True colour: realising never changes any mapping.
  return 0;
}

bool GtkPlatform::DrawDibDraw(Hdrawdib drawDib, Hdc dc, int destX, int destY, int destWidth,
                              int destHeight, const BitmapInfoHeader* format, const void* bits,
                              int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                              uint32_t) {
  if (drawDib == nullptr || dc == nullptr || format == nullptr) return false;
  auto* context = reinterpret_cast<DeviceContext*>(dc);
  Rect dirty;
  if (!context->layer->Draw(destX, destY, destWidth, destHeight, *format, bits, sourceX, sourceY,
                            sourceWidth, sourceHeight, &dirty)) {
    return false;
  }
  // Any thread may draw; the window thread shows it at its next chance.
  if (dirty.right > dirty.left && dirty.bottom > dirty.top) {
    windows_.RequestRedraw(context->layer, dirty);
  }
  return true;
}

// --- Messages and errors -------------------------------------------------------------

int GtkPlatform::MessageBoxA(Hwnd owner, const char* text, const char* caption, uint32_t type) {
  int result = 0;
  // Before anything has opened the display, the calling thread opens it (a
  // box raised while the player is being built, before its window exists).
  calls_.Send([&] { result = windows_.MessageBox(owner, text, caption, type); });
  return result;
}

uint32_t GtkPlatform::FormatMessageA(uint32_t flags, const void*, uint32_t messageId, uint32_t,
                                     char* buffer, uint32_t size) {
  if ((flags & kFormatMessageFromSystem) == 0 || buffer == nullptr) {
    errno = EINVAL;
    return 0;
  }
  char text[256];
  const char* message = strerror_r(static_cast<int>(messageId), text, sizeof text);
  const size_t length = std::strlen(message);
  if (flags & kFormatMessageAllocateBuffer) {
    char* copy = static_cast<char*>(std::malloc(std::max<size_t>(length + 1, size)));
    if (copy == nullptr) {
      errno = ENOMEM;
      return 0;
    }
    std::memcpy(copy, message, length + 1);
    *reinterpret_cast<char**>(buffer) = copy;
    return static_cast<uint32_t>(length);
  }
  if (size <= length) {
    errno = ERANGE;
    return 0;
  }
  std::memcpy(buffer, message, length + 1);
  return static_cast<uint32_t>(length);
}

uint32_t GtkPlatform::GetLastError() { return static_cast<uint32_t>(errno); }

Hlocal GtkPlatform::LocalFree(Hlocal memory) {
  std::free(memory);
  return nullptr;
}

void GtkPlatform::ExitProcess(uint32_t exitCode) {
  std::fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}

}  // namespace clipnote::gtk
