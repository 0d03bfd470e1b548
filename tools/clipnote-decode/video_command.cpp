#include <cstdio>

#include "tools/clipnote-decode/commands.h"

int RunVideoCommand(int, char**) {
  std::fprintf(stderr, "clipnote-decode: the video command is not built yet\n");
  return 2;
}
