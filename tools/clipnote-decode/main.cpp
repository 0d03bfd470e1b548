#include <cstdio>
#include <cstring>

#include "tools/clipnote-decode/commands.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage:\n"
               "  clipnote-decode video IN.263 OUT.y4m|OUT.yuv [--verbose]\n"
               "  clipnote-decode audio IN.723 OUT.wav [--voice]\n"
               "  clipnote-decode bench video|audio FILE [--repeat N]\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage();
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "video") == 0) return RunVideoCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "audio") == 0) return RunAudioCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "bench") == 0) return RunBenchCommand(argc - 1, argv + 1);
  PrintUsage();
  return 2;
}
