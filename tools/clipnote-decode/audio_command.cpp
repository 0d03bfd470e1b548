#include <cstdio>

#include "tools/clipnote-decode/commands.h"

int RunAudioCommand(int, char**) {
  std::fprintf(stderr, "clipnote-decode: the audio command is not built yet\n");
  return 2;
}
