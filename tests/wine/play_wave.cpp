// Plays a WAVE file through the Windows sound service and returns when it has
// played out, so the tests can check what reaches the sound device.
//
//   play_wave.exe <file.wav>
// Exit code 0 when the sound played, 1 when PlaySoundA refused it.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: play_wave.exe <file.wav>\n");
    return 2;
  }
  if (!PlaySoundA(argv[1], nullptr, SND_FILENAME | SND_SYNC | SND_NODEFAULT)) {
    std::fprintf(stderr, "play_wave: PlaySoundA could not play %s\n", argv[1]);
    return 1;
  }
  return 0;
}
