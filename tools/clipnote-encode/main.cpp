#include <cstdio>
#include <cstring>

#include "tools/clipnote-decode/atomic_output.h"
#include "tools/clipnote-encode/commands.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage:\n"
               "  clipnote-encode speech IN.wav OUT.723 [--rate 6.3|5.3] [--no-silence] [--raw]\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage();
    return 2;
  }
  clipnote::tools::RemoveOutputsOnSignal("clipnote-encode");
  if (std::strcmp(argv[1], "speech") == 0) return RunSpeechCommand(argc - 1, argv + 1);
  PrintUsage();
  return 2;
}
