// Plays a WAVE file through the Windows sound service from memory, as the
// player plays its speech (SND_MEMORY, synchronously), and returns when it has
// played out, so the tests can check what reaches the sound device.
//
//   play_wave.exe <file.wav>
// Exit code 0 when the sound played, 1 when PlaySoundA refused it, 2 when the
// file cannot be read.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: play_wave.exe <file.wav>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<char> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.good() && !in.eof()) {
    std::fprintf(stderr, "play_wave: cannot read %s\n", argv[1]);
    return 2;
  }
  if (image.empty() || !PlaySoundA(image.data(), nullptr, SND_MEMORY | SND_SYNC | SND_NODEFAULT)) {
    std::fprintf(stderr, "play_wave: PlaySoundA could not play %s\n", argv[1]);
    return 1;
  }
  return 0;
}
