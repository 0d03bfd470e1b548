// Prints the texts of a dialog window's controls, one a line, so a test can read
// what a message box says: finds the dialog by its title, as post_wm_close does.
//
//   window_texts.exe "window title"
// Exit code 0 when the dialog was found, 1 when no such window exists.
#include <windows.h>

#include <cstdio>

namespace {

BOOL CALLBACK PrintText(HWND control, LPARAM) {
  char text[1024];
  if (GetWindowTextA(control, text, sizeof text) > 0) std::printf("%s\n", text);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_texts.exe \"window title\"\n");
    return 2;
  }
  // 0x8002 is the atom of the system dialog class, which message boxes use.
  HWND window = FindWindowA(MAKEINTATOM(0x8002), argv[1]);
  if (window == nullptr) {
    std::fprintf(stderr, "window_texts: no dialog window titled \"%s\"\n", argv[1]);
    return 1;
  }
  EnumChildWindows(window, PrintText, 0);
  return 0;
}
