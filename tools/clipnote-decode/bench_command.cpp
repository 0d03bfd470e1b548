#include <cstdio>

#include "tools/clipnote-decode/commands.h"

int RunBenchCommand(int, char**) {
  std::fprintf(stderr, "clipnote-decode: the bench command is not built yet\n");
  return 2;
}
