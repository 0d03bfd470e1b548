// Asks a running player to close, as a click on its close box would: finds the
// dialog window by its title and posts WM_CLOSE to it.
//
//   post_wm_close.exe ["window title"]
// Exit code 0 when the message was posted, 1 when no such window exists, 2 when
// posting failed.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  const char* title = argc > 1 ? argv[1] : "Tarvany Clipnote Player";
  // 0x8002 is the atom of the system dialog class, which the player's window uses.
  HWND window = FindWindowA(MAKEINTATOM(0x8002), title);
  if (window == nullptr) {
    std::fprintf(stderr, "post_wm_close: no dialog window titled \"%s\"\n", title);
    return 1;
  }
  if (!PostMessageA(window, WM_CLOSE, 0, 0)) {
    std::fprintf(stderr, "post_wm_close: PostMessageA failed, error %lu\n", GetLastError());
    return 2;
  }
  return 0;
}
